#include "script/script_codec.h"

#include <algorithm>
#include <optional>

#include "platform/codepage.h"
#include "platform/files.h"
#include "script/crypt_file.h"

void EncodeByte(unsigned char& byte) {
    if (byte >= 0x21 && byte <= 0x65) {
        byte = static_cast<unsigned char>(byte + 0x1A);
    } else if (byte >= 0x66 && byte <= 0x7F) {
        byte = static_cast<unsigned char>(byte - 0x45);
    } else if (byte >= 0x81 && byte <= 0xF4) {
        byte = static_cast<unsigned char>(byte + 0x0B);
    } else if (byte >= 0xF5) {
        byte = static_cast<unsigned char>(byte - 0x74);
    }
}

bool EncodeLine(WStringView text, WString& stored) {
    stored.clear();
    // A line feed would split the line, and the reader stops at a zero byte.
    if (text.find(u'\n') != WStringView::npos || text.find(u'\0') != WStringView::npos) {
        return false;
    }
    const unsigned codePage = plat::AnsiCodePage();
    std::optional<std::string> narrow = plat::WideToMultiByteStrict(codePage, text);
    if (!narrow) return false;
    for (char& c : *narrow) {
        auto byte = static_cast<unsigned char>(c);
        EncodeByte(byte);
        c = static_cast<char>(byte);
    }
    std::optional<WString> wide = plat::MultiByteToWideStrict(codePage, *narrow);
    // The reader converts back with its own, lossy, rules: only its result counts.
    if (!wide || wide->find(u'\n') != WString::npos || DecodeLine(*wide) != text) return false;
    stored = std::move(*wide);
    return true;
}

bool EncodeScript(WStringView text, std::string& bytes, int& nBadLine) {
    bytes.clear();
    nBadLine = 0;
    std::string out;
    out.reserve(text.size() * 2 + 2);
    int number = 0;
    size_t start = 0;
    WString stored;
    while (start < text.size()) {
        size_t end = std::min(text.find(u'\n', start), text.size());
        ++number;
        if (!EncodeLine(text.substr(start, end - start), stored)) {
            nBadLine = number;
            return false;
        }
        stored.push_back(u'\n');
        for (char16_t unit : stored) {
            out.push_back(static_cast<char>(unit & 0xFF));
            out.push_back(static_cast<char>(unit >> 8));
        }
        start = end + 1;
    }
    bytes = std::move(out);
    return true;
}

bool WriteScriptFile(const WString& path, WStringView text, int& nBadLine,
                     plat::WriteOutcome* outcome) {
    std::string bytes;
    if (!EncodeScript(text, bytes, nBadLine)) return false;
    const plat::WriteOutcome result = plat::WriteFileThrough(path, bytes);
    if (outcome != nullptr) *outcome = result;
    return result == plat::WriteOutcome::kWritten;
}

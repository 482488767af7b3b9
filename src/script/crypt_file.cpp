#include "script/crypt_file.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/files.h"

void DecodeByte(unsigned char& byte) {
    if (byte >= 0x21 && byte <= 0x3A) {
        byte = static_cast<unsigned char>(byte + 0x45);
    } else if (byte >= 0x3B && byte <= 0x7F) {
        byte = static_cast<unsigned char>(byte - 0x1A);
    } else if (byte >= 0x81 && byte <= 0x8B) {
        byte = static_cast<unsigned char>(byte + 0x74);
    } else if (byte >= 0x8C) {
        byte = static_cast<unsigned char>(byte - 0x0B);
    }
}

WString DecodeLine(WStringView text) {
    WString decoded;
    // Every code page the program meets keeps 0x00-0x7F as ASCII, and the substitution
    // maps that range onto itself: such lines need no conversion at all.
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
        decoded.reserve(text.size());
        for (char16_t c : text) {
            if (c == 0) break;
            auto byte = static_cast<unsigned char>(c);
            DecodeByte(byte);
            decoded.push_back(byte);
        }
        return decoded;
    }
    const unsigned codePage = plat::AnsiCodePage();
    std::optional<std::string> narrow = plat::WideToMultiByte(codePage, text);
    if (!narrow) return decoded;
    std::string& bytes = *narrow;
    size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    for (char& c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        DecodeByte(byte);
        c = static_cast<char>(byte);
    }
    return plat::MultiByteToWide(codePage, bytes).value_or(WString());
}

namespace {

// The code unit at byte offset `at` of the file; the caller checks that two bytes remain.
char16_t UnitAt(const std::string& raw, size_t at) {
    return static_cast<char16_t>(static_cast<unsigned char>(raw[at]) |
                                 (static_cast<unsigned char>(raw[at + 1]) << 8));
}

// Code units from byte offset `from` up to the next line feed (not included) or the last
// whole unit; `next` receives the offset after the line feed.
WString RawLine(const std::string& raw, size_t from, size_t& next) {
    WString line;
    size_t at = from;
    while (at + 2 <= raw.size()) {
        char16_t unit = UnitAt(raw, at);
        at += 2;
        if (unit == u'\n') break;
        line.push_back(unit);
    }
    next = at;
    return line;
}

}  // namespace

bool CCryptFile::Open(const WString& path) {
    Close();
    std::string raw;
    // A pipe or a device named like a script would hang a silent run or fill its memory.
    if (!plat::ReadRegularFile(path, raw)) return false;
    OpenBytes(std::move(raw));
    return true;
}

void CCryptFile::OpenBytes(std::string raw) {
    Close();
    m_raw = std::move(raw);
    // A trailing odd byte cannot form a code unit; it is never read.
    size_t start = 0;
    while (start + 2 <= m_raw.size()) {
        size_t next = 0;
        m_lineStarts.push_back(static_cast<int64_t>(start));
        m_lines.push_back(DecodeLine(RawLine(m_raw, start, next)));
        start = next;
    }
    m_bOpen = true;
}

bool CCryptFile::Close() {
    bool wasOpen = m_bOpen;
    m_bOpen = false;
    m_raw.clear();
    m_raw.shrink_to_fit();
    m_lineStarts.clear();
    m_lines.clear();
    m_nPos = 0;
    m_nNextLine = 0;
    m_nLine = 0;
    return wasOpen;
}

bool CCryptFile::Seek(int64_t offset) {
    if (!m_bOpen || offset < 0) return false;
    m_nPos = offset;
    return true;
}

int64_t CCryptFile::LineStartingAt(int64_t offset) {
    const auto count = static_cast<int64_t>(m_lineStarts.size());
    if (m_nNextLine < count && m_lineStarts[m_nNextLine] == offset) return m_nNextLine;
    auto it = std::lower_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    if (it == m_lineStarts.end() || *it != offset) return -1;
    return it - m_lineStarts.begin();
}

bool CCryptFile::ReadString(WString& line) {
    line.clear();
    if (!m_bOpen || m_nPos < 0 || m_nPos > GetLength() - 2) return false;
    int64_t index = LineStartingAt(m_nPos);
    if (index < 0) {
        ReadUnaligned(line);
        return true;
    }
    line = m_lines[index];
    m_nNextLine = index + 1;
    m_nPos = m_nNextLine < static_cast<int64_t>(m_lineStarts.size()) ? m_lineStarts[m_nNextLine]
                                                                     : GetLength() & ~int64_t{1};
    m_nLine = static_cast<int>(index + 1);
    return true;
}

void CCryptFile::ReadUnaligned(WString& line) {
    // The line that holds the position counts as the one read.
    auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), m_nPos);
    m_nLine = static_cast<int>(it - m_lineStarts.begin());
    size_t next = 0;
    line = DecodeLine(RawLine(m_raw, static_cast<size_t>(m_nPos), next));
    m_nPos = static_cast<int64_t>(next);
    m_nNextLine = it - m_lineStarts.begin();
}

// Upgrade scripts by their text: the input is taken as UTF-8 script text, scrambled by the
// encoder as a script's author would, and read back. Lines the encoder accepts must come
// back exactly; then the readers must hold to fuzz::CheckScript. The fuzzer mutates tags
// and keys here directly, where the scrambling would hide them.
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "script/crypt_file.h"
#include "script/script_codec.h"
#include "script_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile scratch;
    const WString text = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string bytes;
    int badLine = 0;
    if (!EncodeScript(text, bytes, badLine)) {
        fuzz::Check(badLine > 0 && bytes.empty());
        return 0;
    }
    const WString& path =
        scratch.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

    std::vector<WString> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(u'\n', start);
        if (end == WString::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    CCryptFile file;
    fuzz::Check(file.Open(path));
    WString line;
    for (const WString& expected : lines) {
        fuzz::Check(file.ReadString(line));
        fuzz::Check(line == expected);
    }
    fuzz::Check(!file.ReadString(line) && line.empty());

    fuzz::CheckScript(path, bytes.size());
    return 0;
}

// Code-page conversions through glibc's iconv, which carries Windows' code page tables
// (CP936 is Windows' GBK mapping, CP1252 its Western one).
#include <errno.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/codepage.h"
#include "platform/codepage_backend.h"

namespace plat {
namespace {

constexpr unsigned kDefaultCodePage = 936;

// QUORVEL_CODEPAGE, or nothing when it is unset or empty.
std::optional<std::string> CodePageSetting() {
    const char* value = std::getenv("QUORVEL_CODEPAGE");
    if (value == nullptr || value[0] == '\0') return std::nullopt;
    return std::string(value);
}

// An unusable setting counts as none here; the programs refuse it at their start
// (AnsiCodePageSettingValid) before they convert anything.
unsigned EnvironmentCodePage() {
    static const unsigned codePage = [] {
        std::optional<std::string> setting = CodePageSetting();
        if (!setting) return kDefaultCodePage;
        return CodePageFromSetting(*setting).value_or(kDefaultCodePage);
    }();
    return codePage;
}

std::string IconvName(unsigned codePage) {
    switch (codePage) {
        case kCodePageUtf8:
            return "UTF-8";
        case 20127:
            return "ASCII";
        case 28591:
            return "ISO-8859-1";
        default:
            return "CP" + std::to_string(codePage);
    }
}

const char* Utf16Name() {
    const char16_t probe = 1;
    return *reinterpret_cast<const unsigned char*>(&probe) == 1 ? "UTF-16LE" : "UTF-16BE";
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

// Opening a converter costs more than converting a short line, so each thread keeps the
// converters it has used. Returns null when iconv does not know the code page.
iconv_t Converter(unsigned codePage, bool toWide) {
    thread_local std::map<std::pair<unsigned, bool>, IconvHandle> cache;
    auto key = std::make_pair(codePage, toWide);
    auto it = cache.find(key);
    if (it == cache.end()) {
        std::string name = IconvName(codePage);
        iconv_t cd =
            toWide ? iconv_open(Utf16Name(), name.c_str()) : iconv_open(name.c_str(), Utf16Name());
        if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
        it = cache.emplace(key, IconvHandle(cd)).first;
    }
    iconv(static_cast<iconv_t>(it->second.get()), nullptr, nullptr, nullptr, nullptr);
    return static_cast<iconv_t>(it->second.get());
}

// Every code page the program meets is ASCII-compatible; pure ASCII text needs no table.
bool IsAsciiCompatible(unsigned codePage) {
    return codePage == kCodePageUtf8 || codePage == 936 || codePage == 1252 || codePage == 20127 ||
           codePage == 28591 || (codePage >= 1250 && codePage <= 1258);
}

template <typename CharT>
bool AllAscii(const CharT* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<uint32_t>(static_cast<std::make_unsigned_t<CharT>>(p[i])) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Runs one iconv conversion over the whole input. On a character it cannot convert it
// either gives up (strict) or writes `replacement` and skips the offending input unit(s):
// `skip` tells how many input bytes make up the bad character at a given position.
template <typename SkipFn>
bool RunIconv(iconv_t cd, const char* in, size_t inLeft, std::string& out,
              const std::string& replacement, bool strict, SkipFn skip) {
    out.clear();
    out.resize(inLeft * 2 + 16);
    size_t used = 0;
    char* inPtr = const_cast<char*>(in);
    while (true) {
        char* outPtr = out.data() + used;
        size_t outLeft = out.size() - used;
        size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (result != static_cast<size_t>(-1)) {
            // Flush any shift state (none for the code pages we use, but it costs nothing).
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1) &&
                errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            used = out.size() - outLeft;
            break;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        if (errno != EILSEQ && errno != EINVAL) return false;
        if (strict) return false;
        size_t bad = std::min(inLeft, skip(inPtr, inLeft));
        inPtr += bad;
        inLeft -= bad;
        if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + 16);
        std::memcpy(out.data() + used, replacement.data(), replacement.size());
        used += replacement.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return true;
}

}  // namespace

namespace backend {

std::optional<std::string> ToMultiByte(unsigned codePage, WStringView text, bool strict) {
    if (IsAsciiCompatible(codePage) && AllAscii(text.data(), text.size())) {
        return std::string(text.begin(), text.end());
    }
    iconv_t cd = Converter(codePage, false);
    if (cd == nullptr) return std::nullopt;
    const std::string replacement = codePage == kCodePageUtf8 ? "\xEF\xBF\xBD" : "?";
    std::string out;
    // Like Windows, each UTF-16 unit that cannot be converted becomes one default
    // character (so a character outside the BMP gives two).
    auto skip = [](const char*, size_t) -> size_t { return 2; };
    if (!RunIconv(cd, reinterpret_cast<const char*>(text.data()), text.size() * 2, out, replacement,
                  strict, skip)) {
        return std::nullopt;
    }
    return out;
}

std::optional<WString> ToWide(unsigned codePage, std::string_view bytes, bool strict) {
    if (IsAsciiCompatible(codePage) && AllAscii(bytes.data(), bytes.size())) {
        return WString(bytes.begin(), bytes.end());
    }
    iconv_t cd = Converter(codePage, true);
    if (cd == nullptr) return std::nullopt;
    const char16_t replacementUnit = codePage == kCodePageUtf8 ? u'\xFFFD' : u'?';
    std::string replacement(reinterpret_cast<const char*>(&replacementUnit), 2);
    std::string out;
    auto skip = [](const char*, size_t) -> size_t { return 1; };
    if (!RunIconv(cd, bytes.data(), bytes.size(), out, replacement, strict, skip)) {
        return std::nullopt;
    }
    WString wide(out.size() / 2, u'\0');
    std::memcpy(wide.data(), out.data(), wide.size() * 2);
    return wide;
}

unsigned SystemAnsiCodePage() { return EnvironmentCodePage(); }

}  // namespace backend

bool AnsiCodePageSettingValid(std::string& setting) {
    std::optional<std::string> value = CodePageSetting();
    if (!value || CodePageFromSetting(*value)) return true;
    setting = *value;
    return false;
}
}  // namespace plat

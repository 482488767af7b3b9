#include "platform/codepage.h"

#include <atomic>

#include "platform/codepage_backend.h"

namespace plat {
namespace {
std::atomic<unsigned> g_testCodePage{0};
}  // namespace

unsigned AnsiCodePage() {
    unsigned forced = g_testCodePage.load(std::memory_order_relaxed);
    return forced != 0 ? forced : backend::SystemAnsiCodePage();
}

void SetAnsiCodePageForTesting(unsigned codePage) { g_testCodePage = codePage; }

std::optional<unsigned> CodePageFromSetting(std::string_view text) {
    // Digits only: "936x" or " 936" are typing mistakes, not 936.
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number == 0) return std::nullopt;
    // Every ANSI code page keeps ASCII: the readers rely on it (a line of ASCII needs no
    // conversion), and a code page without it (EBCDIC, UTF-16) is none.
    WString ascii;
    for (char16_t c = 1; c < 0x80; ++c)
        ascii.push_back(c);
    std::optional<std::string> narrow = backend::ToMultiByte(number, ascii, true);
    if (!narrow || *narrow != std::string(ascii.begin(), ascii.end())) return std::nullopt;
    std::optional<WString> wide = backend::ToWide(number, *narrow, true);
    if (!wide || *wide != ascii) return std::nullopt;
    // ... and must convert what is not ASCII at all, at least to its default character.
    if (!backend::ToMultiByte(number, u"\u4E2D", false)) return std::nullopt;
    return number;
}

std::optional<std::string> WideToMultiByte(unsigned codePage, WStringView text) {
    return backend::ToMultiByte(codePage, text, false);
}

std::optional<WString> MultiByteToWide(unsigned codePage, std::string_view bytes) {
    return backend::ToWide(codePage, bytes, false);
}

std::optional<std::string> WideToMultiByteStrict(unsigned codePage, WStringView text) {
    return backend::ToMultiByte(codePage, text, true);
}

std::optional<WString> MultiByteToWideStrict(unsigned codePage, std::string_view bytes) {
    return backend::ToWide(codePage, bytes, true);
}

}  // namespace plat

std::string ToUtf8(WStringView text) {
    return plat::WideToMultiByte(plat::kCodePageUtf8, text).value_or(std::string());
}

WString FromUtf8(const char* text) {
    if (text == nullptr) return WString();
    return FromUtf8(std::string_view(text));
}

WString FromUtf8(std::string_view text) {
    return plat::MultiByteToWide(plat::kCodePageUtf8, text).value_or(WString());
}

std::optional<std::string> ToAnsi(WStringView text) {
    return plat::WideToMultiByte(plat::AnsiCodePage(), text);
}

WString FromAnsi(std::string_view text) {
    return plat::MultiByteToWide(plat::AnsiCodePage(), text).value_or(WString());
}

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

// Code-page conversions through Windows' own tables (WideCharToMultiByte and
// MultiByteToWideChar), in the two-call pattern: ask for the size, then convert.
#include <windows.h>

#include <climits>

#include "platform/codepage.h"
#include "platform/codepage_backend.h"

namespace plat {
namespace {

// UTF-8 and UTF-7 take no best-fit or default-character options: the only strict flag
// they know is WC_ERR_INVALID_CHARS.
bool IsUtf(unsigned codePage) { return codePage == CP_UTF8 || codePage == CP_UTF7; }

}  // namespace

namespace backend {

std::optional<std::string> ToMultiByte(unsigned codePage, WStringView text, bool strict) {
    if (text.size() > INT_MAX / 4) return std::nullopt;
    // A conversion of nothing fails in Windows; an empty text is still valid when the code
    // page is.
    if (text.empty()) {
        if (!IsValidCodePage(codePage)) return std::nullopt;
        return std::string();
    }
    const wchar_t* in = reinterpret_cast<const wchar_t*>(text.data());
    const int inLength = static_cast<int>(text.size());
    DWORD flags = 0;
    if (strict) flags = IsUtf(codePage) ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = strict && !IsUtf(codePage) ? &usedDefault : nullptr;

    int size =
        WideCharToMultiByte(codePage, flags, in, inLength, nullptr, 0, nullptr, usedDefaultOut);
    if (size <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<size_t>(size), '\0');
    int written = WideCharToMultiByte(codePage, flags, in, inLength, out.data(), size, nullptr,
                                      usedDefaultOut);
    if (written != size || usedDefault) return std::nullopt;
    return out;
}

std::optional<WString> ToWide(unsigned codePage, std::string_view bytes, bool strict) {
    if (bytes.size() > INT_MAX) return std::nullopt;
    if (bytes.empty()) {
        if (!IsValidCodePage(codePage)) return std::nullopt;
        return WString();
    }
    const int inLength = static_cast<int>(bytes.size());
    const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    int size = MultiByteToWideChar(codePage, flags, bytes.data(), inLength, nullptr, 0);
    if (size <= 0) return std::nullopt;
    WString out(static_cast<size_t>(size), u'\0');
    int written = MultiByteToWideChar(codePage, flags, bytes.data(), inLength,
                                      reinterpret_cast<wchar_t*>(out.data()), size);
    if (written != size) return std::nullopt;
    return out;
}

// The number of the code page CP_THREAD_ACP stands for: the ANSI code page of the
// thread's locale, which is the system's unless the program changes its locale.
unsigned SystemAnsiCodePage() {
    CPINFOEXW info{};
    if (GetCPInfoExW(CP_THREAD_ACP, 0, &info)) return info.CodePage;
    return GetACP();
}

}  // namespace backend

// Windows' programs take the system's code page; QUORVEL_CODEPAGE means nothing here.
bool AnsiCodePageSettingValid(std::string& /*setting*/) { return true; }

}  // namespace plat

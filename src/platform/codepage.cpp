#include "platform/codepage.h"

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

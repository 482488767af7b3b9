// What each code-page backend provides; codepage.cpp builds the public interface on it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/wstr.h"

namespace plat::backend {

// The code page the platform itself names as the ANSI one.
unsigned SystemAnsiCodePage();
// Conversions; `strict` fails on any character that cannot be converted exactly instead
// of substituting the default character. Nothing when the code page is unusable.
std::optional<std::string> ToMultiByte(unsigned codePage, WStringView text, bool strict);
std::optional<WString> ToWide(unsigned codePage, std::string_view bytes, bool strict);

}  // namespace plat::backend

// The program's text type and the few string helpers that every layer needs.
//
// All text inside the program is UTF-16 (char16_t), as on Windows; conversions to
// 8-bit encodings happen only at the edges (SQLite, log files, update record, script
// bytes). Nothing here calls the operating system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using WString = std::u16string;
using WStringView = std::u16string_view;

namespace wstr {

// ASCII-only case mapping: the program compares keys and file names that are ASCII.
WString ToUpper(WStringView s);
bool EqualsNoCase(WStringView a, WStringView b);
bool StartsWith(WStringView s, WStringView prefix);
bool EndsWith(WStringView s, WStringView suffix);
bool Contains(WStringView s, WStringView part);

// Reads a decimal number the way _wtoi/atoi do: leading white space, an optional sign,
// digits up to the first other character; 0 when there are none. Saturates instead of
// overflowing.
int ToInt(WStringView s);
int ToInt(std::string_view s);

// Plain ASCII text to WString (for literals built at run time, numbers and the like).
WString FromAscii(std::string_view s);

// Formats an integer in decimal, zero-padded to at least `width` digits.
WString FromInt(long long value, int width = 0);

// Replaces every occurrence of `from` with `to`.
WString ReplaceAll(WStringView s, WStringView from, WStringView to);

}  // namespace wstr

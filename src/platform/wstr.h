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

// The upper case of one UTF-16 unit as Windows' file systems compare names (NTFS's upcase
// table): Unicode's simple upper case where it maps back to the unit, else the unit.
char16_t UpcaseUnit(char16_t c);
// Two file names in the order NTFS lists a folder: unit by unit after UpcaseUnit, by the
// units' values, a name before every longer one it begins. Negative, 0 or positive. The
// same on every system, so that "the first script" is the same file everywhere.
int CompareFileNames(WStringView a, WStringView b);
// Whether a file name matches a wildcard pattern as Windows matches a name itself (never
// through a short 8.3 name): "*" any run of units, "?" one unit, any other unit itself
// after UpcaseUnit.
bool MatchesWildcard(WStringView name, WStringView pattern);

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

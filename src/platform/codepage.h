// Conversions between the program's UTF-16 text and 8-bit encodings.
//
// Two 8-bit encodings matter: UTF-8, which SQLite takes, and the ANSI code page, in
// which log files, the update record and the script's scrambled bytes are written.
// On Windows the ANSI code page is the system's; elsewhere it is 936 (Simplified
// Chinese, as Windows maps it) unless the environment variable QUORVEL_CODEPAGE names
// another code page number.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/wstr.h"

namespace plat {

constexpr unsigned kCodePageUtf8 = 65001;

// The code page that stands for the thread's ANSI code page (CP_THREAD_ACP).
unsigned AnsiCodePage();

// Elsewhere than Windows the ANSI code page may be asked for with QUORVEL_CODEPAGE. True
// when that setting is usable: unset, empty, or the decimal number of a code page this
// system converts that keeps ASCII as it is, as every ANSI code page does. False, with the
// setting's text in `setting`, for anything else ("99999", "garbage", "936x"): the program
// must then stop before it reads or writes anything in a code page it was not given.
// Always true on Windows, where the code page is the system's.
bool AnsiCodePageSettingValid(std::string& setting);
// The code page a QUORVEL_CODEPAGE text asks for, when it is usable as above.
std::optional<unsigned> CodePageFromSetting(std::string_view text);

// Tests may fix the ANSI code page; 0 restores the platform's own choice.
void SetAnsiCodePageForTesting(unsigned codePage);

// UTF-16 to the code page, as WideCharToMultiByte with no flags does it: characters the
// code page cannot hold become its default character ("?"; U+FFFD for UTF-8). Returns
// nothing only when the code page itself is unusable.
std::optional<std::string> WideToMultiByte(unsigned codePage, WStringView text);

// The code page to UTF-16, as MultiByteToWideChar with no flags: byte sequences that are
// not valid in the code page become U+FFFD (UTF-8) or "?" (others). Returns nothing only
// when the code page itself is unusable.
std::optional<WString> MultiByteToWide(unsigned codePage, std::string_view bytes);

// Strict form: fails instead of substituting when any character cannot be converted.
// Used where a lossy result would be wrong (checking that a script line round-trips).
std::optional<std::string> WideToMultiByteStrict(unsigned codePage, WStringView text);
std::optional<WString> MultiByteToWideStrict(unsigned codePage, std::string_view bytes);

}  // namespace plat

// The shared conversions towards SQLite and the log.
std::string ToUtf8(WStringView text);
WString FromUtf8(const char* text);  // a null text gives an empty string
WString FromUtf8(std::string_view text);
// UTF-16 to the ANSI code page; nothing when the conversion fails.
std::optional<std::string> ToAnsi(WStringView text);
WString FromAnsi(std::string_view text);

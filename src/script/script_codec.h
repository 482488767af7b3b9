// Writing upgrade scripts: the inverse of the reader's descrambling.
//
// A script file is 16-bit little-endian text, with no byte order mark and a lone line
// feed after every line, each line stored scrambled (script/crypt_file.h). Scrambling
// goes through the ANSI code page just as descrambling does, and not every line survives
// the trip: in code page 936 the scrambled bytes of many Chinese characters are no valid
// double-byte sequence, and would read back as something else. The encoders below refuse
// such lines instead of writing a script that the migration would misread.
#pragma once

#include <string>

#include "platform/files.h"
#include "platform/wstr.h"

// Replaces a plain byte with its stored (scrambled) form; DecodeByte undoes it.
void EncodeByte(unsigned char& byte);

// The stored form of one line, under the current ANSI code page. False, with `stored`
// empty, when DecodeLine would not give `text` back exactly: a character the code page
// cannot hold, scrambled bytes it cannot read, a line feed or a U+0000 inside the line.
bool EncodeLine(WStringView text, WString& stored);

// The bytes of a script file holding `text`, whose lines are separated by line feeds
// (a final line feed ends the last line and adds no empty one; a carriage return is an
// ordinary character). Every line is written with a line feed after it. False when a
// line cannot be encoded: `nBadLine` then holds its 1-based number and `bytes` is empty.
bool EncodeScript(WStringView text, std::string& bytes, int& nBadLine);

// Encodes `text` and writes it to what `path` names (plat::WriteFileThrough: through
// links; a file is replaced only once the new one is complete, so a failure never leaves
// a partial script; a device or pipe is written in place). False when a line cannot be
// encoded (`nBadLine` > 0, nothing written) or the file cannot be written (`nBadLine` = 0;
// `outcome`, when given, says why).
bool WriteScriptFile(const WString& path, WStringView text, int& nBadLine,
                     plat::WriteOutcome* outcome = nullptr);

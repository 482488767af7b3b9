// The upgrade script's file layer: 16-bit little-endian text whose every line is stored
// scrambled by a fixed, keyless byte substitution, read back one descrambled line at a
// time.
//
// The scrambling works on the line's bytes in the ANSI code page: a line is converted to
// the code page, each byte is substituted, and the bytes are converted back. Within
// 0x21-0x7F a stored byte decodes to the byte 26 places lower and within 0x81-0xFF to the
// byte 11 places lower, each wrapping inside its range; every other byte stays as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wstr.h"

// Replaces a stored (scrambled) byte with the byte it stands for.
void DecodeByte(unsigned char& byte);

// The descrambled copy of one stored line, under the current ANSI code page. Bytes after
// the first zero byte of the line's narrow form are dropped. A line whose code units are
// all below U+0080 decodes the same under every code page.
WString DecodeLine(WStringView text);

// A script file opened read-only and held in memory, decoded once: the migration reads
// the same few thousand lines many times (every header key rescans from the top), so
// each line is descrambled at Open and every later read is a lookup.
//
// Positions are byte offsets into the file, as a file stream would report them, so a
// position taken with GetPosition and given back to Seek finds the same line again.
class CCryptFile {
public:
    CCryptFile() = default;
    CCryptFile(const CCryptFile&) = delete;
    CCryptFile& operator=(const CCryptFile&) = delete;

    // Reads the whole file at `path` (read-only, shared for reading; a missing file is
    // not created) and decodes its lines. Closes an open file first, even when this open
    // then fails. False when the file cannot be read or is no regular file (a pipe, a
    // device: never waited on); the object is then closed.
    bool Open(const WString& path);
    // The same with the file's bytes read already (by a tool that reads its input once).
    void OpenBytes(std::string raw);
    // True when a file was open and is now closed.
    bool Close();
    bool IsOpen() const { return m_bOpen; }

    // The next line, descrambled, without its line feed (a carriage return before it
    // stays). A last line without a line feed is still a line. False at the end of the
    // file or when nothing is open; `line` is then empty.
    bool ReadString(WString& line);

    // Byte offset of the next read.
    int64_t GetPosition() const { return m_nPos; }
    // Moves to a byte offset from the start of the file; an offset past the end reads as
    // the end. False for a negative offset or when nothing is open.
    bool Seek(int64_t offset);
    // Size of the file in bytes (0 when nothing is open).
    int64_t GetLength() const { return static_cast<int64_t>(m_raw.size()); }

    // 1-based number of the line that the last successful ReadString returned; 0 before
    // any. Seek leaves it alone.
    int GetLineNumber() const { return m_nLine; }
    // Number of lines in the file.
    int GetLineCount() const { return static_cast<int>(m_lineStarts.size()); }

private:
    // Index of the line that starts exactly at `offset`, or -1.
    int64_t LineStartingAt(int64_t offset);
    // Reads from an offset where no line starts (a Seek into the middle of a line).
    void ReadUnaligned(WString& line);

    bool m_bOpen = false;
    std::string m_raw;                  // the file's bytes
    std::vector<int64_t> m_lineStarts;  // byte offset of each line
    std::vector<WString> m_lines;       // each line, descrambled
    int64_t m_nPos = 0;
    int64_t m_nNextLine = 0;  // the line a sequential read expects next
    int m_nLine = 0;
};

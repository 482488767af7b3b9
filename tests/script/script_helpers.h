// Helpers shared by the script tests: raw 16-bit files and scripts from plain lines.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/wstr.h"
#include "script/script_codec.h"
#include "support/temp_dir.h"

// The bytes of `units` as 16-bit little-endian code units, written unchanged.
inline std::string Utf16Le(WStringView units) {
    std::string bytes;
    for (char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// Plain lines joined with line feeds, one after each line.
inline WString JoinLines(std::initializer_list<WStringView> lines) {
    WString text;
    for (WStringView line : lines) {
        text += line;
        text += u'\n';
    }
    return text;
}

// Writes a scrambled script of plain `text` at `path`.
inline void WriteScript(const WString& path, WStringView text) {
    int badLine = 0;
    ASSERT_TRUE(WriteScriptFile(path, text, badLine)) << "line " << badLine;
}

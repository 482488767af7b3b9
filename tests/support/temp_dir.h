// A unique temporary folder for one test, removed afterwards even when an assertion
// fails. Paths are in the program's form (folder + "\name").
#pragma once

#include <string>

#include "platform/wstr.h"

class ScopedTempDir {
public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const WString& path() const { return m_path; }
    // path() + "\" + name
    WString Sub(WStringView name) const;

private:
    WString m_path;
};

// Small file helpers for tests.
std::string ReadFileBytes(const WString& path);
void WriteFileBytes(const WString& path, std::string_view bytes);

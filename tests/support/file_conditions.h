// Entries of the file system that readers and searches must cope with, and conditions that
// make writers fail, made the way the system makes them: hidden and system files, named
// pipes, symbolic links, a file size limit. Paths are in the program's form.
#pragma once

#include <cstdint>

#include "platform/wstr.h"

// Sets or clears a file's hidden and system attributes. Windows only: elsewhere hiding is a
// matter of the name, and this returns false.
bool SetHiddenSystem(const WString& path, bool hidden, bool system);
// Makes `path` a named pipe, or a symbolic link to `target`. Where the system has neither
// (Windows): false.
bool MakePipe(const WString& path);
bool MakeLink(const WString& target, const WString& path);

// While it lives, no file of the process can grow past `bytes`: a write beyond fails as on
// a full disk (POSIX's RLIMIT_FSIZE, which binds root too; the signal it raises is
// ignored meanwhile). Windows has no such limit: there it does nothing, and Active() is
// false.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Active() const { return m_bActive; }

private:
    bool m_bActive = false;
    uint64_t m_oldLimit = 0;
    void (*m_oldHandler)(int) = nullptr;
};

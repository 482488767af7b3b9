// Entries of the file system that readers and searches must cope with, made the way the
// system makes them: hidden and system files, named pipes, symbolic links. Paths are in the
// program's form.
#pragma once

#include "platform/wstr.h"

// Sets or clears a file's hidden and system attributes. Windows only: elsewhere hiding is a
// matter of the name, and this returns false.
bool SetHiddenSystem(const WString& path, bool hidden, bool system);
// Makes `path` a named pipe, or a symbolic link to `target`. Where the system has neither
// (Windows): false.
bool MakePipe(const WString& path);
bool MakeLink(const WString& target, const WString& path);

// What the file backends (files_posix.cpp, files_win32.cpp) share with files.cpp: the
// calling thread's record of why its last file operation failed (plat::LastFailure).
#pragma once

#include <initializer_list>

#include "platform/wstr.h"

namespace plat::backend {

// Makes "<call>(<paths as the user sees them, comma-separated>): <reason>" the calling
// thread's last failure.
void RecordFailure(const char* call, std::initializer_list<WStringView> paths, WStringView reason);
// The system's own text for one of its error numbers (errno; GetLastError on Windows).
WString ErrorText(unsigned long error);

}  // namespace plat::backend

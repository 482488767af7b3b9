// The same from POSIX: a start without a terminal counts as hidden, the arguments come
// from the kernel, and there is no Windows version to report.
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"

namespace plat {

int StartShowCommand() { return ::isatty(STDIN_FILENO) ? kSwShowNormal : kSwHide; }

std::vector<WString> CommandLineArguments() {
    // The kernel's copy of argv: NUL-terminated arguments, the program's name first.
    std::vector<WString> arguments;
    std::string bytes;
    if (!ReadWholeFile(FromNativePath(u"/proc/self/cmdline"), bytes)) return arguments;
    size_t start = bytes.find('\0');
    if (start == std::string::npos) return arguments;
    for (++start; start < bytes.size();) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        // Bytes that are not UTF-8 are kept, as in paths: a file name argument still
        // names its file (FromNativePath).
        arguments.push_back(
            ToNativePath(PathFromNativeBytes(std::string_view(bytes).substr(start, end - start))));
        start = end + 1;
    }
    return arguments;
}

bool SystemVersion(unsigned& /*major*/, unsigned& /*minor*/) { return false; }

}  // namespace plat

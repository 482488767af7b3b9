// Start-up information, the command line and the system version through the Win32 API.
#include <windows.h>

#include <shellapi.h>

#include <memory>

#include "platform/process.h"
#include "platform/util_win32.h"

namespace plat {

int StartShowCommand() {
    STARTUPINFOW info = {};
    info.cb = sizeof info;
    GetStartupInfoW(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) != 0 ? info.wShowWindow : SW_SHOWDEFAULT;
}

std::vector<WString> CommandLineArguments() {
    std::vector<WString> arguments;
    int count = 0;
    struct LocalFreer {
        void operator()(LPWSTR* p) const { LocalFree(p); }
    };
    std::unique_ptr<LPWSTR, LocalFreer> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) {
        const wchar_t* text = argv.get()[i];
        arguments.push_back(win32::FromWide(text, wcslen(text)));
    }
    return arguments;
}

bool SystemVersion(unsigned& major, unsigned& minor) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;  // the plain record, 276 bytes
    if (!GetVersionExW(&info)) return false;
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    return true;
}

}  // namespace plat

// What the process was started with, and the version of the system it runs on.
#pragma once

#include <vector>

#include "platform/wstr.h"

namespace plat {

// Show commands (the values of SW_HIDE, SW_SHOWNORMAL and SW_SHOWDEFAULT).
constexpr int kSwHide = 0;
constexpr int kSwShowNormal = 1;
constexpr int kSwShowDefault = 10;

// The show command the process was started with, as a program's WinMain receives it: on
// Windows the one of the start-up information (SW_SHOWDEFAULT when it names none).
// Elsewhere a start without a terminal on standard input (from an installer, a service or
// a pipe) counts as a hidden start, SW_HIDE; any other start as SW_SHOWNORMAL.
int StartShowCommand();

// The arguments after the program's name, as the system split the command line (on
// Windows CommandLineToArgvW; elsewhere the arguments as given, read as UTF-8).
std::vector<WString> CommandLineArguments();

// The system's major and minor version, as GetVersionExW reports it to a program whose
// manifest declares no supported system (Windows 8 and later then say 6.2). False, with
// both untouched, where the call fails or the system is not Windows.
bool SystemVersion(unsigned& major, unsigned& minor);

}  // namespace plat

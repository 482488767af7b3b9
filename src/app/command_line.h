// The program's command line: one switch that matters, everything else accepted.
#pragma once

#include <vector>

#include "platform/wstr.h"

// The parsed command line. Only the switch S (given as /S or -S, case-sensitive) means
// anything: it asks for a silent run. "/from 7.5.0.12", other switches and plain
// arguments are accepted and ignored, so an installer may pass whatever it likes.
class DbCommandLineInfo {
public:
    DbCommandLineInfo() = default;
    virtual ~DbCommandLineInfo() = default;

    // Called once per argument after the program's name, in order. A switch arrives
    // without its leading "/" or "-" and with `bFlag` true; `bLast` marks the last
    // argument.
    virtual void ParseParam(const WString& param, bool bFlag, bool bLast);

    // 1 unless the switch S was given.
    int m_bShowWindow = 1;
};

// Splits `arguments` (those after the program's name) the way the framework does and hands
// each to `info.ParseParam`: an argument that begins with "/" or "-" is a switch.
void ParseCommandLine(const std::vector<WString>& arguments, DbCommandLineInfo& info);

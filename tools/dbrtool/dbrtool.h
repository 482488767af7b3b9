// dbrtool: reads, writes and checks scrambled upgrade scripts (*.dbr) for the people who
// write them. The commands are plain functions over streams so that tests can drive
// them; main() only turns the command line into text.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wstr.h"

namespace dbrtool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // bad input, a refused line, a refused script, a failed rehearsal
constexpr int kExitUsage = 2;   // unknown command or wrong arguments

// Runs the command named by `args` (without the program name). Summaries and decoded
// text go to `out`, diagnostics to `err`. Returns the process exit code.
int Run(const std::vector<WString>& args, std::ostream& out, std::ostream& err);

// The individual commands, as Run calls them.
int Decode(const WString& scriptPath, std::ostream& out, std::ostream& err);
int Encode(const WString& textPath, const WString& scriptPath, std::ostream& out,
           std::ostream& err);
// With `strict`, any warning fails the check too.
int Check(const WString& scriptPath, bool strict, std::ostream& out, std::ostream& err);

void PrintHelp(std::ostream& out);

// UTF-8 text with its control characters (but the line feed) shown, not sent: what a
// script or a file name holds must not clear a terminal or retitle its window.
std::string EscapeControls(std::string_view text);

}  // namespace dbrtool

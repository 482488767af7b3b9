// dbrtool's entry point: the command line as text, then dbrtool::Run.
#include <iostream>
#include <vector>

#include "dbrtool/dbrtool.h"
#include "platform/files.h"
#include "platform/process.h"

int main() {
    // The arguments as the system split them (UTF-16 on Windows, every byte kept
    // elsewhere). All but the command are file names, taken as the system spells them: on
    // Linux a backslash in "my\script.txt" is part of the name, never a separator.
    std::vector<WString> args = plat::CommandLineArguments();
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] != u"-") args[i] = plat::FromNativePath(args[i]);
    }
    return dbrtool::Run(args, std::cout, std::cerr);
}

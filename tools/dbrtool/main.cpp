// dbrtool's entry point: the command line as text, then dbrtool::Run.
#include <iostream>
#include <string_view>
#include <vector>

#include "dbrtool/dbrtool.h"
#include "platform/codepage.h"

int main(int argc, char** argv) {
    std::vector<WString> args;
    for (int i = 1; i < argc; ++i) {
#ifdef _WIN32
        args.push_back(FromAnsi(argv[i]));  // Windows hands narrow arguments over in ANSI
#else
        args.push_back(FromUtf8(std::string_view(argv[i])));
#endif
    }
    return dbrtool::Run(args, std::cout, std::cerr);
}

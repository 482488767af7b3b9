#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/ui.h"

namespace plat {

int ShowSystemMessageBox(const WString& text, unsigned /*type*/) {
    // The terminal speaks UTF-8, whatever the ANSI code page of the program's files.
    std::string message = ToUtf8(text);
    if (!::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    std::printf("\n  %s\n  [Enter] ", message.c_str());
    std::fflush(stdout);
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
    return 1;
}

bool InitCommonControls() { return true; }

}  // namespace plat

// A helper for the Windows end-to-end checks: it looks at the windows of a running program
// from the outside, as a user sees them, and starts a program the way an installer does.
//
//   win_probe wait TITLE SECONDS       waits for a visible window titled TITLE
//   win_probe wait-text TEXT SECONDS   waits for a visible window with a control showing TEXT
//   win_probe gone TITLE SECONDS       waits until no visible window is titled TITLE
//   win_probe post TITLE MESSAGE WPARAM LPARAM
//                                      posts a message to the visible window titled TITLE
//   win_probe watch WINDOW TEXT SECONDS
//                                      looks at WINDOW every 100 ms until a visible window
//                                      has a control showing TEXT or time runs out
//   win_probe run-hidden PROGRAM [ARGUMENTS...]
//                                      runs PROGRAM started hidden (SW_HIDE), waits for it
//                                      and exits with its exit code
//
// A TITLE of the form #NUMBER names the window with that handle instead (as `wait` prints
// it), whatever its title.
//
// `wait` and `wait-text` print the window found and its controls as one line of JSON
// (handles as numbers, screen rectangles, texts in UTF-8) and exit with 0, or exit with 1 when time
// runs out. `watch` prints one line of JSON per look, as it takes it: "ms" since the start,
// "answered" (a message sent to the window was handled within a second), "hung"
// (IsHungAppWindow), and, when answered, "caption", "enabled" (control identifier to
// whether it is enabled) and "caption_after" (read after the controls); then {"ended":
// whether TEXT appeared}.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/process.h"
#include "support/observe.h"

namespace {

std::string Json(const WString& text) {
    std::string out = "\"";
    for (char c : ToUtf8(text)) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string Json(const observe::WindowInfo& window) {
    const plat::Rect& r = window.rect;
    // Handles as numbers, so that a window's owner can be compared with another window.
    const auto number = [](plat::WindowHandle h) {
        return std::to_string(reinterpret_cast<uintptr_t>(h));
    };
    return "{\"handle\": " + number(window.handle) + ", \"owner\": " + number(window.owner) +
           ", \"id\": " + std::to_string(window.nId) + ", \"class\": " + Json(window.className) +
           ", \"text\": " + Json(window.text) + ", \"rect\": [" + std::to_string(r.left) + ", " +
           std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + "], \"visible\": " + (window.bVisible ? "true" : "false") +
           ", \"enabled\": " + (window.bEnabled ? "true" : "false") + "}";
}

// The first visible top-level window titled `title` (or with the handle "#NUMBER"), or
// showing `text` in a control.
bool Find(const WString& title, const WString& text, observe::WindowInfo& found) {
    if (title.size() > 1 && title[0] == u'#') {
        const auto handle = reinterpret_cast<plat::WindowHandle>(
            static_cast<uintptr_t>(wstr::ToInt(title.substr(1))));
        for (const observe::WindowInfo& window : observe::TopLevelWindows(true)) {
            if (window.handle == handle) {
                found = window;
                return true;
            }
        }
        return false;
    }
    for (const observe::WindowInfo& window : observe::TopLevelWindows(true)) {
        if (!title.empty() && window.text == title) {
            found = window;
            return true;
        }
        if (!text.empty()) {
            for (const observe::WindowInfo& child : observe::ChildWindows(window.handle)) {
                if (child.bVisible && child.text == text) {
                    found = window;
                    return true;
                }
            }
        }
    }
    return false;
}

int Wait(const WString& title, const WString& text, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    observe::WindowInfo window;
    while (!Find(title, text, window)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "win_probe: no window \"%s\" after %d s\n",
                         ToUtf8(title.empty() ? text : title).c_str(), seconds);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string line = "{\"window\": " + Json(window) + ", \"controls\": [";
    bool first = true;
    for (const observe::WindowInfo& child : observe::ChildWindows(window.handle)) {
        line += (first ? "" : ", ") + Json(child);
        first = false;
    }
    line += "]}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    return 0;
}

int WaitGone(const WString& title, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    observe::WindowInfo window;
    while (Find(title, WString(), window)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "win_probe: window \"%s\" still there after %d s\n",
                         ToUtf8(title).c_str(), seconds);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

int Post(const WString& title, unsigned message, uintptr_t wParam, intptr_t lParam) {
    observe::WindowInfo window;
    if (!Find(title, WString(), window)) {
        std::fprintf(stderr, "win_probe: no window \"%s\"\n", ToUtf8(title).c_str());
        return 1;
    }
    return observe::PostToWindow(window.handle, message, wParam, lParam) ? 0 : 1;
}

int Watch(const WString& title, const WString& text, int seconds) {
    observe::WindowInfo window;
    if (!Find(title, WString(), window)) {
        std::fprintf(stderr, "win_probe: no window \"%s\"\n", ToUtf8(title).c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    bool bEnded = false;
    while (!bEnded && std::chrono::steady_clock::now() < deadline) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        const bool bAnswered = observe::AnswersWithin(window.handle, 1000);
        std::string line = "{\"ms\": " + std::to_string(ms) +
                           ", \"answered\": " + (bAnswered ? "true" : "false") +
                           ", \"hung\": " + (observe::IsHung(window.handle) ? "true" : "false");
        // Reading the texts of a window that does not answer would wait for it.
        if (bAnswered) {
            line += ", \"caption\": " + Json(observe::DescribeWindow(window.handle).text) +
                    ", \"enabled\": {";
            bool first = true;
            for (const observe::WindowInfo& child : observe::ChildWindows(window.handle)) {
                line += (first ? "\"" : ", \"") + std::to_string(child.nId) +
                        "\": " + (child.bEnabled ? "true" : "false");
                first = false;
            }
            // The caption again: a look that saw the same caption before and after the
            // controls saw them as they were under that caption.
            line += "}, \"caption_after\": " + Json(observe::DescribeWindow(window.handle).text);
            observe::WindowInfo box;
            bEnded = Find(WString(), text, box);
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        if (!bEnded) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("{\"ended\": %s}\n", bEnded ? "true" : "false");
    return 0;
}

// Quotes an argument as CommandLineToArgvW splits it (no argument here holds quotes).
WString Quote(const WString& argument) {
    if (!argument.empty() && argument.find_first_of(u" \t") == WString::npos) return argument;
    return u"\"" + argument + u"\"";
}

int RunHidden(const std::vector<WString>& command) {
    WString line;
    for (const WString& argument : command)
        line += (line.empty() ? u"" : u" ") + Quote(argument);
    unsigned long exitCode = 0;
    if (!observe::RunProgram(line, plat::kSwHide, exitCode)) {
        std::fprintf(stderr, "win_probe: cannot start %s\n", ToUtf8(line).c_str());
        return 127;
    }
    return static_cast<int>(exitCode);
}

int Usage() {
    std::fputs(
        "usage: win_probe wait TITLE SECONDS | wait-text TEXT SECONDS | gone TITLE SECONDS |\n"
        "       post TITLE MESSAGE WPARAM LPARAM | watch WINDOW TEXT SECONDS |\n"
        "       run-hidden PROGRAM [ARGUMENTS...]\n",
        stderr);
    return 2;
}

}  // namespace

int main() {
    const std::vector<WString> args = plat::CommandLineArguments();
    if (args.empty()) return Usage();
    const WString& command = args[0];
    if ((command == u"wait" || command == u"wait-text") && args.size() == 3) {
        const int seconds = wstr::ToInt(args[2]);
        return command == u"wait" ? Wait(args[1], WString(), seconds)
                                  : Wait(WString(), args[1], seconds);
    }
    if (command == u"gone" && args.size() == 3) return WaitGone(args[1], wstr::ToInt(args[2]));
    if (command == u"post" && args.size() == 5) {
        return Post(args[1], static_cast<unsigned>(wstr::ToInt(args[2])),
                    static_cast<uintptr_t>(wstr::ToInt(args[3])), wstr::ToInt(args[4]));
    }
    if (command == u"watch" && args.size() == 4) {
        return Watch(args[1], args[2], wstr::ToInt(args[3]));
    }
    if (command == u"run-hidden" && args.size() >= 2) {
        return RunHidden(std::vector<WString>(args.begin() + 1, args.end()));
    }
    return Usage();
}

// Looking at what the build made and at a running program from the outside: the
// resources of an executable file, the windows on the desktop, messages to them, a program
// started with a given show command. The checks of the Windows build use these; the
// program does not. Windows only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/dialog.h"
#include "platform/wstr.h"

namespace observe {

using plat::Rect;
using plat::WindowHandle;

// Copies the resource of type `nType` and name `nName` (both numbers; the first language
// found) out of the executable file at `path`, without running it. False, with `bytes`
// empty, when the file cannot be loaded as an image or has no such resource.
bool ReadExecutableResource(const WString& path, int nType, int nName, std::vector<uint8_t>& bytes);

// Two names compared as the system compares file names (CompareStringOrdinal ignoring
// case: NTFS's upper-casing, then the units' values). Negative, 0 or positive.
int CompareNamesAsTheSystem(WStringView a, WStringView b);

// One window as the system describes it. Rectangles are in screen coordinates.
struct WindowInfo {
    WindowHandle handle = nullptr;
    WindowHandle owner = nullptr;  // a top-level window's owner (GW_OWNER)
    int nId = 0;                   // a child's control identifier
    WString className;
    WString text;
    Rect rect;
    bool bVisible = false;
    bool bEnabled = false;
    unsigned long style = 0;
};

WindowInfo DescribeWindow(WindowHandle window);
// The top-level windows of the desktop, front to back, with or without the hidden ones.
std::vector<WindowInfo> TopLevelWindows(bool bVisibleOnly);
// Every window below `parent`, in the system's order (children before their siblings'
// children).
std::vector<WindowInfo> ChildWindows(WindowHandle parent);

// The text of the entry with command `nCommand` in the window's system menu; empty when
// there is no such entry.
WString SystemMenuEntryText(WindowHandle window, unsigned nCommand);

// Whether the thread of `window` handles a message sent to it (WM_NULL) within
// `nMilliseconds`, as the system judges a program that has stopped responding.
bool AnswersWithin(WindowHandle window, unsigned nMilliseconds);
// Whether the system counts the window's thread as hung (IsHungAppWindow): it has not
// taken a message for some seconds.
bool IsHung(WindowHandle window);

// Handles the calling thread's messages, as a message loop does, until `done` holds or
// `nMilliseconds` have passed; true when `done` held.
bool DispatchMessagesUntil(const std::function<bool()>& done, unsigned nMilliseconds);

// Whether a posted `message` for `window` waits in the calling thread's queue.
bool HasPostedMessage(WindowHandle window, unsigned message);
// Empties the calling thread's queue of posted messages without handling them.
void DiscardPostedMessages();

// Messages to any window of the process.
intptr_t SendToWindow(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);
bool PostToWindow(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Starts `commandLine` (program first, quoted as the system splits it) with the show
// command `nCmdShow` in its start-up information, waits for it to end and delivers its
// exit code. False when it could not be started.
bool RunProgram(const WString& commandLine, int nCmdShow, unsigned long& exitCode);

}  // namespace observe

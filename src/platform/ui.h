// Message boxes: the one way the program shows a message to the user outside its dialog.
#pragma once

#include "platform/wstr.h"

namespace plat {

// Message-box types the program uses (the values of MB_OK and friends).
constexpr unsigned kMbOk = 0x0;

// Shows `text` to the user and waits until it is acknowledged. On Windows this is a
// MessageBoxW owned by the window set with SetMessageBoxOwner while that window is
// visible, else by the active window. Elsewhere the text goes to the terminal and
// waits for Enter when standard input is a terminal; without one (a silent start) it goes
// to standard error. Returns the button pressed (1, IDOK, for an acknowledged text).
int ShowMessageBox(const WString& text, unsigned type);

// The window that owns the program's message boxes (an HWND on Windows), so that it
// cannot be used while a box is up; null for none. Ignored elsewhere.
void SetMessageBoxOwner(void* window);
void* MessageBoxOwner();

// Registers the common-control window classes the program's dialogs use (on Windows
// InitCommonControlsEx with the Windows 95 classes). True where there is nothing to do.
bool InitCommonControls();

// Tests replace the message box with a function of their own; null restores it.
using MessageBoxFunction = int (*)(const WString& text, unsigned type);
void SetMessageBoxForTesting(MessageBoxFunction function);

}  // namespace plat

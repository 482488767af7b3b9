// Message boxes: the one way the program shows a message to the user outside its dialog.
#pragma once

#include "platform/wstr.h"

namespace plat {

// Message-box types the program uses (the values of MB_OK and friends).
constexpr unsigned kMbOk = 0x0;

// Shows `text` to the user and waits until it is acknowledged. On Windows this is a
// MessageBoxW owned by the active window. Elsewhere the text goes to the terminal and
// waits for Enter when standard input is a terminal; without one (a silent start) it goes
// to standard error. Returns the button pressed (1, IDOK, for an acknowledged text).
int ShowMessageBox(const WString& text, unsigned type);

// Tests replace the message box with a function of their own; null restores it.
using MessageBoxFunction = int (*)(const WString& text, unsigned type);
void SetMessageBoxForTesting(MessageBoxFunction function);

}  // namespace plat

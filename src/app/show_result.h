// The one way the program reports a message to the user.
#pragma once

#include "platform/wstr.h"

namespace app {

// Logs `message` and, when `show` is non-zero, shows it in a message box of `type`
// (plat::kMbOk for every message the program has). Silent runs pass show = 0.
void ShowResult(const WString& message, unsigned type, int show);

}  // namespace app

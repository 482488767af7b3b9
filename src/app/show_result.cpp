#include "app/show_result.h"

#include "log/log.h"
#include "platform/ui.h"

namespace app {

void ShowResult(const WString& message, unsigned type, int show) {
    WriteLog(kLogCategory, kLogLevel, message);
    if (show != 0) plat::ShowMessageBox(message, type);
}

}  // namespace app

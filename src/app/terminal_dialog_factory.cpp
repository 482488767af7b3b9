// Where there is no Win32 dialog, the main dialog is the terminal one.
#include <iostream>
#include <memory>

#include "app/terminal_dialog.h"

std::unique_ptr<CMainDialog> CreateMainDialog(CDBProcess& process, const WString& strInstallDir,
                                              int bInteractive) {
    return std::make_unique<CTerminalDialog>(process, strInstallDir, bInteractive, std::cin,
                                             std::cout);
}

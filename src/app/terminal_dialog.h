// The main dialog on a terminal: the controls of template 102 printed as lines, the
// dialog's buttons as keys. Messages the engine shows in message boxes are printed and
// wait for Enter (plat::ShowMessageBox); a migration prints a line per database and per
// table copied. Text goes out as UTF-8.
#pragma once

#include <iosfwd>
#include <map>
#include <string>

#include "app/main_dialog.h"

class CTerminalDialog : public CMainDialog {
public:
    // Reads the user's lines from `in` and writes to `out`; both outlive the dialog.
    CTerminalDialog(CDBProcess& process, const WString& strInstallDir, int bInteractive,
                    std::istream& in, std::ostream& out);
    ~CTerminalDialog() override;

    bool Create() override;
    void ShowWindow(int nCmdShow) override;
    // Draws the dialog and handles one line of input after another until "退出", the end
    // of input, or a close request. Returns at once when the dialog is hidden.
    void RunMessageLoop() override;

    void SetItemText(int nId, const WString& text) override;
    WString GetItemText(int nId) const override;
    void EnableItem(int nId, bool bEnable) override;
    bool IsItemChecked(int nId) const override;
    void PostClose() override;
    bool BrowseForScript(const WString& folder, WString& path) override;
    void ShowAboutBox() override;

private:
    struct Control {
        WString text;
        bool bEnabled = true;
        bool bChecked = false;
    };

    // False at the end of input.
    bool ReadLine(std::string& line);
    void Draw();
    void Handle(const std::string& command);
    void Print(const WString& text);

    CDBProcess& m_process;
    WString m_strInstallDir;
    int m_bInteractive;
    std::istream& m_in;
    std::ostream& m_out;
    std::map<int, Control> m_controls;
    bool m_bVisible = false;
    bool m_bCloseRequested = false;
};

// The main dialog on Windows: template 102 made modeless by the dialog manager, with the
// system-menu About entry, the program's icon, and the About box (template 100). An
// interactive migration runs on a worker thread; the dialog hears of its progress and its
// end through a message of its own.
#pragma once

#include "app/main_dialog.h"
#include "platform/dialog.h"

class CQuorvelDlg : public CMainDialog, private plat::DialogEvents {
public:
    CQuorvelDlg(CDBProcess& process, const WString& strInstallDir, int bInteractive);
    // Waits for a migration still running.
    ~CQuorvelDlg() override;

    bool Create() override;
    // Shows the window with `nCmdShow` (0 keeps it hidden), then paints it.
    void ShowWindow(int nCmdShow) override;
    // The thread's message loop, until the first WM_CLOSE, WM_NULL or WM_QUIT has been
    // handled. One that comes while a migration runs is a close request held until the
    // migration has ended and been reported.
    void RunMessageLoop() override;

    void SetItemText(int nId, const WString& text) override;
    WString GetItemText(int nId) const override;
    void EnableItem(int nId, bool bEnable) override;
    bool IsItemChecked(int nId) const override;
    void PostClose() override;
    bool BrowseForScript(const WString& folder, WString& path) override;
    void ShowAboutBox() override;
    bool UpdateData(bool bSaveAndValidate) override;
    bool CanRunInBackground() const override { return true; }
    void NotifyFromWorker() override;
    void SetTitle(const WString& title) override;
    void ShowBusy(bool bBusy) override;

    // The window, for those who drive it from outside (tests).
    plat::WindowHandle Handle() const { return m_dialog.Handle(); }
    plat::IconHandle Icon() const { return m_hIcon; }

private:
    void DoDataExchange(plat::DataExchange& dx) override;
    bool OnInitDialog() override;
    bool OnCommand(int nId, int nCode) override;
    bool OnSysCommand(unsigned nId) override;
    bool OnPaint() override;
    plat::IconHandle OnQueryDragIcon() override;
    bool OnAppMessage(unsigned nMessage) override;

    plat::Dialog m_dialog;
    plat::IconHandle m_hIcon;
    plat::WindowHandle m_hMessageOwner = nullptr;  // as registered for message boxes
    plat::StaticControl m_stcVersion;
    plat::StaticControl m_stcSubVersion;
    plat::StaticControl m_stcScriptVersion;
    // The control that had the focus when a migration started, if it was one that the
    // migration disables; 0 otherwise.
    int m_nFocusBeforeRun = 0;
};

// The About box: the program's name, version and icon, closed with "确定".
class CAboutDlg : private plat::DialogEvents {
public:
    CAboutDlg();
    // Runs the box modally over `owner`; returns when it is closed.
    int DoModal(plat::WindowHandle owner);

private:
    plat::Dialog m_dialog;
};

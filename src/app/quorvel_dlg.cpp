#include "app/quorvel_dlg.h"

#include <memory>

#include "app/resource.h"
#include "platform/ui.h"

namespace {

// The worker has news for the dialog.
constexpr unsigned kWorkerNews = plat::wm::kApp + 1;

}  // namespace

CQuorvelDlg::CQuorvelDlg(CDBProcess& process, const WString& strInstallDir, int bInteractive)
    : CMainDialog(process, strInstallDir, bInteractive),
      m_dialog(IDD_QUORVEL_DIALOG, *this),
      m_hIcon(plat::LoadIconResource(IDR_MAINFRAME)) {}

CQuorvelDlg::~CQuorvelDlg() {
    // The worker calls this object until it ends.
    m_logic.WaitForWorker();
    if (m_hMessageOwner != nullptr && plat::MessageBoxOwner() == m_hMessageOwner) {
        plat::SetMessageBoxOwner(nullptr);
    }
}

bool CQuorvelDlg::Create() { return m_dialog.CreateModeless(); }

void CQuorvelDlg::ShowWindow(int nCmdShow) {
    m_dialog.Show(nCmdShow);
    m_dialog.Update();
}

void CQuorvelDlg::RunMessageLoop() {
    for (;;) {
        plat::RunMessageLoop(m_dialog.Handle());
        // Ending now would destroy the dialog under a migration that is half done.
        if (!m_logic.IsMigrating()) return;
        m_logic.OnQuit();
    }
}

void CQuorvelDlg::SetItemText(int nId, const WString& text) {
    // The version lines go through the statics bound to them.
    plat::StaticControl* bound = nId == dlg::kIdVersion         ? &m_stcVersion
                                 : nId == dlg::kIdSubVersion    ? &m_stcSubVersion
                                 : nId == dlg::kIdScriptVersion ? &m_stcScriptVersion
                                                                : nullptr;
    if (bound != nullptr && bound->IsBound()) {
        bound->SetText(text);
    } else {
        m_dialog.SetItemText(nId, text);
    }
}

WString CQuorvelDlg::GetItemText(int nId) const { return m_dialog.ItemText(nId); }

void CQuorvelDlg::EnableItem(int nId, bool bEnable) { m_dialog.EnableItem(nId, bEnable); }

bool CQuorvelDlg::IsItemChecked(int nId) const { return m_dialog.IsItemChecked(nId); }

void CQuorvelDlg::PostClose() { m_dialog.Post(plat::wm::kClose, 0, 0); }

bool CQuorvelDlg::BrowseForScript(const WString& folder, WString& path) {
    // The installation folder is the dialog's starting folder and its caption alike.
    return plat::ChooseFileToOpen(m_dialog.Handle(), dlg::kBrowseFilter, folder, folder, path);
}

void CQuorvelDlg::ShowAboutBox() {
    CAboutDlg about;
    about.DoModal(m_dialog.Handle());
}

bool CQuorvelDlg::UpdateData(bool bSaveAndValidate) {
    return m_dialog.UpdateData(bSaveAndValidate);
}

void CQuorvelDlg::NotifyFromWorker() { m_dialog.Post(kWorkerNews); }

void CQuorvelDlg::SetTitle(const WString& title) { m_dialog.SetCaption(title); }

void CQuorvelDlg::ShowBusy(bool bBusy) {
    m_dialog.SetTaskbarBusy(bBusy);
    if (bBusy) {
        // A disabled control cannot keep the focus, and without a focus the keyboard
        // reaches no control: "退出" takes it while the others are disabled.
        const int nFocus = m_dialog.FocusedItem();
        const bool bDisabled =
            nFocus == dlg::kIdMigrate || nFocus == dlg::kIdReselect || nFocus == dlg::kIdBrowse;
        m_nFocusBeforeRun = bDisabled ? nFocus : 0;
        if (bDisabled) m_dialog.FocusItem(dlg::kIdQuit);
    } else {
        // Back where the user left it, unless the user has moved it since.
        if (m_nFocusBeforeRun != 0 && m_dialog.FocusedItem() == dlg::kIdQuit &&
            m_dialog.IsItemEnabled(m_nFocusBeforeRun)) {
            m_dialog.FocusItem(m_nFocusBeforeRun);
        }
        m_nFocusBeforeRun = 0;
    }
}

void CQuorvelDlg::DoDataExchange(plat::DataExchange& dx) {
    plat::DdxControl(dx, dlg::kIdVersion, m_stcVersion);
    plat::DdxControl(dx, dlg::kIdSubVersion, m_stcSubVersion);
    plat::DdxControl(dx, dlg::kIdScriptVersion, m_stcScriptVersion);
}

bool CQuorvelDlg::OnInitDialog() {
    // Results are shown over the dialog once it is visible.
    m_hMessageOwner = m_dialog.Handle();
    plat::SetMessageBoxOwner(m_hMessageOwner);

    const WString about = plat::LoadStringResource(IDS_ABOUTBOX);
    if (!about.empty()) m_dialog.AppendSystemMenuEntry(IDM_ABOUTBOX, about);

    m_dialog.SetIcon(m_hIcon, true);
    m_dialog.SetIcon(m_hIcon, false);

    // The separator is a sunken static drawn as a one-pixel line.
    plat::Rect line = m_dialog.ItemRect(IDC_SEPARATOR);
    line.bottom = line.top + 1;
    m_dialog.MoveItem(IDC_SEPARATOR, line);

    // Disables the path and the browse button, fills the version lines, and in a silent
    // run migrates and asks to close.
    m_logic.OnInitDialog();
    return true;
}

bool CQuorvelDlg::OnCommand(int nId, int nCode) {
    if (nCode != plat::wm::kBnClicked) return false;
    switch (nId) {
        case dlg::kIdMigrate:
            m_logic.OnMigrate();
            return true;
        case dlg::kIdQuit:
            m_logic.OnQuit();
            return true;
        case dlg::kIdReselect:
            m_logic.OnReselect();
            return true;
        case dlg::kIdBrowse:
            m_logic.OnBrowse();
            return true;
        default:
            return false;
    }
}

bool CQuorvelDlg::OnSysCommand(unsigned nId) {
    if ((nId & 0xFFF0) != IDM_ABOUTBOX) return false;
    m_logic.OnAboutBox();
    return true;
}

bool CQuorvelDlg::OnPaint() {
    if (!m_dialog.IsMinimized()) return false;
    m_dialog.PaintMinimizedIcon(m_hIcon);
    return true;
}

plat::IconHandle CQuorvelDlg::OnQueryDragIcon() { return m_hIcon; }

bool CQuorvelDlg::OnAppMessage(unsigned nMessage) {
    if (nMessage != kWorkerNews) return false;
    m_logic.OnWorkerNotification();
    return true;
}

CAboutDlg::CAboutDlg() : m_dialog(IDD_ABOUTBOX, *this) {}

int CAboutDlg::DoModal(plat::WindowHandle owner) { return m_dialog.DoModal(owner); }

std::unique_ptr<CMainDialog> CreateMainDialog(CDBProcess& process, const WString& strInstallDir,
                                              int bInteractive) {
    return std::make_unique<CQuorvelDlg>(process, strInstallDir, bInteractive);
}

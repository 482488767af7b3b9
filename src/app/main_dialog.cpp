#include "app/main_dialog.h"

#include "engine/db_process.h"
#include "platform/files.h"
#include "platform/ui.h"

CQuorvelDlgLogic::CQuorvelDlgLogic(CDBProcess& process, WString strInstallDir, int bInteractive,
                                   CDialogView& view)
    : m_process(process),
      m_strInstallDir(std::move(strInstallDir)),
      m_bInteractive(bInteractive),
      m_view(view) {}

void CQuorvelDlgLogic::OnInitDialog() {
    m_view.EnableItem(dlg::kIdBrowse, false);
    m_view.EnableItem(dlg::kIdScriptPath, false);
    m_view.SetItemText(dlg::kIdVersion, m_process.m_strVersion);
    m_view.SetItemText(dlg::kIdSubVersion, m_process.m_strSubVersion);
    if (m_process.m_bScriptFound) {
        m_view.SetItemText(dlg::kIdScriptPath,
                           m_process.m_strInstallDir + u"\\" + m_process.m_strScriptName);
    }
    m_view.UpdateData(false);
    if (m_bInteractive == 0) RunMigration(0);
}

int CQuorvelDlgLogic::RunMigration(int bInteractive) {
    m_nLastResult = m_process.Migrate() ? 1 : 0;
    m_process.ShowResult(m_nLastResult ? dlg::kSucceeded : dlg::kFailed, plat::kMbOk, bInteractive);
    m_view.SetItemText(dlg::kIdScriptVersion, m_process.m_strSubVersion);
    if (bInteractive == 0) m_view.PostClose();
    return m_nLastResult;
}

WString CQuorvelDlgLogic::ChosenScriptName() const {
    // The edit is read even while it is disabled: unticking "重选" after typing keeps the
    // typed path. A path that does not exist leaves the earlier script name.
    const WString path = m_view.GetItemText(dlg::kIdScriptPath);
    const size_t cut = path.rfind(u'\\');
    if (plat::PathExists(path) && cut != WString::npos &&
        !plat::HasForeignBytes(path.substr(cut + 1))) {
        return path.substr(cut + 1);
    }
    return m_process.m_strScriptName;
}

WString CQuorvelDlgLogic::ScriptToRun() const {
    const WString name = ChosenScriptName();
    if (m_process.m_bScriptFound == 0 || name.empty()) return WString();
    return m_process.m_strInstallDir + u"\\" + name;
}

void CQuorvelDlgLogic::OnMigrate() {
    m_process.m_strScriptName = ChosenScriptName();
    RunMigration(1);
}

void CQuorvelDlgLogic::OnQuit() { m_view.PostClose(); }

void CQuorvelDlgLogic::OnReselect() {
    m_view.UpdateData(true);
    const bool bChecked = m_view.IsItemChecked(dlg::kIdReselect);
    m_view.EnableItem(dlg::kIdBrowse, bChecked);
    m_view.EnableItem(dlg::kIdScriptPath, bChecked);
}

void CQuorvelDlgLogic::OnBrowse() {
    WString path;
    if (m_view.BrowseForScript(m_strInstallDir, path)) {
        m_view.SetItemText(dlg::kIdScriptPath, path);
        m_view.UpdateData(false);
    }
}

void CQuorvelDlgLogic::OnAboutBox() { m_view.ShowAboutBox(); }

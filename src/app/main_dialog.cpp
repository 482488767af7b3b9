#include "app/main_dialog.h"

#include <system_error>
#include <utility>

#include "app/show_result.h"
#include "engine/db_process.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/ui.h"

CQuorvelDlgLogic::CQuorvelDlgLogic(CDBProcess& process, WString strInstallDir, int bInteractive,
                                   CDialogView& view)
    : m_process(process),
      m_strInstallDir(std::move(strInstallDir)),
      m_bInteractive(bInteractive),
      m_view(view) {}

CQuorvelDlgLogic::~CQuorvelDlgLogic() { WaitForWorker(); }

void CQuorvelDlgLogic::WaitForWorker() {
    if (!m_worker.joinable()) return;
    m_worker.join();
    // The engine outlives the dialog: it must not keep a callback into it.
    m_process.SetProgress(nullptr);
}

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
    return Report(m_process.Migrate(), bInteractive);
}

int CQuorvelDlgLogic::Report(MigrationOutcome outcome, int bInteractive) {
    m_lastOutcome = std::move(outcome);
    m_nLastResult = m_lastOutcome.nResult ? 1 : 0;
    if (!m_lastOutcome.strMessage.empty()) {
        app::ShowResult(m_lastOutcome.strMessage, plat::kMbOk,
                        m_lastOutcome.bAlwaysShow ? 1 : bInteractive);
    }
    app::ShowResult(m_nLastResult ? dlg::kSucceeded : dlg::kFailed, plat::kMbOk, bInteractive);
    m_view.SetItemText(dlg::kIdScriptVersion, m_process.m_strSubVersion);
    if (bInteractive == 0) m_view.PostClose();
    return m_nLastResult;
}

WString CQuorvelDlgLogic::ChosenScriptName() const {
    // The edit is read even while it is disabled: unticking "重选" after typing keeps the
    // typed path. A path that does not exist leaves the earlier script name.
    const WString path = m_view.GetItemText(dlg::kIdScriptPath);
    const WString name = plat::NameOf(path);
    // A bare name, without a folder part, is taken for no file.
    const bool bHasFolder = path.find(u'\\') != WString::npos;
    if (plat::PathExists(path) && bHasFolder && !plat::HasForeignBytes(name)) return name;
    return m_process.m_strScriptName;
}

WString CQuorvelDlgLogic::ScriptToRun() const {
    const WString name = ChosenScriptName();
    if (m_process.m_bScriptFound == 0 || name.empty()) return WString();
    return m_process.m_strInstallDir + u"\\" + name;
}

void CQuorvelDlgLogic::OnMigrate() {
    if (m_bMigrating) return;
    m_process.m_strScriptName = ChosenScriptName();
    if (!m_view.CanRunInBackground() || !StartInBackground()) RunMigration(1);
}

bool CQuorvelDlgLogic::StartInBackground() {
    m_bMigrating = true;
    m_bCloseHeld = false;
    m_news = WorkerNews();
    m_view.ShowBusy(true);
    for (int nId : {dlg::kIdMigrate, dlg::kIdReselect, dlg::kIdBrowse})
        m_view.EnableItem(nId, false);
    m_strProgress = WString(dlg::kMigrate) + u"...";
    ShowProgress();

    // From here until the worker has been joined, the engine is the worker's alone: this
    // thread neither reads it nor logs.
    m_process.SetProgress([this](const WString& line) { Tell(&line, nullptr); });
    try {
        m_worker = std::thread([this] {
            MigrationOutcome outcome = m_process.Migrate();
            Tell(nullptr, &outcome);
        });
    } catch (const std::system_error&) {
        ShowIdle();
        return false;
    }
    return true;
}

void CQuorvelDlgLogic::ShowIdle() {
    m_process.SetProgress(nullptr);
    m_bMigrating = false;
    m_view.SetTitle(dlg::kTitle);
    m_view.EnableItem(dlg::kIdMigrate, true);
    m_view.EnableItem(dlg::kIdReselect, true);
    m_view.EnableItem(dlg::kIdBrowse, m_view.IsItemChecked(dlg::kIdReselect));
    m_view.ShowBusy(false);
}

void CQuorvelDlgLogic::Tell(const WString* line, MigrationOutcome* outcome) {
    bool bNotify = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (line != nullptr) {
            m_news.strLine = *line;
            m_news.bLine = true;
        }
        if (outcome != nullptr) {
            m_news.outcome = std::move(*outcome);
            m_news.bEnded = true;
        }
        // One notification at a time: lines that come faster than the dialog shows them
        // replace one another.
        bNotify = !m_news.bNotified;
        m_news.bNotified = true;
    }
    if (bNotify) m_view.NotifyFromWorker();
}

void CQuorvelDlgLogic::OnWorkerNotification() {
    WorkerNews news;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        news = std::move(m_news);
        m_news = WorkerNews();
    }
    if (!m_bMigrating) return;
    if (news.bLine) {
        const size_t start = news.strLine.find_first_not_of(u' ');
        m_strProgress = start == WString::npos ? WString() : news.strLine.substr(start);
        ShowProgress();
    }
    if (!news.bEnded) return;

    m_worker.join();
    ShowIdle();
    Report(std::move(news.outcome), 1);
    if (m_bCloseHeld) m_view.PostClose();
}

void CQuorvelDlgLogic::ShowProgress() {
    // A long caption is cut at its end: what the user asked for last comes first.
    m_view.SetTitle(m_bCloseHeld
                        ? WString(dlg::kCloseAfterRun) + dlg::kCaptionSeparator + m_strProgress
                        : m_strProgress + dlg::kCaptionSeparator + dlg::kTitle);
}

void CQuorvelDlgLogic::OnQuit() {
    if (!m_bMigrating) {
        m_view.PostClose();
    } else if (!m_bCloseHeld) {
        m_bCloseHeld = true;
        ShowProgress();
    }
}

void CQuorvelDlgLogic::OnReselect() {
    if (m_bMigrating) return;
    m_view.UpdateData(true);
    const bool bChecked = m_view.IsItemChecked(dlg::kIdReselect);
    m_view.EnableItem(dlg::kIdBrowse, bChecked);
    m_view.EnableItem(dlg::kIdScriptPath, bChecked);
}

void CQuorvelDlgLogic::OnBrowse() {
    if (m_bMigrating) return;
    WString path;
    if (m_view.BrowseForScript(m_strInstallDir, path)) {
        m_view.SetItemText(dlg::kIdScriptPath, path);
        m_view.UpdateData(false);
    }
}

void CQuorvelDlgLogic::OnAboutBox() {
    if (!m_bMigrating) m_view.ShowAboutBox();
}

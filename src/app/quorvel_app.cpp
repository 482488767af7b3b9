#include "app/quorvel_app.h"

#include "app/adjust_system_info.h"
#include "app/command_line.h"
#include "app/install_info.h"
#include "app/main_dialog.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui.h"

CQuorvelApp::CQuorvelApp() = default;
CQuorvelApp::~CQuorvelApp() = default;

int CQuorvelApp::InitInstance() {
    // The dialog's controls need their window classes registered before it is made.
    plat::InitCommonControls();

    DbCommandLineInfo cmdInfo;
    ParseCommandLine(GetCommandLineArguments(), cmdInfo);

    // A process started hidden (from an installer, or without a terminal) runs silently
    // even without the switch S.
    m_bStartVisible = GetStartShowCommand() > 0 ? 1 : 0;
    m_bInteractive = cmdInfo.m_bShowWindow ? 1 : 0;
    if (m_bStartVisible == 0) m_bInteractive = 0;

    // Nothing is read or written before the run is known to be sane: a code page that
    // cannot be converted would read every Chinese line of the script as empty.
    std::string strCodePage;
    if (!plat::AnsiCodePageSettingValid(strCodePage)) {
        return Refuse(u"环境变量 QUORVEL_CODEPAGE 的值“" + FromUtf8(strCodePage) +
                      u"”不是本系统能转换的代码页(例如 936), 程序没有运行!");
    }

    // The executable's folder. A path without one (empty, when the system cannot tell) is
    // kept as it is.
    const WString exe = GetExecutablePath();
    m_strInstallDir = exe.find(u'\\') == WString::npos ? exe : plat::FolderOf(exe);
    // A folder no Windows path can name (on Linux: a backslash, or bytes that are not
    // UTF-8, in its name) is refused rather than taken for another folder.
    if (plat::HasForeignBytes(m_strInstallDir)) {
        return Refuse(u"安装文件夹“" + plat::DisplayPath(m_strInstallDir) +
                      u"”的路径含有反斜杠或不是 UTF-8 的字节, 不能用作 Windows 的路径, "
                      u"程序没有运行!");
    }

    m_dbProcess.SetInstallInfo(install::LoadInstallInfo(m_strInstallDir, m_bInteractive));

    std::unique_ptr<CAdjustSystemInfo> adjust = CreateAdjustment(m_strInstallDir);
    if (adjust->GetDataDir(m_strDataDir) == 0) m_strDataDir.clear();
    m_dbProcess.m_strDataDir = m_strDataDir;

    std::unique_ptr<CMainDialog> dialog = MakeMainDialog();
    if (dialog && dialog->Create()) {
        dialog->ShowWindow(m_bInteractive);
        dialog->RunMessageLoop();
    }
    // An installer acts on a silent run's status. A repair, or the same version installed
    // again, finds every database at the script's version: the data is fine, so that is
    // no failure for it. A run that could not even start its migration has failed.
    const bool bSucceeded =
        dialog && (dialog->Logic().LastResult() == 1 || dialog->Logic().LastOutcome().bUpToDate);
    m_nExitCode = (m_bInteractive || bSucceeded) ? 0 : 1;

    dialog.reset();
    adjust.reset();
    return 0;
}

int CQuorvelApp::Refuse(const WString& strMessage) {
    // Shown even in a silent run, like a missing script: the installer must be told.
    plat::ShowMessageBox(strMessage, plat::kMbOk);
    m_nExitCode = 1;
    return 0;
}

int CQuorvelApp::ExitInstance() { return m_nExitCode; }

std::vector<WString> CQuorvelApp::GetCommandLineArguments() { return plat::CommandLineArguments(); }

int CQuorvelApp::GetStartShowCommand() { return plat::StartShowCommand(); }

WString CQuorvelApp::GetExecutablePath() { return plat::ExecutablePath(); }

std::unique_ptr<CAdjustSystemInfo> CQuorvelApp::CreateAdjustment(const WString& strInstallDir) {
    return CreateAdjustSystemInfo(strInstallDir);
}

std::unique_ptr<CMainDialog> CQuorvelApp::MakeMainDialog() {
    return CreateMainDialog(m_dbProcess, m_strInstallDir, m_bInteractive);
}

// The main dialog: its controls, its texts and its behaviour, apart from how it is shown.
//
// The behaviour (CQuorvelDlgLogic) is the same whatever draws the dialog: it reads and
// writes controls through CDialogView and runs migrations through the engine. A
// presentation (the terminal dialog here; a Win32 dialog from template 102 on Windows)
// implements CMainDialog: it draws the controls, turns the user's actions into calls of
// the On... handlers, and runs until the dialog asks to close.
//
// A migration of a large installation takes long. A presentation that can be woken from
// another thread (the Win32 dialog) has it run on a worker thread while the dialog keeps
// handling its messages; the others run it inside the handler of "数据迁移".
#pragma once

#include <memory>
#include <mutex>
#include <thread>

#include "app/resource.h"
#include "engine/db_process.h"
#include "platform/wstr.h"

namespace dlg {

// Controls of template 102 that the behaviour touches.
constexpr int kIdMigrate = 1;  // button "数据迁移" (IDOK)
constexpr int kIdQuit = 2;     // button "退出" (IDCANCEL)
constexpr int kIdScriptPath = IDC_SCRIPT_PATH;
constexpr int kIdReselect = IDC_RESELECT;  // check box "重选"
constexpr int kIdBrowse = IDC_BROWSE;      // button "...."
constexpr int kIdVersion = IDC_VERSION;
constexpr int kIdSubVersion = IDC_SUBVERSION;
constexpr int kIdScriptVersion = IDC_SCRIPT_VERSION;
constexpr unsigned kIdmAboutBox = IDM_ABOUTBOX;  // the About entry of the system menu

constexpr char16_t kTitle[] = u"Vennic数据迁移程序";
constexpr char16_t kLabelVersion[] = u"当前Vennic版本:";
constexpr char16_t kLabelSubVersion[] = u"当前Vennic子版本:";
constexpr char16_t kLabelScriptVersion[] = u"当前脚本文件版本:";
constexpr char16_t kLabelScriptPath[] = u"升级脚本文件:";
constexpr char16_t kReselect[] = u"重选";
constexpr char16_t kBrowse[] = u"....";
constexpr char16_t kMigrate[] = u"数据迁移";
constexpr char16_t kQuit[] = u"退出";
constexpr char16_t kBrowseFilter[] = u"DataBase Restore(*.dbr)|*.dbr|All Files (*.*)|*.*||";

// String 101: the About entry of the system menu.
constexpr char16_t kAboutMenuEntry[] = u"关于 Quorvel(&A)...";

constexpr char16_t kAboutTitle[] = u"关于 Quorvel";
constexpr char16_t kAboutVersion[] = u"Quorvel 1.0 版";
constexpr char16_t kAboutText[] = u"升级 Vennic 客户端的本地数据库";
constexpr char16_t kAboutOk[] = u"确定";

constexpr char16_t kSucceeded[] = u"数据迁移成功！";
constexpr char16_t kFailed[] = u"数据迁移失败！";

// The caption while a migration runs: its latest progress line, then the title; once the
// user has asked to close, this and then the line.
constexpr char16_t kCaptionSeparator[] = u" - ";
constexpr char16_t kCloseAfterRun[] = u"迁移结束后退出";

}  // namespace dlg

// What the behaviour needs from a window.
class CDialogView {
public:
    virtual ~CDialogView() = default;

    virtual void SetItemText(int nId, const WString& text) = 0;
    // The control's text, whether or not the control is enabled.
    virtual WString GetItemText(int nId) const = 0;
    virtual void EnableItem(int nId, bool bEnable) = 0;
    virtual bool IsItemChecked(int nId) const = 0;
    // Asks for the window to close once the current handler has returned.
    virtual void PostClose() = 0;
    // The file-open dialog for scripts, starting in `folder`. True with the chosen file's
    // full path in `path`; false, with `path` untouched, when the user cancelled.
    virtual bool BrowseForScript(const WString& folder, WString& path) = 0;
    // The About box, modal.
    virtual void ShowAboutBox() = 0;
    // Moves data between the controls and the members bound to them: into the members
    // when `bSaveAndValidate`, else into the controls. A view without bound members has
    // nothing to move.
    virtual bool UpdateData(bool /*bSaveAndValidate*/) { return true; }

    // Whether a migration may run on a worker thread: the view then goes on handling the
    // user's actions, and turns NotifyFromWorker into a call of the behaviour's
    // OnWorkerNotification on its own thread. Views that cannot (the default) run it
    // inside the handler.
    virtual bool CanRunInBackground() const { return false; }
    // Called on the worker thread; must not wait for the dialog's thread.
    virtual void NotifyFromWorker() {}
    // The window's caption.
    virtual void SetTitle(const WString& /*title*/) {}
    // What shows the dialog busy beyond its controls (the taskbar button, the keyboard
    // focus): busy before the controls are disabled, idle after they are enabled again.
    virtual void ShowBusy(bool /*bBusy*/) {}
};

class CQuorvelDlgLogic {
public:
    // `process` is the application's engine, filled by discovery; `strInstallDir` the
    // application's installation folder; `bInteractive` 0 for a silent run.
    CQuorvelDlgLogic(CDBProcess& process, WString strInstallDir, int bInteractive,
                     CDialogView& view);
    // Waits for a migration still running on the worker thread (unreported).
    ~CQuorvelDlgLogic();
    CQuorvelDlgLogic(const CQuorvelDlgLogic&) = delete;
    CQuorvelDlgLogic& operator=(const CQuorvelDlgLogic&) = delete;

    // Fills the controls from discovery. In a silent run it then migrates at once and asks
    // the window to close: the whole run happens while the window is being created.
    void OnInitDialog();
    // Runs one migration, reports "数据迁移成功！" or "数据迁移失败！" (in a message box only
    // when `bInteractive`), shows the sub-version as the script version, and in a silent
    // run asks the window to close. Returns the engine's result, 1 or 0.
    int RunMigration(int bInteractive);

    // "数据迁移": takes the script name from the path edit when that path exists and holds
    // a folder part (only the name is kept: the script is always read from the
    // installation folder), then migrates. The dialog stays open.
    //
    // When the view can, the migration runs on a worker thread and this returns at once:
    // until it ends, "数据迁移", "重选" and "...." are disabled and the caption shows the
    // engine's progress; its end is reported (OnWorkerNotification) as RunMigration does.
    void OnMigrate();
    // Asks the window to close; while a migration runs, only once it has ended and been
    // reported (a close now would leave a database half-built).
    void OnQuit();
    // "重选": the path edit and the browse button follow the check box.
    void OnReselect();
    // "....": a chosen file's full path goes into the path edit.
    void OnBrowse();
    // The About box; not while a migration runs (its end is reported over the dialog).
    void OnAboutBox();

    // The worker has news (a progress line, its end). The view calls this on its own
    // thread after NotifyFromWorker; a call with no news does nothing.
    void OnWorkerNotification();
    // A migration runs on the worker thread and has not been reported yet.
    bool IsMigrating() const { return m_bMigrating; }
    // Waits for the worker thread to end, without reporting its migration: for a view
    // that is going away, so that the worker no longer calls it.
    void WaitForWorker();

    // The result of the last migration, 1 or 0; -1 before the first.
    int LastResult() const { return m_nLastResult; }
    // How the last migration ended.
    const MigrationOutcome& LastOutcome() const { return m_lastOutcome; }

    // The full path of the script "数据迁移" would run now, as OnMigrate picks it; empty
    // when the run would find no script.
    WString ScriptToRun() const;

private:
    // The script name OnMigrate takes: the path edit's file name when that path exists,
    // else the current one.
    WString ChosenScriptName() const;
    // Records a run's outcome and reports it as RunMigration says.
    int Report(MigrationOutcome outcome, int bInteractive);
    // False when no worker thread could be started.
    bool StartInBackground();
    void ShowProgress();
    // Back from a migration in the background: caption, controls, busy signs.
    void ShowIdle();
    // Worker thread: hands a progress line or the outcome to the dialog's thread.
    void Tell(const WString* line, MigrationOutcome* outcome);

    CDBProcess& m_process;
    WString m_strInstallDir;
    int m_bInteractive;
    CDialogView& m_view;
    int m_nLastResult = -1;
    MigrationOutcome m_lastOutcome;

    // The dialog's thread's view of a migration in the background.
    bool m_bMigrating = false;
    bool m_bCloseHeld = false;
    WString m_strProgress;
    std::thread m_worker;

    // What the worker hands over, guarded by m_mutex.
    struct WorkerNews {
        bool bNotified = false;  // a notification is on its way to the dialog's thread
        bool bLine = false;
        WString strLine;
        bool bEnded = false;
        MigrationOutcome outcome;
    };
    std::mutex m_mutex;
    WorkerNews m_news;
};

// The main dialog as start-up drives it: created hidden, shown or kept hidden, then run
// until it has handled its close request.
class CMainDialog : public CDialogView {
public:
    CMainDialog(CDBProcess& process, const WString& strInstallDir, int bInteractive)
        : m_logic(process, strInstallDir, bInteractive, *this) {}
    CMainDialog(const CMainDialog&) = delete;
    CMainDialog& operator=(const CMainDialog&) = delete;

    // Makes the window, invisible, with the controls as the template gives them, and runs
    // OnInitDialog. False when the window cannot be made.
    virtual bool Create() = 0;
    // Shows the window (`nCmdShow` non-zero) or keeps it hidden (0).
    virtual void ShowWindow(int nCmdShow) = 0;
    // Hands the user's actions to the behaviour until the close request has been handled.
    virtual void RunMessageLoop() = 0;

    CQuorvelDlgLogic& Logic() { return m_logic; }

protected:
    CQuorvelDlgLogic m_logic;
};

// The platform's main dialog.
std::unique_ptr<CMainDialog> CreateMainDialog(CDBProcess& process, const WString& strInstallDir,
                                              int bInteractive);

// The main dialog's behaviour, through a view that only records.
#include "app/main_dialog.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "app/app_fixture.h"
#include "app/install_info.h"
#include "engine/db_process.h"

namespace {

class FakeView : public CDialogView {
public:
    // The controls as template 102 makes them.
    FakeView() {
        for (int nId : {dlg::kIdVersion, dlg::kIdSubVersion, dlg::kIdScriptVersion})
            controls[nId].text = u"未知的版本";
        controls[dlg::kIdScriptPath];
        controls[dlg::kIdReselect];
        controls[dlg::kIdBrowse];
    }
    void SetItemText(int nId, const WString& text) override { controls[nId].text = text; }
    WString GetItemText(int nId) const override {
        auto found = controls.find(nId);
        return found == controls.end() ? WString() : found->second.text;
    }
    void EnableItem(int nId, bool bEnable) override { controls[nId].bEnabled = bEnable; }
    bool IsItemChecked(int nId) const override {
        auto found = controls.find(nId);
        return found != controls.end() && found->second.bChecked;
    }
    void PostClose() override { ++closeRequests; }
    bool BrowseForScript(const WString& folder, WString& path) override {
        browsedFrom = folder;
        if (browseAnswer.empty()) return false;
        path = browseAnswer;
        return true;
    }
    void ShowAboutBox() override { ++aboutBoxes; }

    struct Control {
        WString text;
        bool bEnabled = true;
        bool bChecked = false;
    };
    std::map<int, Control> controls;
    int closeRequests = 0;
    int aboutBoxes = 0;
    WString browsedFrom;
    WString browseAnswer;
};

// A view whose dialog thread is the test's. The worker's first notification keeps it
// waiting, in the middle of its migration, until the test opens the gate.
class BackgroundView : public FakeView {
public:
    bool CanRunInBackground() const override { return true; }
    void NotifyFromWorker() override {
        std::unique_lock<std::mutex> lock(mutex);
        ++notifications;
        wakeUp.notify_all();
        wakeUp.wait(lock, [&] { return bGateOpen; });
    }
    void SetTitle(const WString& title) override { titles.push_back(title); }
    void ShowBusy(bool bBusy) override { busy.push_back(bBusy); }

    // Waits for a notification the test has not handed over yet; false when none came.
    bool WaitForWorker() {
        std::unique_lock<std::mutex> lock(mutex);
        return wakeUp.wait_for(lock, std::chrono::seconds(60),
                               [&] { return notifications > delivered; });
    }
    // Hands the next notification to the behaviour, as the dialog's thread would.
    bool Deliver(CQuorvelDlgLogic& logic) {
        if (!WaitForWorker()) return false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            delivered = notifications;
        }
        logic.OnWorkerNotification();
        return true;
    }
    void OpenGate() {
        std::lock_guard<std::mutex> lock(mutex);
        bGateOpen = true;
        wakeUp.notify_all();
    }

    std::mutex mutex;
    std::condition_variable wakeUp;
    bool bGateOpen = false;
    int notifications = 0;
    int delivered = 0;
    std::vector<WString> titles;
    std::vector<bool> busy;
};

class MainDialogTest : public InstallationTest {
protected:
    void Discover(int bInteractive) {
        m_process.SetInstallInfo(install::LoadInstallInfo(m_dir.path(), bInteractive));
    }
    CDBProcess m_process;
    FakeView m_view;
};

TEST_F(MainDialogTest, InitialisationShowsWhatDiscoveryFound) {
    MakeInstallation();
    Discover(1);
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, m_view);
    logic.OnInitDialog();

    EXPECT_EQ(m_view.GetItemText(dlg::kIdVersion), u"8.0.0");
    EXPECT_EQ(m_view.GetItemText(dlg::kIdSubVersion), u"1203");
    EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptVersion), u"未知的版本");
    EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptPath), At(u"up.dbr"));
    EXPECT_FALSE(m_view.controls[dlg::kIdScriptPath].bEnabled);
    EXPECT_FALSE(m_view.controls[dlg::kIdBrowse].bEnabled);
    // An interactive run waits for the user.
    EXPECT_EQ(logic.LastResult(), -1);
    EXPECT_EQ(m_view.closeRequests, 0);
    EXPECT_EQ(Version(), "8.0.0.1");
}

TEST_F(MainDialogTest, SilentRunMigratesDuringInitialisationAndCloses) {
    MakeInstallation();
    Discover(0);
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 0, m_view);
    logic.OnInitDialog();

    EXPECT_EQ(logic.LastResult(), 1);
    EXPECT_EQ(Version(), "8.0.0.2");
    EXPECT_EQ(m_view.closeRequests, 1);
    EXPECT_TRUE(s_messages.empty());  // the result is only logged
    // After a run the script version line shows the sub-version text.
    EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptVersion), u"1203");
}

TEST_F(MainDialogTest, TheResultIsShownAfterEveryInteractiveRun) {
    MakeInstallation();
    Discover(1);
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, m_view);
    logic.OnInitDialog();

    logic.OnMigrate();
    EXPECT_EQ(logic.LastResult(), 1);
    EXPECT_EQ(s_messages, std::vector<WString>{u"数据迁移成功！"});
    EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptVersion), u"1203");
    EXPECT_EQ(m_view.closeRequests, 0);  // the dialog stays open

    // Again: the database is up to date now, so nothing is migrated.
    logic.OnMigrate();
    EXPECT_EQ(logic.LastResult(), 0);
    EXPECT_EQ(s_messages.back(), u"数据迁移失败！");

    logic.OnQuit();
    EXPECT_EQ(m_view.closeRequests, 1);
    logic.OnAboutBox();
    EXPECT_EQ(m_view.aboutBoxes, 1);
}

TEST_F(MainDialogTest, TheMigrationButtonTakesOnlyTheNameOfAnExistingPath) {
    MakeInstallation();
    Discover(1);
    WriteScript(u"other.dbr", u"F_OTHER");
    ASSERT_TRUE(plat::MakeDirectory(At(u"elsewhere")));
    WriteFileBytes(At(u"elsewhere\\other.dbr"), "not a script");
    WriteFileBytes(At(u"elsewhere\\only-there.dbr"), "x");
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, m_view);
    logic.OnInitDialog();

    {  // a path that does not exist: the earlier name stays
        m_view.SetItemText(dlg::kIdScriptPath, At(u"missing.dbr"));
        m_process.m_bScriptFound = 0;  // keeps the run from touching anything
        logic.OnMigrate();
        EXPECT_EQ(m_process.m_strScriptName, u"up.dbr");
    }
    {  // an existing path without a folder part: the earlier name stays
        m_view.SetItemText(dlg::kIdScriptPath, u".");
        logic.OnMigrate();
        EXPECT_EQ(m_process.m_strScriptName, u"up.dbr");
    }
    {  // a script in another folder: only its name counts; the file of that name in the
       // installation folder is the one that runs
        m_process.m_bScriptFound = 1;
        m_view.SetItemText(dlg::kIdScriptPath, At(u"elsewhere\\other.dbr"));
        logic.OnMigrate();
        EXPECT_EQ(m_process.m_strScriptName, u"other.dbr");
        EXPECT_EQ(logic.LastResult(), 1);
        EXPECT_EQ(Columns(), "F_ID,F_NAME,F_OTHER");
    }
    {  // a name that exists only elsewhere: the run reports the missing file
        s_messages.clear();
        m_view.SetItemText(dlg::kIdScriptPath, At(u"elsewhere\\only-there.dbr"));
        logic.OnMigrate();
        EXPECT_EQ(m_process.m_strScriptName, u"only-there.dbr");
        EXPECT_EQ(s_messages, (std::vector<WString>{u"文件:" + At(u"only-there.dbr") + u" 不存在!",
                                                    u"数据迁移失败！"}));
    }
}

TEST_F(MainDialogTest, WithoutADiscoveredScriptNoPickHelps) {
    MakeInstallation();
    plat::RemoveFile(At(u"up.dbr"));
    WriteScript(u"later.dbr", u"F_LATE");
    m_process.m_strInstallDir = m_dir.path();
    m_process.m_bInteractive = 1;  // discovery ran before the script was there
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, m_view);
    logic.OnInitDialog();
    EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptPath), u"");

    m_view.SetItemText(dlg::kIdScriptPath, At(u"later.dbr"));
    logic.OnMigrate();
    EXPECT_EQ(m_process.m_strScriptName, u"later.dbr");
    EXPECT_EQ(m_process.m_bScriptFound, 0);
    EXPECT_EQ(s_messages, (std::vector<WString>{u"没有升级脚本", u"数据迁移失败！"}));
    EXPECT_EQ(Version(), "8.0.0.1");
}

TEST_F(MainDialogTest, ReselectUnlocksThePathAndBrowsing) {
    MakeInstallation();
    Discover(1);
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, m_view);
    logic.OnInitDialog();

    m_view.controls[dlg::kIdReselect].bChecked = true;
    logic.OnReselect();
    EXPECT_TRUE(m_view.controls[dlg::kIdScriptPath].bEnabled);
    EXPECT_TRUE(m_view.controls[dlg::kIdBrowse].bEnabled);

    {  // browsing starts in the installation folder; a cancelled dialog changes nothing
        logic.OnBrowse();
        EXPECT_EQ(m_view.browsedFrom, m_dir.path());
        EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptPath), At(u"up.dbr"));
    }
    {  // a chosen file's full path goes into the edit
        WriteScript(u"other.dbr", u"F_OTHER");
        m_view.browseAnswer = At(u"other.dbr");
        logic.OnBrowse();
        EXPECT_EQ(m_view.GetItemText(dlg::kIdScriptPath), At(u"other.dbr"));
    }

    m_view.controls[dlg::kIdReselect].bChecked = false;
    logic.OnReselect();
    EXPECT_FALSE(m_view.controls[dlg::kIdScriptPath].bEnabled);
    EXPECT_FALSE(m_view.controls[dlg::kIdBrowse].bEnabled);

    // Unticked after the choice: the edit is locked but its text still counts.
    logic.OnMigrate();
    EXPECT_EQ(m_process.m_strScriptName, u"other.dbr");
    EXPECT_EQ(Columns(), "F_ID,F_NAME,F_OTHER");
}

TEST_F(MainDialogTest, AMigrationInTheBackgroundLeavesTheDialogFreeButHeld) {
    MakeInstallation();
    Discover(1);
    BackgroundView view;
    CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, view);
    logic.OnInitDialog();
    view.controls[dlg::kIdReselect].bChecked = true;
    logic.OnReselect();

    logic.OnMigrate();
    ASSERT_TRUE(logic.IsMigrating());
    for (int nId : {dlg::kIdMigrate, dlg::kIdReselect, dlg::kIdBrowse})
        EXPECT_FALSE(view.controls[nId].bEnabled) << nId;
    EXPECT_TRUE(view.controls[dlg::kIdQuit].bEnabled);
    EXPECT_EQ(view.busy, std::vector<bool>{true});
    {  // the worker waits at its first progress line, the new file begun: the user's
       // actions do nothing, and closing waits for the end
        ASSERT_TRUE(view.WaitForWorker());
        EXPECT_TRUE(plat::PathExists(At(u"DB.s3db.new")));
        logic.OnAboutBox();
        logic.OnBrowse();
        logic.OnReselect();
        logic.OnMigrate();
        logic.OnQuit();
        EXPECT_EQ(view.aboutBoxes, 0);
        EXPECT_EQ(view.browsedFrom, u"");
        EXPECT_FALSE(view.controls[dlg::kIdBrowse].bEnabled);
        EXPECT_EQ(view.closeRequests, 0);
        ASSERT_TRUE(view.Deliver(logic));
        EXPECT_TRUE(logic.IsMigrating());
        EXPECT_TRUE(s_messages.empty());
    }
    view.OpenGate();
    while (logic.IsMigrating())
        ASSERT_TRUE(view.Deliver(logic));

    // The caption showed the progress and then the held close request; the title came
    // back, and the result was reported as always, before the close request.
    ASSERT_GE(view.titles.size(), 4u);
    EXPECT_EQ(view.titles[0], u"数据迁移... - Vennic数据迁移程序");
    EXPECT_EQ(view.titles[1], u"迁移结束后退出 - 数据迁移...");
    EXPECT_EQ(view.titles[2], u"迁移结束后退出 - 迁移数据库 DB.s3db (8.0.0.1 -> 8.0.0.2)");
    EXPECT_EQ(view.titles.back(), dlg::kTitle);
    EXPECT_EQ(view.busy, (std::vector<bool>{true, false}));
    EXPECT_EQ(s_messages, std::vector<WString>{dlg::kSucceeded});
    EXPECT_EQ(logic.LastResult(), 1);
    EXPECT_EQ(view.GetItemText(dlg::kIdScriptVersion), u"1203");
    EXPECT_EQ(view.closeRequests, 1);
    EXPECT_EQ(Version(), "8.0.0.2");
    // The controls are back as "重选" left them.
    for (int nId : {dlg::kIdMigrate, dlg::kIdReselect, dlg::kIdBrowse})
        EXPECT_TRUE(view.controls[nId].bEnabled) << nId;

    {  // a run that nobody asks to end leaves the dialog open; the box unticked while
       // idle keeps "...." locked after it
        view.controls[dlg::kIdReselect].bChecked = false;
        logic.OnReselect();
        logic.OnMigrate();
        while (logic.IsMigrating())
            ASSERT_TRUE(view.Deliver(logic));
        EXPECT_EQ(s_messages.back(), dlg::kFailed);  // up to date now
        EXPECT_EQ(view.closeRequests, 1);
        EXPECT_FALSE(view.controls[dlg::kIdBrowse].bEnabled);
        EXPECT_TRUE(view.controls[dlg::kIdMigrate].bEnabled);
        logic.OnQuit();
        EXPECT_EQ(view.closeRequests, 2);
    }
}

TEST_F(MainDialogTest, ADialogGoingAwayWaitsForItsWorker) {
    MakeInstallation();
    Discover(1);
    BackgroundView view;
    view.OpenGate();
    {
        CQuorvelDlgLogic logic(m_process, m_dir.path(), 1, view);
        logic.OnInitDialog();
        logic.OnMigrate();
        EXPECT_TRUE(logic.IsMigrating());
    }
    // Finished, not cut off; and nothing reported: the dialog was gone.
    EXPECT_EQ(Version(), "8.0.0.2");
    EXPECT_FALSE(plat::PathExists(At(u"DB.s3db.tmp")));
    EXPECT_TRUE(s_messages.empty());
}

}  // namespace

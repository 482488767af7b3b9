// Start-up: the run mode, the installation folder, the data folder and the exit status,
// with what the system hands the program put in by the test.
#include "app/quorvel_app.h"

#include <sstream>

#include "app/adjust_system_info.h"
#include "app/app_fixture.h"
#include "app/terminal_dialog.h"

namespace {

class TestApp : public CQuorvelApp {
public:
    std::vector<WString> arguments;
    int nCmdShow = 1;
    WString exePath;
    std::string input = "q\n";  // the user's lines in an interactive run
    std::ostringstream out;
    bool bShown = false;
    // The data-folder choice of any system other than Windows 7, whatever runs the test.
    bool useBaseAdjustment = false;

protected:
    std::vector<WString> GetCommandLineArguments() override { return arguments; }
    int GetStartShowCommand() override { return nCmdShow; }
    WString GetExecutablePath() override { return exePath; }
    std::unique_ptr<CAdjustSystemInfo> CreateAdjustment(const WString& strInstallDir) override {
        if (!useBaseAdjustment) return CQuorvelApp::CreateAdjustment(strInstallDir);
        return std::make_unique<CAdjustSystemInfo>(strInstallDir);
    }
    std::unique_ptr<CMainDialog> MakeMainDialog() override {
        m_in.str(input);
        class Dialog : public CTerminalDialog {
        public:
            using CTerminalDialog::CTerminalDialog;
            bool* pShown = nullptr;
            void ShowWindow(int nCmdShow) override {
                *pShown = nCmdShow != 0;
                CTerminalDialog::ShowWindow(nCmdShow);
            }
        };
        auto dialog =
            std::make_unique<Dialog>(m_dbProcess, m_strInstallDir, m_bInteractive, m_in, out);
        dialog->pShown = &bShown;
        return dialog;
    }

private:
    std::istringstream m_in;
};

class QuorvelAppTest : public InstallationTest {
protected:
    // Runs start-up as the program does; returns the exit status.
    int Start(TestApp& app) {
        app.exePath = At(u"quorvel");
        EXPECT_EQ(app.InitInstance(), 0);
        return app.ExitInstance();
    }
};

TEST_F(QuorvelAppTest, RunModeFromTheSwitchAndTheShowCommand) {
    // No script here: a silent run fails at once, an interactive one waits for "q".
    struct Case {
        std::vector<WString> arguments;
        int nCmdShow;
        int bStartVisible, bInteractive, nExit;
    };
    const Case cases[] = {
        {{}, 1, 1, 1, 0},
        {{u"/S"}, 1, 1, 0, 1},
        {{u"-S"}, 1, 1, 0, 1},
        {{u"/s"}, 1, 1, 1, 0},
        {{u"/from", u"7.5.0.12"}, 1, 1, 1, 0},
        {{u"/from", u"7.5.0.12", u"/S"}, 1, 1, 0, 1},
        {{u"upgrade.dbr", u"/x"}, 10, 1, 1, 0},  // SW_SHOWDEFAULT
        {{}, 0, 0, 0, 1},                        // started hidden: silent without /S
    };
    for (const Case& c : cases) {
        TestApp app;
        app.arguments = c.arguments;
        app.nCmdShow = c.nCmdShow;
        const int nExit = Start(app);
        SCOPED_TRACE(c.arguments.empty() ? std::string("(none)") : ToUtf8(c.arguments[0]));
        EXPECT_EQ(app.m_bStartVisible, c.bStartVisible);
        EXPECT_EQ(app.m_bInteractive, c.bInteractive);
        EXPECT_EQ(app.m_dbProcess.m_bInteractive, c.bInteractive);
        EXPECT_EQ(app.bShown, c.bInteractive == 1);
        EXPECT_EQ(nExit, c.nExit);
        // Only an interactive run draws anything.
        EXPECT_EQ(app.out.str().empty(), c.bInteractive == 0);
    }
}

TEST_F(QuorvelAppTest, SilentRunExitsWithTheMigrationsResult) {
    MakeInstallation();
    {
        TestApp app;
        app.arguments = {u"/S"};
        EXPECT_EQ(Start(app), 0);
        EXPECT_EQ(app.m_strInstallDir, m_dir.path());
        EXPECT_EQ(app.m_dbProcess.m_strInstallDir, m_dir.path());
        EXPECT_EQ(app.m_dbProcess.m_strSubVersion, u"1203");
        EXPECT_EQ(app.m_strDataDir, m_dir.path());
        EXPECT_EQ(app.m_dbProcess.m_strDataDir, m_dir.path());
        EXPECT_EQ(Version(), "8.0.0.2");
        EXPECT_TRUE(s_messages.empty());
    }
    {  // the same again, as a repair install makes it: every database is at the script's
       // version, which is no failure for an installer, though the messages stay
        TestApp app;
        app.arguments = {u"/S"};
        EXPECT_EQ(Start(app), 0);
        EXPECT_EQ(Version(), "8.0.0.2");
        const WString log = FromAnsi(ReadFileBytes(At(u"ReData.log")));
        const size_t upToDate = log.rfind(u"全部数据库版本号已经最新,不需要迁移");
        ASSERT_NE(upToDate, WString::npos);
        EXPECT_NE(log.find(u"数据迁移失败！", upToDate), WString::npos);
    }
    // Nothing migrated, yet not every listed database is up to date: a failure.
    ScriptText upToDateAndFolder, noDatabase;
    upToDateAndFolder.Head(u"1200").Count(2).Database(1, u"DB.s3db", u"8.0.0.2");
    upToDateAndFolder.Database(2, u"Other.s3db", u"8.0.0.2");
    UserTables(upToDateAndFolder, 1);
    UserTables(upToDateAndFolder, 2);
    noDatabase.Head(u"1200").Count(0);
    ASSERT_TRUE(plat::MakeDirectory(At(u"Other.s3db")));
    for (const ScriptText* script : {&upToDateAndFolder, &noDatabase}) {
        int badLine = 0;
        ASSERT_TRUE(WriteScriptFile(At(u"up.dbr"), script->Text(), badLine)) << badLine;
        TestApp app;
        app.arguments = {u"/S"};
        EXPECT_EQ(Start(app), 1);
        EXPECT_EQ(Version(), "8.0.0.2");
    }
    {  // an interactive run ends with 0 whatever happened
        TestApp app;
        app.input = "m\nq\n";
        EXPECT_EQ(Start(app), 0);
        EXPECT_EQ(s_messages.back(), u"数据迁移失败！");
    }
}

// The installation folder shows no sign of being writable (folders stand at every name its
// probe file could take): start-up keeps no data folder, and the engine works in the
// installation folder.
TEST_F(QuorvelAppTest, NoUsableDataFolderLeavesItEmpty) {
    MakeInstallation();
    ASSERT_TRUE(plat::MakeDirectory(At(u"update_tmp_.exe")));
    for (int n = 1; n < 8; ++n)
        ASSERT_TRUE(plat::MakeDirectory(At(u"update_tmp_" + wstr::FromInt(n) + u".exe")));
    TestApp app;
    app.arguments = {u"/S"};
    app.useBaseAdjustment = true;
    EXPECT_EQ(Start(app), 0);
    EXPECT_EQ(app.m_strDataDir, u"");
    EXPECT_EQ(app.m_dbProcess.m_strDataDir, u"");
    EXPECT_EQ(Version(), "8.0.0.2");
}

#ifndef _WIN32
// On Linux a folder may be named "inst\other" or hold bytes that are not UTF-8: no
// Windows path names it, and it is never taken for another folder. The run is refused
// before discovery, with a message even when silent.
TEST_F(QuorvelAppTest, AFolderNoWindowsPathCanNameIsRefused) {
    MakeInstallation();
    for (char16_t kept : {char16_t(0xDC5C), char16_t(0xDCFF)}) {
        TestApp app;
        app.arguments = {u"/S"};
        app.exePath = m_dir.path() + u"\\inst" + kept + u"other\\quorvel";
        EXPECT_EQ(app.InitInstance(), 0);
        EXPECT_EQ(app.ExitInstance(), 1);
        EXPECT_EQ(app.m_dbProcess.m_strInstallDir, u"");  // no discovery
        ASSERT_FALSE(s_messages.empty());
        EXPECT_NE(s_messages.back().find(u"的路径含有反斜杠或不是 UTF-8 的字节"), WString::npos);
        EXPECT_NE(s_messages.back().find(kept == 0xDC5C ? u"inst\\other" : u"inst\\xFFother"),
                  WString::npos);
    }
    EXPECT_EQ(Version(), "8.0.0.1");
}
#endif

}  // namespace

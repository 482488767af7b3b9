// The Win32 main dialog, made from the real templates and driven with the messages its
// controls send. The windows exist without being shown (Wine's null display driver under
// the cross build's test runner).
#include "app/quorvel_dlg.h"

#include <map>

#include "app/app_fixture.h"
#include "app/install_info.h"
#include "engine/db_process.h"
#include "support/observe.h"

namespace {

using plat::wm::kBmClick;
using plat::wm::kBmSetCheck;
using plat::wm::kCommand;

// Window styles the template gives (the values of the Win32 constants named).
constexpr unsigned long kWsVisible = 0x10000000;
constexpr unsigned long kWsTabStop = 0x00010000;
constexpr unsigned long kWsGroup = 0x00020000;
constexpr unsigned long kEsAutoHScroll = 0x0080;
constexpr unsigned long kBsTypeMask = 0x000F;
constexpr unsigned long kBsPushButton = 0x0;
constexpr unsigned long kBsDefPushButton = 0x1;
constexpr unsigned long kBsAutoCheckBox = 0x3;
constexpr unsigned long kSsSunken = 0x1000;

class QuorvelDlgTest : public InstallationTest {
protected:
    void TearDown() override {
        // Messages left for windows of this test must not reach the next one's loop.
        observe::DiscardPostedMessages();
        InstallationTest::TearDown();
    }
    void Discover(int bInteractive) {
        m_process.SetInstallInfo(install::LoadInstallInfo(m_dir.path(), bInteractive));
    }
    std::map<int, observe::WindowInfo> Controls(const CQuorvelDlg& dialog) {
        std::map<int, observe::WindowInfo> controls;
        for (const observe::WindowInfo& child : observe::ChildWindows(dialog.Handle()))
            controls[child.nId] = child;
        return controls;
    }
    void Click(const CQuorvelDlg& dialog, int nId) {
        observe::SendToWindow(Controls(dialog)[nId].handle, kBmClick, 0, 0);
    }
    // Handles the dialog's messages until its migration on the worker has been reported.
    void WaitForMigration(CQuorvelDlg& dialog) {
        ASSERT_TRUE(
            observe::DispatchMessagesUntil([&] { return !dialog.Logic().IsMigrating(); }, 60000));
    }
    CDBProcess m_process;
};

TEST_F(QuorvelDlgTest, TemplateAndInitialisation) {
    MakeInstallation();
    Discover(1);
    CQuorvelDlg dialog(m_process, m_dir.path(), 1);
    ASSERT_TRUE(dialog.Create());

    const observe::WindowInfo window = observe::DescribeWindow(dialog.Handle());
    EXPECT_EQ(window.text, dlg::kTitle);
    EXPECT_FALSE(window.bVisible);  // start-up decides whether it is shown

    // Every control of template 102, with the texts discovery put in.
    struct Expected {
        int nId;
        const char16_t* className;
        WString text;
        bool bEnabled;
    };
    const Expected expected[] = {
        {1001, u"Static", dlg::kLabelVersion, true},
        {1007, u"Static", u"8.0.0", true},
        {1002, u"Static", dlg::kLabelSubVersion, true},
        {1008, u"Static", u"1203", true},
        {1009, u"Static", dlg::kLabelScriptVersion, true},
        {1010, u"Static", u"未知的版本", true},
        {1003, u"Static", dlg::kLabelScriptPath, true},
        {1004, u"Edit", At(u"up.dbr"), false},
        {1005, u"Button", dlg::kReselect, true},
        {1006, u"Button", dlg::kBrowse, false},
        {1000, u"Static", u"", true},
        {1, u"Button", dlg::kMigrate, true},
        {2, u"Button", dlg::kQuit, true},
    };
    std::map<int, observe::WindowInfo> controls = Controls(dialog);
    EXPECT_EQ(controls.size(), std::size(expected));
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.nId);
        ASSERT_EQ(controls.count(e.nId), 1u);
        const observe::WindowInfo& control = controls[e.nId];
        EXPECT_TRUE(wstr::EqualsNoCase(control.className, e.className));
        EXPECT_EQ(control.text, e.text);
        EXPECT_EQ(control.bEnabled, e.bEnabled);
        EXPECT_NE(control.style & kWsVisible, 0u);
    }
    // (The dialog manager draws the edit's border as a sunken client edge instead.)
    EXPECT_EQ(controls[1004].style & (kWsTabStop | kEsAutoHScroll), kWsTabStop | kEsAutoHScroll);
    EXPECT_EQ(controls[1005].style & kBsTypeMask, kBsAutoCheckBox);
    EXPECT_EQ(controls[1].style & kBsTypeMask, kBsPushButton);
    EXPECT_EQ(controls[2].style & kBsTypeMask, kBsDefPushButton);
    EXPECT_EQ(controls[1000].style & (kSsSunken | kWsGroup), kSsSunken | kWsGroup);

    // The separator is a line: one pixel high, as wide as the path edit.
    EXPECT_EQ(controls[1000].rect.Height(), 1);
    EXPECT_EQ(controls[1000].rect.left, controls[1004].rect.left);
    EXPECT_EQ(controls[1000].rect.Width(), controls[1004].rect.Width());

    EXPECT_EQ(observe::SystemMenuEntryText(dialog.Handle(), dlg::kIdmAboutBox),
              dlg::kAboutMenuEntry);

    // One icon everywhere: the window's two and the one dragged when minimized.
    ASSERT_NE(dialog.Icon(), nullptr);
    const auto icon = reinterpret_cast<intptr_t>(dialog.Icon());
    EXPECT_EQ(observe::SendToWindow(dialog.Handle(), plat::wm::kGetIcon, plat::wm::kIconBig, 0),
              icon);
    EXPECT_EQ(observe::SendToWindow(dialog.Handle(), plat::wm::kGetIcon, plat::wm::kIconSmall, 0),
              icon);
    EXPECT_EQ(observe::SendToWindow(dialog.Handle(), plat::wm::kQueryDragIcon, 0, 0), icon);

    // An interactive dialog waits for the user.
    EXPECT_EQ(dialog.Logic().LastResult(), -1);
    EXPECT_FALSE(observe::HasPostedMessage(dialog.Handle(), plat::wm::kClose));
    EXPECT_EQ(Version(), "8.0.0.1");
}

TEST_F(QuorvelDlgTest, ButtonsDriveTheDialog) {
    MakeInstallation();
    WriteScript(u"other.dbr", u"F_OTHER");
    Discover(1);
    CQuorvelDlg dialog(m_process, m_dir.path(), 1);
    ASSERT_TRUE(dialog.Create());
    dialog.ShowWindow(1);

    // "重选" unlocks the path and the browse button, and locks them again.
    Click(dialog, dlg::kIdReselect);
    EXPECT_TRUE(Controls(dialog)[dlg::kIdScriptPath].bEnabled);
    EXPECT_TRUE(Controls(dialog)[dlg::kIdBrowse].bEnabled);
    Click(dialog, dlg::kIdReselect);
    EXPECT_FALSE(Controls(dialog)[dlg::kIdScriptPath].bEnabled);
    EXPECT_FALSE(Controls(dialog)[dlg::kIdBrowse].bEnabled);

    // A path typed into the edit is read even after the edit was locked again: only its
    // file name counts.
    dialog.SetItemText(dlg::kIdScriptPath, At(u"other.dbr"));
    Click(dialog, dlg::kIdMigrate);
    WaitForMigration(dialog);
    EXPECT_EQ(s_messages, std::vector<WString>{dlg::kSucceeded});
    EXPECT_EQ(Columns(), "F_ID,F_NAME,F_OTHER");
    EXPECT_EQ(Controls(dialog)[dlg::kIdScriptVersion].text, u"1203");
    EXPECT_FALSE(observe::HasPostedMessage(dialog.Handle(), plat::wm::kClose));

    // "退出" asks the window to close, which ends the message loop.
    Click(dialog, dlg::kIdQuit);
    EXPECT_TRUE(observe::HasPostedMessage(dialog.Handle(), plat::wm::kClose));
    dialog.RunMessageLoop();
    EXPECT_FALSE(observe::HasPostedMessage(dialog.Handle(), plat::wm::kClose));
}

TEST_F(QuorvelDlgTest, CloseBoxGoesThroughQuit) {
    MakeInstallation();
    Discover(1);
    CQuorvelDlg dialog(m_process, m_dir.path(), 1);
    ASSERT_TRUE(dialog.Create());
    dialog.ShowWindow(1);

    // The close box's command: the dialog manager turns the close request into the
    // "退出" button's command, whose handler asks for the close that ends the loop.
    constexpr uintptr_t kScClose = 0xF060;
    observe::SendToWindow(dialog.Handle(), plat::wm::kSysCommand, kScClose, 0);
    EXPECT_TRUE(observe::HasPostedMessage(dialog.Handle(), kCommand));
    dialog.RunMessageLoop();
    EXPECT_EQ(Version(), "8.0.0.1");  // quitting migrates nothing
    EXPECT_TRUE(s_messages.empty());
}

TEST_F(QuorvelDlgTest, AMigrationRunsBesideTheLoopAndHoldsEveryCloseRequest) {
    MakeInstallation();
    Discover(1);
    CQuorvelDlg dialog(m_process, m_dir.path(), 1);
    ASSERT_TRUE(dialog.Create());
    dialog.ShowWindow(1);

    Click(dialog, dlg::kIdMigrate);
    ASSERT_TRUE(dialog.Logic().IsMigrating());
    std::map<int, observe::WindowInfo> controls = Controls(dialog);
    for (int nId : {dlg::kIdMigrate, dlg::kIdReselect, dlg::kIdBrowse})
        EXPECT_FALSE(controls[nId].bEnabled) << nId;
    EXPECT_TRUE(controls[dlg::kIdQuit].bEnabled);
    EXPECT_EQ(observe::DescribeWindow(dialog.Handle()).text, u"数据迁移... - Vennic数据迁移程序");

    // The close box (and Alt+F4: the same command), "退出" and Escape (the dialog manager
    // makes IDCANCEL of them), a WM_CLOSE and a WM_NULL from outside: the loop goes on
    // until the run has been reported, then closes.
    constexpr uintptr_t kScClose = 0xF060;
    observe::SendToWindow(dialog.Handle(), plat::wm::kSysCommand, kScClose, 0);
    Click(dialog, dlg::kIdQuit);
    observe::PostToWindow(dialog.Handle(), plat::wm::kClose, 0, 0);
    observe::PostToWindow(dialog.Handle(), plat::wm::kNull, 0, 0);
    dialog.RunMessageLoop();

    EXPECT_FALSE(dialog.Logic().IsMigrating());
    EXPECT_EQ(s_messages, std::vector<WString>{dlg::kSucceeded});
    EXPECT_EQ(Version(), "8.0.0.2");
    EXPECT_EQ(observe::DescribeWindow(dialog.Handle()).text, dlg::kTitle);
    controls = Controls(dialog);
    EXPECT_TRUE(controls[dlg::kIdMigrate].bEnabled);
    EXPECT_TRUE(controls[dlg::kIdReselect].bEnabled);
    EXPECT_FALSE(controls[dlg::kIdBrowse].bEnabled);  // "重选" is not ticked
    EXPECT_EQ(controls[dlg::kIdScriptVersion].text, u"1203");
}

TEST_F(QuorvelDlgTest, LoopEndsRightAfterTheFirstCloseNullOrQuit) {
    MakeInstallation();
    Discover(1);
    for (unsigned ender : {plat::wm::kClose, plat::wm::kNull, plat::wm::kQuit}) {
        SCOPED_TRACE(ender);
        CQuorvelDlg dialog(m_process, m_dir.path(), 1);
        ASSERT_TRUE(dialog.Create());
        plat::WindowHandle box = Controls(dialog)[dlg::kIdReselect].handle;
        const uintptr_t reselected = plat::CommandParam(dlg::kIdReselect, plat::wm::kBnClicked);

        // Ticked and handled before the end; unticked and handled after it, which must
        // not happen.
        observe::SendToWindow(box, kBmSetCheck, 1, 0);
        observe::PostToWindow(dialog.Handle(), kCommand, reselected, 0);
        observe::PostToWindow(dialog.Handle(), ender, 0, 0);
        observe::PostToWindow(box, kBmSetCheck, 0, 0);
        observe::PostToWindow(dialog.Handle(), kCommand, reselected, 0);
        // A loop that missed the end stops here instead of waiting for ever.
        observe::PostToWindow(dialog.Handle(), plat::wm::kClose, 0, 0);
        dialog.RunMessageLoop();

        EXPECT_TRUE(Controls(dialog)[dlg::kIdScriptPath].bEnabled);
        EXPECT_TRUE(observe::HasPostedMessage(dialog.Handle(), kCommand));
        observe::DiscardPostedMessages();
    }
}

TEST_F(QuorvelDlgTest, SilentRunMigratesWhileTheDialogIsMade) {
    MakeInstallation();
    Discover(0);
    CQuorvelDlg dialog(m_process, m_dir.path(), 0);
    ASSERT_TRUE(dialog.Create());

    EXPECT_EQ(dialog.Logic().LastResult(), 1);
    EXPECT_EQ(Version(), "8.0.0.2");
    EXPECT_TRUE(s_messages.empty());
    EXPECT_EQ(Controls(dialog)[dlg::kIdScriptVersion].text, u"1203");
    EXPECT_TRUE(observe::HasPostedMessage(dialog.Handle(), plat::wm::kClose));

    dialog.ShowWindow(0);
    EXPECT_FALSE(observe::DescribeWindow(dialog.Handle()).bVisible);
    dialog.RunMessageLoop();
    EXPECT_FALSE(observe::HasPostedMessage(dialog.Handle(), plat::wm::kClose));
}

}  // namespace

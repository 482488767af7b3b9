// The terminal dialog driven through streams: what it prints and which keys do what.
#include "app/terminal_dialog.h"

#include <sstream>

#include "app/app_fixture.h"
#include "app/install_info.h"
#include "engine/db_process.h"

namespace {

class TerminalDialogTest : public InstallationTest {
protected:
    // Runs the dialog as start-up does, with `input` as the user's lines; returns what it
    // printed.
    std::string Run(int bInteractive, const std::string& input) {
        if (!m_bDiscovered) Discover(bInteractive);
        std::istringstream in(input);
        std::ostringstream out;
        CTerminalDialog dialog(m_process, m_dir.path(), bInteractive, in, out);
        EXPECT_TRUE(dialog.Create());
        dialog.ShowWindow(bInteractive);
        dialog.RunMessageLoop();
        m_nLastResult = dialog.Logic().LastResult();
        m_strPath = dialog.GetItemText(dlg::kIdScriptPath);
        return out.str();
    }
    // Discovery, before the test adds the scripts it must not find.
    void Discover(int bInteractive) {
        m_process.SetInstallInfo(install::LoadInstallInfo(m_dir.path(), bInteractive));
        m_bDiscovered = true;
    }
    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
    std::string Native(WStringView relative) const {
        return ToUtf8(plat::ToNativePath(At(relative)));
    }

    CDBProcess m_process;
    bool m_bDiscovered = false;
    int m_nLastResult = -2;
    WString m_strPath;
};

TEST_F(TerminalDialogTest, ShowsTheTemplatesLabelsAndValues) {
    MakeInstallation();
    const std::string out = Run(1, "q\n");
    EXPECT_TRUE(Has(out, "Vennic数据迁移程序"));
    EXPECT_TRUE(Has(out, "当前Vennic版本:     8.0.0\n"));
    EXPECT_TRUE(Has(out, "当前Vennic子版本:   1203\n"));
    EXPECT_TRUE(Has(out, "当前脚本文件版本:   未知的版本\n"));
    EXPECT_TRUE(Has(out, "升级脚本文件:       " + Native(u"up.dbr") + "\n"));
    EXPECT_TRUE(Has(out, "[ ] 重选"));
    EXPECT_TRUE(Has(out, "m 数据迁移"));
    EXPECT_TRUE(Has(out, "q 退出"));
    // Locked: the path and browse keys are not offered.
    EXPECT_FALSE(Has(out, "p 输入路径"));
    EXPECT_EQ(m_nLastResult, -1);
    EXPECT_EQ(Version(), "8.0.0.1");
}

TEST_F(TerminalDialogTest, MigratesShowingEachDatabaseAndTable) {
    MakeInstallation();
    const std::string out = Run(1, "m\nq\n");
    EXPECT_EQ(m_nLastResult, 1);
    EXPECT_EQ(Version(), "8.0.0.2");
    EXPECT_TRUE(Has(out, "迁移数据库 DB.s3db (8.0.0.1 -> 8.0.0.2)\n"));
    EXPECT_TRUE(Has(out, "表 TUSER: 3 行\n"));
    EXPECT_TRUE(Has(out, "表 TVERSION: 1 行\n"));
    EXPECT_EQ(s_messages, std::vector<WString>{u"数据迁移成功！"});
    // Drawn again after the run, with the sub-version as the script version.
    EXPECT_TRUE(Has(out, "当前脚本文件版本:   1203\n"));
}

TEST_F(TerminalDialogTest, ThePathCanBeTypedOnlyWhileReselectIsTicked) {
    MakeInstallation();
    Discover(1);
    WriteScript(u"other.dbr", u"F_OTHER");
    const std::string other = Native(u"other.dbr");
    const std::string out = Run(1, "p\n" + other + "\nr\np\n" + other + "\nr\nm\nq\n");
    // The first "p" is refused, so the path line is read as a command.
    EXPECT_TRUE(Has(out, "先勾选“重选” (r)"));
    EXPECT_TRUE(Has(out, "未知的操作: " + other));
    EXPECT_TRUE(Has(out, "[x] 重选"));
    EXPECT_TRUE(Has(out, "p 输入路径   b ...."));
    EXPECT_EQ(m_strPath, At(u"other.dbr"));
    EXPECT_EQ(m_process.m_strScriptName, u"other.dbr");
    EXPECT_EQ(m_nLastResult, 1);
    EXPECT_EQ(Columns(), "F_ID,F_NAME,F_OTHER");
}

// A name typed without a folder is a file of the installation folder, whatever the
// working folder; the screen shows the script "数据迁移" runs, also when the typed one does
// not exist.
TEST_F(TerminalDialogTest, ATypedNameIsAFileOfTheInstallationFolder) {
    MakeInstallation();
    Discover(1);
    WriteScript(u"new.dbr", u"F_NEW");
    const std::string out = Run(1, "r\np\ngone.dbr\np\nnew.dbr\nm\nq\n");
    EXPECT_TRUE(Has(out, "升级脚本文件:       " + Native(u"gone.dbr") +
                             "\n"
                             "  将运行的脚本:       " +
                             Native(u"up.dbr") + "\n"))
        << out;
    EXPECT_TRUE(Has(out, "升级脚本文件:       " + Native(u"new.dbr") +
                             "\n"
                             "  将运行的脚本:       " +
                             Native(u"new.dbr") + "\n"))
        << out;
    EXPECT_EQ(m_strPath, At(u"new.dbr"));
    EXPECT_EQ(m_process.m_strScriptName, u"new.dbr");
    EXPECT_EQ(m_nLastResult, 1);
    EXPECT_EQ(Columns(), "F_ID,F_NAME,F_NEW");
}

TEST_F(TerminalDialogTest, BrowsingListsTheScriptsOfAFolder) {
    MakeInstallation();
    Discover(1);
    WriteScript(u"b.dbr", u"F_B");
    ASSERT_TRUE(plat::MakeDirectory(At(u"dir.dbr")));
    ASSERT_TRUE(plat::MakeDirectory(At(u"empty")));
    WriteFileBytes(At(u"notes.txt"), "x");
    // Locked first; then the installation folder (Enter), a choice; an empty folder; a
    // cancelled choice.
    const std::string out = Run(1, "b\nr\nb\n\n2\nb\n" + Native(u"empty") + "\nb\n\n\nq\n");
    EXPECT_TRUE(Has(out, "先勾选“重选” (r)"));
    EXPECT_TRUE(Has(out, "文件夹 [" + ToUtf8(plat::ToNativePath(m_dir.path())) + "]: "));
    EXPECT_TRUE(Has(out, "  1  b.dbr\n  2  up.dbr\n  编号"));  // no folder, no other files
    EXPECT_TRUE(Has(out, "(没有 *.dbr 文件)"));
    EXPECT_EQ(m_strPath, At(u"up.dbr"));
    EXPECT_EQ(m_nLastResult, -1);
}

TEST_F(TerminalDialogTest, AboutBoxAndTheEndOfInput) {
    MakeInstallation();
    const std::string out = Run(1, "a\n\nx\n");  // no "q": the input just ends
    EXPECT_TRUE(Has(out, "关于 Quorvel"));
    EXPECT_TRUE(Has(out, "Quorvel 1.0 版"));
    EXPECT_TRUE(Has(out, "[确定: Enter]"));
    EXPECT_TRUE(Has(out, "未知的操作: x"));
    EXPECT_EQ(m_nLastResult, -1);
}

TEST_F(TerminalDialogTest, SilentRunPrintsNothing) {
    MakeInstallation();
    const std::string out = Run(0, "q\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(m_nLastResult, 1);
    EXPECT_EQ(Version(), "8.0.0.2");
    EXPECT_TRUE(s_messages.empty());
}

}  // namespace

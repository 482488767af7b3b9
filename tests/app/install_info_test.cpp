// Discovery: the client's versions and the script beside the program.
#include "app/install_info.h"

#include <gtest/gtest.h>

#include "engine/db_process.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

WString PeFile(const char* name) {
    return plat::FromNativePath(FromUtf8(std::string(QUORVEL_TEST_DATA_DIR) + "/pe/" + name));
}

void CopyClient(const char* name, const WString& folder) {
    WriteFileBytes(folder + u"\\vennic.exe", ReadFileBytes(PeFile(name)));
}

TEST(InstallInfoTest, SubVersionIsWhatFollowsTheLastV) {
    using install::SubVersionFromFileVersion;
    EXPECT_EQ(SubVersionFromFileVersion(u"8.0.0V1203"), u"1203");
    EXPECT_EQ(SubVersionFromFileVersion(u"8.0.0.0"), u"8.0.0.0");
    EXPECT_EQ(SubVersionFromFileVersion(u"8V1V2"), u"2");
    EXPECT_EQ(SubVersionFromFileVersion(u"8.2.0v3001"), u"3001");
    // Upper-cased first, so the "V" of "ver" is the last one: what follows it is kept.
    EXPECT_EQ(SubVersionFromFileVersion(u"ver8.0.1"), u"ER8.0.1");
    EXPECT_EQ(SubVersionFromFileVersion(u"8.1.0测试版V2001"), u"2001");
    EXPECT_EQ(SubVersionFromFileVersion(u"8.0.0V"), u"");
    EXPECT_EQ(SubVersionFromFileVersion(u"beta"), u"BETA");
    EXPECT_EQ(SubVersionFromFileVersion(u""), u"");
}

TEST(InstallInfoTest, ReadsTheClientAndFindsTheScript) {
    ScopedTempDir dir;
    CopyClient("vennic-8.0.0V1203.exe", dir.path());
    WriteFileBytes(dir.Sub(u"升级.dbr"), "x");
    CDBProcess process;
    process.m_strInstallDir = dir.path();
    process.m_strSubVersion = u"old";

    EXPECT_EQ(process.LoadInstallInfo(0), 0);
    EXPECT_EQ(process.m_bInteractive, 0);
    EXPECT_EQ(process.m_strVersion, u"8.0.0");
    EXPECT_EQ(process.m_strSubVersion, u"1203");
    EXPECT_EQ(process.m_strVersion2, u"未知的版本");
    EXPECT_EQ(process.m_strDbName, u"DB.s3db");
    EXPECT_EQ(process.m_strInstallDir, dir.path());
    EXPECT_EQ(process.m_bScriptFound, 1);
    EXPECT_EQ(process.m_strScriptName, u"升级.dbr");

    process.LoadInstallInfo(1);
    EXPECT_EQ(process.m_bInteractive, 1);
}

TEST(InstallInfoTest, NoClientGivesEmptyVersions) {
    ScopedTempDir dir;
    CDBProcess process;
    process.m_strInstallDir = dir.path();
    process.LoadInstallInfo(1);
    // Empty, not "未知的版本": the reader answers with empty texts.
    EXPECT_EQ(process.m_strVersion, u"");
    EXPECT_EQ(process.m_strSubVersion, u"");
    EXPECT_EQ(process.m_bScriptFound, 0);

    // A client without a version block, or without the Chinese string table, the same.
    for (const char* name : {"vennic-no-version.exe", "vennic-040904B0.exe"}) {
        CopyClient(name, dir.path());
        process.LoadInstallInfo(1);
        EXPECT_EQ(process.m_strVersion, u"") << name;
        EXPECT_EQ(process.m_strSubVersion, u"") << name;
    }
    CopyClient("vennic-chinese.exe", dir.path());
    process.LoadInstallInfo(1);
    EXPECT_EQ(process.m_strVersion, u"8.1.0 正式版");
    EXPECT_EQ(process.m_strSubVersion, u"2001");
    // Version resources in two languages, English first: the Chinese one is the client's,
    // as Windows reads it, so a script needing 2200 is refused for this 2105.
    CopyClient("vennic-two-languages.exe", dir.path());
    process.LoadInstallInfo(1);
    EXPECT_EQ(process.m_strVersion, u"8.1.0");
    EXPECT_EQ(process.m_strSubVersion, u"2105");
}

// The demo installation shipped with the program: its client and its script.
TEST(InstallInfoTest, TheDemoInstallation) {
    CDBProcess process;
    process.m_strInstallDir = plat::FromNativePath(FromUtf8(QUORVEL_DEMO_DIR));
    process.LoadInstallInfo(0);
    EXPECT_EQ(process.m_strVersion, u"8.1.0");
    EXPECT_EQ(process.m_strSubVersion, u"2105");
    EXPECT_EQ(process.m_bScriptFound, 1);
    EXPECT_EQ(process.m_strScriptName, u"upgrade.dbr");
}

// Makes `name` a file the search must skip: hidden (and a system file with `system`).
// Elsewhere than Windows a hidden file is one whose name begins with ".", and there are no
// system files.
WString SkippedFile(const ScopedTempDir& dir, const WString& name, bool system) {
#ifdef _WIN32
    WriteFileBytes(dir.Sub(name), "x");
    EXPECT_TRUE(plat::SetHiddenSystemForTesting(dir.Sub(name), !system, system));
    return name;
#else
    (void)system;
    WriteFileBytes(dir.Sub(u"." + name), "x");
    return u"." + name;
#endif
}

TEST(InstallInfoTest, ScriptSearchSkipsHiddenSystemAndFolders) {
    ScopedTempDir dir;
    CDBProcess process;
    process.m_strInstallDir = dir.path();
    process.m_strScriptName = u"earlier.dbr";

    {  // a folder holding only "." and "..": nothing found, the name kept
        EXPECT_EQ(process.FindScriptFile(), 1);
        EXPECT_EQ(process.m_bScriptFound, 0);
        EXPECT_EQ(process.m_strScriptName, u"earlier.dbr");
    }
    {  // only files the search must skip, and a folder that matches the pattern
        SkippedFile(dir, u"hidden.dbr", false);
        SkippedFile(dir, u"system.dbr", true);
        ASSERT_TRUE(plat::MakeDirectory(dir.Sub(u"folder.dbr")));
        WriteFileBytes(dir.Sub(u"notes.dbr.txt"), "x");
        EXPECT_EQ(process.FindScriptFile(), 1);
        EXPECT_EQ(process.m_bScriptFound, 0);
        EXPECT_EQ(process.m_strScriptName, u"earlier.dbr");
    }
    {  // a visible script among them is taken, whatever order the system yields them in;
       // the name as the system spells it, with its extension
        WriteFileBytes(dir.Sub(u"Upgrade.DBR"), "x");
        EXPECT_EQ(process.FindScriptFile(), 1);
        EXPECT_EQ(process.m_bScriptFound, 1);
        EXPECT_EQ(process.m_strScriptName, u"Upgrade.DBR");
    }
}

}  // namespace

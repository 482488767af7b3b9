// Discovery: the client's versions and the script beside the program.
#include "app/install_info.h"

#include <gtest/gtest.h>

#include "engine/db_process.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/file_conditions.h"
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

    // What discovery learned, as the engine gets it: every field.
    CDBProcess process;
    process.m_strSubVersion = u"old";
    process.SetInstallInfo(install::LoadInstallInfo(dir.path(), 0));
    EXPECT_EQ(process.m_bInteractive, 0);
    EXPECT_EQ(process.m_strVersion, u"8.0.0");
    EXPECT_EQ(process.m_strSubVersion, u"1203");
    EXPECT_EQ(process.m_strVersion2, u"未知的版本");
    EXPECT_EQ(process.m_strDbName, u"DB.s3db");
    EXPECT_EQ(process.m_strInstallDir, dir.path());
    EXPECT_EQ(process.m_bScriptFound, 1);
    EXPECT_EQ(process.m_strScriptName, u"升级.dbr");
    EXPECT_EQ(install::LoadInstallInfo(dir.path(), 1).bInteractive, 1);
}

TEST(InstallInfoTest, NoClientGivesEmptyVersions) {
    ScopedTempDir dir;
    InstallInfo info = install::LoadInstallInfo(dir.path(), 1);
    // Empty, not "未知的版本": the reader answers with empty texts.
    EXPECT_EQ(info.strVersion, u"");
    EXPECT_EQ(info.strSubVersion, u"");
    EXPECT_EQ(info.bScriptFound, 0);
    EXPECT_EQ(info.strScriptName, u"");

    // A client without a version block, or without the Chinese string table, the same.
    for (const char* name : {"vennic-no-version.exe", "vennic-040904B0.exe"}) {
        CopyClient(name, dir.path());
        info = install::LoadInstallInfo(dir.path(), 1);
        EXPECT_EQ(info.strVersion, u"") << name;
        EXPECT_EQ(info.strSubVersion, u"") << name;
    }
    CopyClient("vennic-chinese.exe", dir.path());
    info = install::LoadInstallInfo(dir.path(), 1);
    EXPECT_EQ(info.strVersion, u"8.1.0 正式版");
    EXPECT_EQ(info.strSubVersion, u"2001");
    // Version resources in two languages, English first: the Chinese one is the client's,
    // as Windows reads it, so a script needing 2200 is refused for this 2105.
    CopyClient("vennic-two-languages.exe", dir.path());
    info = install::LoadInstallInfo(dir.path(), 1);
    EXPECT_EQ(info.strVersion, u"8.1.0");
    EXPECT_EQ(info.strSubVersion, u"2105");
}

// The demo installation shipped with the program: its client and its script.
TEST(InstallInfoTest, TheDemoInstallation) {
    const InstallInfo info =
        install::LoadInstallInfo(plat::FromNativePath(FromUtf8(QUORVEL_DEMO_DIR)), 0);
    EXPECT_EQ(info.strVersion, u"8.1.0");
    EXPECT_EQ(info.strSubVersion, u"2105");
    EXPECT_EQ(info.bScriptFound, 1);
    EXPECT_EQ(info.strScriptName, u"upgrade.dbr");
}

// Makes `name` a file the search must skip: hidden (and a system file with `system`).
// Elsewhere than Windows a hidden file is one whose name begins with ".", and there are no
// system files.
WString SkippedFile(const ScopedTempDir& dir, const WString& name, bool system) {
#ifdef _WIN32
    WriteFileBytes(dir.Sub(name), "x");
    EXPECT_TRUE(SetHiddenSystem(dir.Sub(name), !system, system));
    return name;
#else
    (void)system;
    WriteFileBytes(dir.Sub(u"." + name), "x");
    return u"." + name;
#endif
}

TEST(InstallInfoTest, ScriptSearchSkipsHiddenSystemAndFolders) {
    ScopedTempDir dir;
    InstallInfo info;
    info.strInstallDir = dir.path();
    info.strScriptName = u"earlier.dbr";

    {  // a folder holding only "." and "..": nothing found, the name kept
        EXPECT_EQ(install::FindScriptFile(info), 1);
        EXPECT_EQ(info.bScriptFound, 0);
        EXPECT_EQ(info.strScriptName, u"earlier.dbr");
    }
    {  // only files the search must skip, and a folder that matches the pattern
        SkippedFile(dir, u"hidden.dbr", false);
        SkippedFile(dir, u"system.dbr", true);
        ASSERT_TRUE(plat::MakeDirectory(dir.Sub(u"folder.dbr")));
        WriteFileBytes(dir.Sub(u"notes.dbr.txt"), "x");
        EXPECT_EQ(install::FindScriptFile(info), 1);
        EXPECT_EQ(info.bScriptFound, 0);
        EXPECT_EQ(info.strScriptName, u"earlier.dbr");
    }
    {  // a visible script among them is taken, whatever order the system yields them in;
       // the name as the system spells it, with its extension
        WriteFileBytes(dir.Sub(u"Upgrade.DBR"), "x");
        EXPECT_EQ(install::FindScriptFile(info), 1);
        EXPECT_EQ(info.bScriptFound, 1);
        EXPECT_EQ(info.strScriptName, u"Upgrade.DBR");
    }
}

// The script is the first candidate in NTFS's name order, whatever order the files were
// made in and the disk yields them, on every system; files that merely match "*.dbr"
// through a short name are none.
TEST(InstallInfoTest, TheFirstScriptByNameOnEverySystem) {
    ScopedTempDir dir;
    InstallInfo info;
    info.strInstallDir = dir.path();
    {  // leftovers whose 8.3 names are "*.DBR" on Windows
        WriteFileBytes(dir.Sub(u"old.dbr_bak"), "x");
        WriteFileBytes(dir.Sub(u"upgrade.dbrold"), "x");
        install::FindScriptFile(info);
        EXPECT_EQ(info.bScriptFound, 0);
        WriteFileBytes(dir.Sub(u"upgrade.dbr"), "x");
        install::FindScriptFile(info);
        EXPECT_EQ(info.strScriptName, u"upgrade.dbr");
        ASSERT_TRUE(plat::RemoveFile(dir.Sub(u"upgrade.dbr")));
    }
    // NTFS's order: units upper-cased, compared by value ("_" after the capitals, "µ" has
    // no upper case of its own, a surrogate pair before U+FF21).
    const std::vector<WString> order = {u"a.dbr",    u"A0.dbr",         u"ab.dbr", u"Ac.dbr",
                                        u"a_.dbr",   u"z.dbr",          u"µ.dbr",  u"é.DBR",
                                        u"升级.dbr", u"\U0001F600.dbr", u"ａ.dbr"};
    for (size_t i : {5, 9, 0, 7, 2, 10, 4, 1, 8, 3, 6})
        WriteFileBytes(dir.Sub(order[i]), "x");
    for (const WString& expected : order) {
        info.bScriptFound = 0;
        install::FindScriptFile(info);
        EXPECT_EQ(info.bScriptFound, 1);
        EXPECT_EQ(info.strScriptName, expected);
        ASSERT_TRUE(plat::RemoveFile(dir.Sub(expected)));
    }
}

#ifndef _WIN32
// Entries that are no regular files come before the real script in the name order and are
// passed over: a pipe and a link to a device would hang or fill a silent run.
TEST(InstallInfoTest, OnlyARegularFileIsAScript) {
    ScopedTempDir dir;
    ASSERT_TRUE(MakePipe(dir.Sub(u"0pipe.dbr")));
    ASSERT_TRUE(MakeLink(u"\\dev\\zero", dir.Sub(u"1zero.dbr")));
    ASSERT_TRUE(MakeLink(dir.Sub(u"missing"), dir.Sub(u"2dangling.dbr")));
    ASSERT_TRUE(plat::MakeDirectory(dir.Sub(u"3folder.dbr")));
    WriteFileBytes(dir.Sub(u"script.txt"), "x");
    ASSERT_TRUE(MakeLink(dir.Sub(u"script.txt"), dir.Sub(u"4link.dbr")));
    InstallInfo info;
    info.strInstallDir = dir.path();
    install::FindScriptFile(info);
    EXPECT_EQ(info.strScriptName, u"4link.dbr");  // a link to a regular file is one
}
#endif

}  // namespace

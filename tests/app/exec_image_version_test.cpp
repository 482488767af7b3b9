#include "app/exec_image_version.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

WString NativeToPath(const std::string& native) { return plat::FromNativePath(FromUtf8(native)); }

WString DataFile(const char* name) {
    return NativeToPath(std::string(QUORVEL_TEST_DATA_DIR) + "/pe/" + name);
}

const WString kChinesePrc = u"080403A8";

TEST(ExecImageVersionTest, ReadsTheClientsTexts) {
    {
        CExecImageVersion version(DataFile("vennic-8.0.0V1203.exe"), kChinesePrc);
        EXPECT_EQ(version.IsValid(), 1);
        EXPECT_EQ(version.GetFileVersion(), u"8.0.0V1203");
        EXPECT_EQ(version.GetProductVersion(), u"8.0.0");
        // Asking twice gives the same: the block is kept, not consumed.
        EXPECT_EQ(version.GetProductVersion(), u"8.0.0");
    }
    {
        CExecImageVersion version(DataFile("vennic-chinese.exe"), kChinesePrc);
        EXPECT_EQ(version.GetFileVersion(), u"8.1.0测试版V2001");
        EXPECT_EQ(version.GetProductVersion(), u"8.1.0 正式版");
    }
    {  // the key is matched as the system matches it, without regard to case
        CExecImageVersion version(DataFile("vennic-8.0.0V1203.exe"), u"080403a8");
        EXPECT_EQ(version.GetProductVersion(), u"8.0.0");
    }
    {
        CExecImageVersion version(DataFile("vennic-minimal.exe"), kChinesePrc);
        EXPECT_EQ(version.GetFileVersion(), u"7.5.0.12");
        EXPECT_EQ(version.GetProductVersion(), u"7.5.0");
    }
}

TEST(ExecImageVersionTest, NoBlockOrNoTableGivesEmptyTexts) {
    ScopedTempDir dir;
    for (const WString& path :
         {dir.Sub(u"vennic.exe"), dir.path(), DataFile("vennic-no-version.exe")}) {
        CExecImageVersion version(path, kChinesePrc);
        EXPECT_EQ(version.IsValid(), 0) << ToUtf8(path);
        EXPECT_EQ(version.GetFileVersion(), u"");
        EXPECT_EQ(version.GetProductVersion(), u"");
    }
    {  // a readable block without the table asked for: valid, but empty texts
        CExecImageVersion version(DataFile("vennic-040904B0.exe"), kChinesePrc);
        EXPECT_EQ(version.IsValid(), 1);
        EXPECT_EQ(version.GetFileVersion(), u"");
        EXPECT_EQ(version.GetProductVersion(), u"");
    }
    {
        CExecImageVersion version(DataFile("vennic-040904B0.exe"), u"040904B0");
        EXPECT_EQ(version.GetFileVersion(), u"9.1.0V77");
        EXPECT_EQ(version.GetProductVersion(), u"9.1.0");
    }
    {  // a damaged copy: the block cut off half-way
        const std::string good = ReadFileBytes(DataFile("vennic-8.0.0V1203.exe"));
        const size_t table =
            good.find(std::string("0\0"
                                  "8\0"
                                  "0\0"
                                  "4\0",
                                  8));
        ASSERT_NE(table, std::string::npos);
        WriteFileBytes(dir.Sub(u"cut.exe"), good.substr(0, table));
        CExecImageVersion version(dir.Sub(u"cut.exe"), kChinesePrc);
        EXPECT_EQ(version.IsValid(), 0);
        EXPECT_EQ(version.GetProductVersion(), u"");
    }
}

// The executable made by the build with scripts/make_vennic_exe.sh.
TEST(ExecImageVersionTest, MadeByTheBuild) {
#ifdef QUORVEL_MADE_VENNIC_EXE
    CExecImageVersion version(NativeToPath(QUORVEL_MADE_VENNIC_EXE), kChinesePrc);
    EXPECT_EQ(version.IsValid(), 1);
    EXPECT_EQ(version.GetFileVersion(), u"8.2.0v3001");
    EXPECT_EQ(version.GetProductVersion(), u"8.2.0 \"测试\" C:\\x");
#else
    GTEST_SKIP() << "MinGW is not installed: no executable was made";
#endif
}

}  // namespace

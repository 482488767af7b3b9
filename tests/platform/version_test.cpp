#include "platform/version.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

WString DataFile(const char* name) {
    return plat::FromNativePath(FromUtf8(std::string(QUORVEL_TEST_DATA_DIR) + "/pe/" + name));
}

// The value at `subBlock` of the file's version block, or "<none>".
WString ValueOf(const WString& path, const WString& subBlock) {
    std::vector<uint8_t> block{1, 2};
    if (!plat::ReadFileVersionBlock(path, block)) {
        EXPECT_TRUE(block.empty());
        return u"<no block>";
    }
    WString value = u"stale";
    if (!plat::QueryVersionValue(block, subBlock, value)) {
        EXPECT_TRUE(value.empty());
        return u"<none>";
    }
    return value;
}

const WString kFileVersion = u"\\StringFileInfo\\080403A8\\FileVersion";
const WString kProductVersion = u"\\StringFileInfo\\080403A8\\ProductVersion";

TEST(VersionTest, ReadsExecutables) {
    EXPECT_EQ(ValueOf(DataFile("vennic-8.0.0V1203.exe"), kFileVersion), u"8.0.0V1203");
    EXPECT_EQ(ValueOf(DataFile("vennic-8.0.0V1203.exe"), kProductVersion), u"8.0.0");
    EXPECT_EQ(ValueOf(DataFile("vennic-chinese.exe"), kProductVersion), u"8.1.0 正式版");
    EXPECT_EQ(ValueOf(DataFile("vennic-040904B0.exe"), kFileVersion), u"<none>");
    EXPECT_EQ(ValueOf(DataFile("vennic-040904B0.exe"), u"\\StringFileInfo\\040904B0\\FileVersion"),
              u"9.1.0V77");
    EXPECT_EQ(ValueOf(DataFile("vennic-no-version.exe"), kFileVersion), u"<no block>");

    // Paths with Chinese folder names reach the file.
    ScopedTempDir dir;
    ASSERT_TRUE(plat::MakeDirectory(dir.Sub(u"维尼克")));
    WriteFileBytes(dir.Sub(u"维尼克\\vennic.exe"),
                   ReadFileBytes(DataFile("vennic-8.0.0V1203.exe")));
    EXPECT_EQ(ValueOf(dir.Sub(u"维尼克\\vennic.exe"), kProductVersion), u"8.0.0");
}

TEST(VersionTest, FilesThatAreNoExecutables) {
    ScopedTempDir dir;
    EXPECT_EQ(ValueOf(dir.Sub(u"missing.exe"), kFileVersion), u"<no block>");
    EXPECT_EQ(ValueOf(dir.path(), kFileVersion), u"<no block>");  // a folder
    EXPECT_EQ(ValueOf(u"", kFileVersion), u"<no block>");
    WriteFileBytes(dir.Sub(u"empty.exe"), "");
    EXPECT_EQ(ValueOf(dir.Sub(u"empty.exe"), kFileVersion), u"<no block>");
    WriteFileBytes(dir.Sub(u"text.exe"), "MZ this is only text\r\n");
    EXPECT_EQ(ValueOf(dir.Sub(u"text.exe"), kFileVersion), u"<no block>");
    WString value = u"stale";
    EXPECT_FALSE(plat::QueryVersionValue({}, kProductVersion, value));
    EXPECT_TRUE(value.empty());

    // Truncated copies on disk: the block is there only when the file holds all of it.
    const std::string good = ReadFileBytes(DataFile("vennic-8.0.0V1203.exe"));
    std::vector<uint8_t> full;
    ASSERT_TRUE(plat::ReadFileVersionBlock(DataFile("vennic-8.0.0V1203.exe"), full));
    const size_t blockEnd = good.find(std::string(full.begin(), full.end())) + full.size();
    ASSERT_LT(blockEnd, good.size());
    for (size_t n : {size_t{1}, size_t{63}, size_t{64}, size_t{0x100}, size_t{0x400},
                     blockEnd - full.size(), blockEnd - 1, blockEnd, good.size() - 1}) {
        const WString path = dir.Sub(u"cut.exe");
        WriteFileBytes(path, good.substr(0, n));
        const WString value = ValueOf(path, kProductVersion);
#ifdef _WIN32
        // Windows' loader maps the image before it looks for the block and may refuse a
        // file cut after the block as well.
        if (n >= blockEnd && value == u"<no block>") continue;
#endif
        EXPECT_EQ(value, n >= blockEnd ? u"8.0.0" : u"<no block>") << n;
    }
}

}  // namespace

#include "script/script_codec.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "script/crypt_file.h"
#include "script_helpers.h"
#include "support/file_conditions.h"

namespace {

class ScriptCodecTest : public ::testing::Test {
protected:
    void SetUp() override { plat::SetAnsiCodePageForTesting(936); }
    void TearDown() override { plat::SetAnsiCodePageForTesting(0); }

    ScopedTempDir m_dir;
};

TEST_F(ScriptCodecTest, EncodeLineReadsBackThroughTheDecoder) {
    WString ascii;
    for (char16_t c = 0x20; c < 0x7F; ++c)
        ascii.push_back(c);
    ascii += u"\t\r";
    WString stored;
    ASSERT_TRUE(EncodeLine(ascii, stored));
    EXPECT_NE(stored, ascii);
    EXPECT_EQ(DecodeLine(stored), ascii);

    ASSERT_TRUE(EncodeLine(u"abc", stored));
    EXPECT_EQ(stored, u"{|}");
    ASSERT_TRUE(EncodeLine(u"中文", stored));
    EXPECT_EQ(stored, FromAnsi("\xE1\xDB\xD9\xCF"));
    ASSERT_TRUE(EncodeLine(u"INSERT INTO T VALUES('用户名', \"数据\");", stored));
    EXPECT_EQ(DecodeLine(stored), u"INSERT INTO T VALUES('用户名', \"数据\");");
    ASSERT_TRUE(EncodeLine(u"", stored));
    EXPECT_EQ(stored, u"");
}

TEST_F(ScriptCodecTest, EncodeLineRefusesWhatWouldNotReadBack) {
    WString stored = u"junk";
    // 簟 is F4 A1 in code page 936; its lead byte would be stored as FF, no lead byte.
    EXPECT_FALSE(EncodeLine(u"簟", stored));
    EXPECT_EQ(stored, u"");
    EXPECT_FALSE(EncodeLine(u"ok 簟", stored));
    EXPECT_FALSE(EncodeLine(u"\x0E01", stored));  // Thai: not in code page 936
    EXPECT_FALSE(EncodeLine(u"a\nb", stored));    // would split into two lines
    EXPECT_FALSE(EncodeLine(WString(u"a\0b", 3), stored));
    // Whatever the code page, what is accepted reads back.
    for (unsigned codePage : {936u, 1252u, plat::kCodePageUtf8}) {
        plat::SetAnsiCodePageForTesting(codePage);
        for (WStringView text : {u"abc", u"中文", u"é ü", u"簟"}) {
            if (EncodeLine(text, stored)) {
                EXPECT_EQ(DecodeLine(stored), text) << codePage;
            }
        }
    }
}

TEST_F(ScriptCodecTest, EncodeScriptWritesLittleEndianUnitsWithLineFeeds) {
    std::string bytes;
    int badLine = -1;
    ASSERT_TRUE(EncodeScript(u"abc\n\nc", bytes, badLine));
    EXPECT_EQ(badLine, 0);
    EXPECT_EQ(bytes, std::string("\x7B\0\x7C\0\x7D\0\n\0\n\0\x7D\0\n\0", 14));
    std::string again;
    ASSERT_TRUE(EncodeScript(u"abc\n\nc\n", again, badLine));
    EXPECT_EQ(again, bytes);  // a final line feed adds no empty line
    ASSERT_TRUE(EncodeScript(u"", again, badLine));
    EXPECT_EQ(again, "");

    EXPECT_FALSE(EncodeScript(u"HEAD\nMAIN=1\n簟\nlast", bytes, badLine));
    EXPECT_EQ(badLine, 3);
    EXPECT_EQ(bytes, "");
}

TEST_F(ScriptCodecTest, WriteScriptFileNeverLeavesAPartialFile) {
    const WString path = m_dir.Sub(u"升级.dbr");
    int badLine = -1;
    ASSERT_TRUE(WriteScriptFile(path, u"HEAD\n用户\n", badLine));
    CCryptFile file;
    ASSERT_TRUE(file.Open(path));
    WString line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"HEAD");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"用户");
    file.Close();

    const std::string before = ReadFileBytes(path);
    EXPECT_FALSE(WriteScriptFile(path, u"HEAD\n簟\n", badLine));
    EXPECT_EQ(badLine, 2);
    EXPECT_EQ(ReadFileBytes(path), before);  // the old script stays as it was

    EXPECT_FALSE(WriteScriptFile(m_dir.Sub(u"none\\x.dbr"), u"HEAD\n", badLine));
    EXPECT_EQ(badLine, 0);  // an I/O failure, not a bad line
    plat::MakeDirectory(m_dir.Sub(u"folder.dbr"));
    EXPECT_FALSE(WriteScriptFile(m_dir.Sub(u"folder.dbr"), u"HEAD\n", badLine));
    EXPECT_EQ(badLine, 0);

    // A failed create or write leaves the old script as it was. A name that leaves no room
    // for the temporary name beside it (names hold 255 units at most) fails the create; a
    // file size limit fails the write, where the system has one.
    const WString longName = WString(250, u'a') + u".dbr";
    WriteFileBytes(m_dir.Sub(longName), before);
    EXPECT_FALSE(WriteScriptFile(m_dir.Sub(longName), u"HEAD\nnew\n", badLine));
    EXPECT_EQ(badLine, 0);
    EXPECT_EQ(ReadFileBytes(m_dir.Sub(longName)), before);
    {
        FileSizeLimit limit(4);
        if (limit.Active()) {
            EXPECT_FALSE(WriteScriptFile(path, u"HEAD\nnew\n", badLine));
            EXPECT_EQ(badLine, 0);
        }
    }
    EXPECT_EQ(ReadFileBytes(path), before);

    // Only the finished scripts remain: no temporary file is left behind.
    auto found = plat::FindFiles(m_dir.Sub(u"*"));
    std::vector<WString> names;
    for (const auto& f : found) {
        if (f.name != u"." && f.name != u"..") names.push_back(f.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<WString>{longName, u"folder.dbr", u"升级.dbr"}));
}

}  // namespace

#include "engine/update_record.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "support/file_conditions.h"
#include "support/temp_dir.h"

namespace {

WString WriteUpdateRecord(const WString& folder, const WString& time) {
    return engine::WriteUpdateRecord(plat::Disk(), folder, time);
}

class UpdateRecordTest : public ::testing::Test {
protected:
    void SetUp() override { plat::SetAnsiCodePageForTesting(936); }
    void TearDown() override { plat::SetAnsiCodePageForTesting(0); }

    static std::string Expected(const std::string& time) {
        return "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n"
               "<updateload>\r\n"
               "\t<LastUpdateTime>" +
               time +
               "\r\n"
               "</LastUpdateTime>\r\n"
               "</updateload>\r\n";
    }
    WString Record() const { return m_dir.Sub(u"configure\\update.xml"); }

    ScopedTempDir m_dir;
};

TEST_F(UpdateRecordTest, WritesTheRecordByteForByte) {
    ASSERT_FALSE(plat::PathExists(m_dir.Sub(u"configure")));
    EXPECT_EQ(WriteUpdateRecord(m_dir.path(), u"2012-05-06 10:20:30"), u"");
    EXPECT_TRUE(plat::IsDirectory(m_dir.Sub(u"configure")));
    const std::string bytes = ReadFileBytes(Record());
    EXPECT_EQ(bytes, Expected("2012-05-06 10:20:30"));
    EXPECT_EQ(bytes.find("\r\n"), 41u);  // the declaration and its trailing blank
    EXPECT_EQ(bytes.find("\t"), 57u);    // behind the first two lines
}

TEST_F(UpdateRecordTest, TheTimeIsWrittenWholeInTheAnsiCodePage) {
    // A time text far longer than any line buffer, with Chinese and markup, unescaped.
    WString time = u"2012年5月6日 <&> ";
    while (time.size() < 5000)
        time += u"0123456789";
    WriteUpdateRecord(m_dir.path(), time);
    EXPECT_EQ(ReadFileBytes(Record()), Expected(*ToAnsi(time)));
    EXPECT_NE(ReadFileBytes(Record()).find("2012\xC4\xEA"
                                           "5\xD4\xC2"),
              std::string::npos);
}

TEST_F(UpdateRecordTest, AnExistingRecordIsNeverRewritten) {
    ASSERT_TRUE(plat::MakeDirectory(m_dir.Sub(u"configure")));
    WriteFileBytes(Record(), "old record");
    WriteUpdateRecord(m_dir.path(), u"2012-05-06 10:20:30");
    EXPECT_EQ(ReadFileBytes(Record()), "old record");

    // Not even when a folder stands in its place.
    ScopedTempDir other;
    ASSERT_TRUE(plat::MakeDirectory(other.Sub(u"configure")));
    ASSERT_TRUE(plat::MakeDirectory(other.Sub(u"configure\\update.xml")));
    WriteUpdateRecord(other.path(), u"2012-05-06 10:20:30");
    EXPECT_TRUE(plat::IsDirectory(other.Sub(u"configure\\update.xml")));
}

TEST_F(UpdateRecordTest, NoRecordWithoutATimeOrAFolder) {
    WriteUpdateRecord(m_dir.path(), u"");
    EXPECT_FALSE(plat::PathExists(Record()));
    // Only one folder level is made: under a missing data folder nothing is written.
    EXPECT_NE(WriteUpdateRecord(m_dir.Sub(u"missing"), u"2012-05-06 10:20:30").find(u"update.xml"),
              WString::npos);  // the system's reason, with the path
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"missing")));
    // A data folder whose path holds an apostrophe and Chinese is an ordinary folder.
    ASSERT_TRUE(plat::MakeDirectory(m_dir.Sub(u"O'Brien 的数据")));
    WriteUpdateRecord(m_dir.Sub(u"O'Brien 的数据"), u"t");
    EXPECT_EQ(ReadFileBytes(m_dir.Sub(u"O'Brien 的数据\\configure\\update.xml")), Expected("t"));
}

TEST_F(UpdateRecordTest, NoRecordThroughALinkedConfigureFolder) {
    ASSERT_TRUE(plat::MakeDirectory(m_dir.Sub(u"elsewhere")));
    if (!MakeLink(m_dir.Sub(u"elsewhere"), m_dir.Sub(u"configure"))) GTEST_SKIP() << "no links";
    EXPECT_NE(WriteUpdateRecord(m_dir.path(), u"2012-05-06 10:20:30").find(u"configure"),
              WString::npos);
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"elsewhere\\update.xml")));
    EXPECT_TRUE(plat::IsLink(m_dir.Sub(u"configure")));
}

}  // namespace

#include "script/crypt_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "platform/codepage.h"
#include "platform/files.h"
#include "script/script_codec.h"
#include "script_helpers.h"
#include "support/file_conditions.h"

namespace {

class CryptFileTest : public ::testing::Test {
protected:
    void SetUp() override { plat::SetAnsiCodePageForTesting(936); }
    void TearDown() override { plat::SetAnsiCodePageForTesting(0); }

    // Opens a file holding exactly `bytes`.
    void OpenRaw(CCryptFile& file, std::string_view bytes) {
        WriteFileBytes(m_dir.Sub(u"raw.dbr"), bytes);
        ASSERT_TRUE(file.Open(m_dir.Sub(u"raw.dbr")));
    }

    ScopedTempDir m_dir;
};

// The sender's side, written independently of the decoder: 26 places up inside 0x21-0x7F
// and 11 places up inside 0x81-0xFF, wrapping inside each range.
unsigned char Scramble(unsigned char byte) {
    if (byte >= 0x21 && byte <= 0x7F)
        return static_cast<unsigned char>(0x21 + (byte - 0x21 + 26) % 95);
    if (byte >= 0x81) return static_cast<unsigned char>(0x81 + (byte - 0x81 + 11) % 127);
    return byte;
}

TEST_F(CryptFileTest, ByteTableIsAPermutationThatTheSendersRotationInverts) {
    std::set<int> decodedValues;
    for (int value = 0; value < 256; ++value) {
        unsigned char byte = static_cast<unsigned char>(value);
        DecodeByte(byte);
        decodedValues.insert(byte);

        unsigned char roundTrip = Scramble(static_cast<unsigned char>(value));
        DecodeByte(roundTrip);
        EXPECT_EQ(roundTrip, value) << "stored rotation of " << value;

        unsigned char encoded = static_cast<unsigned char>(value);
        EncodeByte(encoded);
        EXPECT_EQ(encoded, Scramble(static_cast<unsigned char>(value))) << value;
    }
    EXPECT_EQ(decodedValues.size(), 256u);

    // The edges of each rule.
    const std::pair<int, int> edges[] = {
        {0x00, 0x00}, {0x09, 0x09}, {0x0A, 0x0A}, {0x0D, 0x0D}, {0x20, 0x20},
        {0x21, 0x66}, {0x3A, 0x7F}, {0x3B, 0x21}, {0x7F, 0x65}, {0x80, 0x80},
        {0x81, 0xF5}, {0x8B, 0xFF}, {0x8C, 0x81}, {0xFF, 0xF4},
    };
    for (auto [stored, plain] : edges) {
        unsigned char byte = static_cast<unsigned char>(stored);
        DecodeByte(byte);
        EXPECT_EQ(byte, plain) << "stored " << stored;
    }
    // The same rules read on signed values.
    for (int value = -128; value < 128; ++value) {
        int expected = value;
        if (value >= 59)
            expected = value - 26;
        else if (value >= 33)
            expected = value + 69;
        else if (value >= -116 && value <= -1)
            expected = value - 11;
        else if (value >= -127 && value <= -117)
            expected = value + 116;
        unsigned char byte = static_cast<unsigned char>(value);
        DecodeByte(byte);
        EXPECT_EQ(static_cast<signed char>(byte), expected) << value;
    }
}

TEST_F(CryptFileTest, DecodeLine) {
    EXPECT_EQ(DecodeLine(u"{|}"), u"abc");
    EXPECT_EQ(DecodeLine(u"\t \r\x01"), u"\t \r\x01");  // controls, blanks and CR pass
    EXPECT_EQ(DecodeLine(u""), u"");
    EXPECT_EQ(DecodeLine(WString(u"{\0}", 3)), u"a");  // the narrow form ends at a zero byte

    // 中文 is D6 D0 CE C4 in code page 936; stored 11 places up, E1 DB D9 CF.
    EXPECT_EQ(DecodeLine(FromAnsi("\xE1\xDB\xD9\xCF")), u"中文");
    EXPECT_EQ(DecodeLine(u"x" + FromAnsi("\xE1\xDB\xD9\xCF") + u"{"), u"^中文a");

    // Under UTF-8 a character takes three bytes: long lines must still come back whole.
    plat::SetAnsiCodePageForTesting(plat::kCodePageUtf8);
    const WString one = DecodeLine(u"中");
    ASSERT_FALSE(one.empty());
    WString many, expected;
    for (int i = 0; i < 1000; ++i) {
        many += u"中";
        expected += one;
    }
    EXPECT_EQ(DecodeLine(many), expected);
    EXPECT_EQ(DecodeLine(u"{|}"), u"abc");  // ASCII decodes alike under every code page
}

TEST_F(CryptFileTest, LinesAndLineEnds) {
    CCryptFile file;
    // "abc" CR LF, a lone LF, "a b", and a last line without a line feed.
    OpenRaw(file, Utf16Le(u"{|}\r\n\n{ |\n}|{"));
    WString line = u"junk";
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"abc\r");
    EXPECT_EQ(file.GetLineNumber(), 1);
    EXPECT_EQ(file.GetPosition(), 10);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"a b");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"cba");
    EXPECT_EQ(file.GetLineNumber(), 4);
    EXPECT_EQ(file.GetPosition(), file.GetLength());
    line = u"junk";
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_EQ(line, u"");
    EXPECT_EQ(file.GetLineCount(), 4);
}

TEST_F(CryptFileTest, ByteOrderMarkStaysInTheFirstLineAndAnOddByteIsNeverRead) {
    CCryptFile file;
    OpenRaw(file, Utf16Le(u"\xFEFF{|}\n}") + "\x7B");
    WString line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_NE(line, u"abc");
    EXPECT_EQ(line.substr(line.size() - 3), u"abc");
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"c");
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_EQ(file.GetLength(), 13);
}

TEST_F(CryptFileTest, PositionsAreByteOffsets) {
    CCryptFile file;
    OpenRaw(file, Utf16Le(u"{|}\n}|{\n"));
    WString line;
    ASSERT_TRUE(file.ReadString(line));
    const int64_t second = file.GetPosition();
    EXPECT_EQ(second, 8);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"cba");
    ASSERT_TRUE(file.Seek(second));
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"cba");
    EXPECT_EQ(file.GetLineNumber(), 2);

    // Into the middle of a line: the rest of it, as a stream would give it.
    ASSERT_TRUE(file.Seek(2));
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"bc");
    EXPECT_EQ(file.GetLineNumber(), 1);
    EXPECT_EQ(file.GetPosition(), 8);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"cba");  // and on with whole lines

    EXPECT_FALSE(file.Seek(-1));
    ASSERT_TRUE(file.Seek(INT64_MAX));  // past the end reads as the end
    EXPECT_FALSE(file.ReadString(line));
    file.Seek(0);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"abc");
}

TEST_F(CryptFileTest, OpenNeverCreatesAndCloseReportsWhetherItClosed) {
    CCryptFile file;
    const WString missing = m_dir.Sub(u"missing.dbr");
    EXPECT_FALSE(file.Open(missing));
    EXPECT_FALSE(plat::PathExists(missing));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(m_dir.path()));  // a folder

    OpenRaw(file, Utf16Le(u"{\n"));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_FALSE(file.Open(missing));  // closes the first file all the same
    EXPECT_FALSE(file.IsOpen());
    WString line;
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_FALSE(file.Seek(0));

    OpenRaw(file, "");
    EXPECT_FALSE(file.ReadString(line));  // an empty file has no line
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.Close());
    EXPECT_EQ(ReadFileBytes(m_dir.Sub(u"raw.dbr")), "");  // nothing written
}

#ifndef _WIN32
// What is no regular file is never read as a script: a pipe without a writer would block
// a silent run for ever, a link to /dev/zero would fill its memory.
TEST_F(CryptFileTest, OpenRefusesWhatIsNoRegularFile) {
    ASSERT_TRUE(MakePipe(m_dir.Sub(u"pipe.dbr")));
    ASSERT_TRUE(MakeLink(u"\\dev\\zero", m_dir.Sub(u"zero.dbr")));
    ASSERT_TRUE(MakeLink(u"\\dev\\null", m_dir.Sub(u"null.dbr")));
    CCryptFile file;
    for (const char16_t* name : {u"pipe.dbr", u"zero.dbr", u"null.dbr"}) {
        EXPECT_FALSE(file.Open(m_dir.Sub(name))) << ToUtf8(name);
        EXPECT_FALSE(file.IsOpen());
    }
    // A link to a script is the script.
    WriteFileBytes(m_dir.Sub(u"real.dbr"), Utf16Le(u"{\n"));
    ASSERT_TRUE(MakeLink(m_dir.Sub(u"real.dbr"), m_dir.Sub(u"link.dbr")));
    ASSERT_TRUE(file.Open(m_dir.Sub(u"link.dbr")));
    WString line;
    EXPECT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"a");
}
#endif

}  // namespace

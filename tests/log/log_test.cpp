#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "support/file_conditions.h"
#include "support/temp_dir.h"

namespace {

plat::LocalTime g_fakeNow;
plat::LocalTime FakeClock() { return g_fakeNow; }

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_fakeNow = plat::LocalTime{2026, 12, 8, 10, 30, 5};
        plat::SetClockForTesting(&FakeClock);
        plat::SetAnsiCodePageForTesting(936);
        ResetLogForTesting();
    }
    void TearDown() override {
        ResetLogForTesting();
        plat::SetClockForTesting(nullptr);
        plat::SetAnsiCodePageForTesting(0);
    }

    static std::string Header(const plat::LocalTime& t) {
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d  ThreadId:0X%08lu  ",
                      t.year, t.month, t.day, t.hour, t.minute, t.second, plat::CurrentThreadId());
        return text;
    }

    ScopedTempDir m_dir;
};

TEST_F(LogTest, LineFormatAndEncodings) {
    const WString path = m_dir.Sub(u"ReData.log");
    ASSERT_TRUE(OpenLogFile(path));
    WriteLog(kLogCategory, kLogLevel, u"数据迁移成功！");
    WriteLog(kLogCategory, kLogLevel, "no such table: T\xE4\xB8\xAD");  // 8-bit, unchanged
    const std::string expected = Header(g_fakeNow) +
                                 "\xCA\xFD\xBE\xDD\xC7\xA8\xD2\xC6\xB3\xC9"
                                 "\xB9\xA6\xA3\xA1\r\n" +
                                 Header(g_fakeNow) + "no such table: T\xE4\xB8\xAD\r\n";
    EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST_F(LogTest, ThreadIdIsDecimalBehind0X) {
    ASSERT_TRUE(OpenLogFile(m_dir.Sub(u"t.log")));
    WriteLog(kLogCategory, kLogLevel, u"x");
    std::string line = ReadFileBytes(m_dir.Sub(u"t.log"));
    size_t at = line.find("ThreadId:0X");
    ASSERT_NE(at, std::string::npos);
    std::string digits = line.substr(at + 11, 8);
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << digits;
    EXPECT_EQ(std::stoul(digits), plat::CurrentThreadId());
}

TEST_F(LogTest, AppendsToAnExistingFile) {
    const WString path = m_dir.Sub(u"ReData.log");
    WriteFileBytes(path, "old line\r\n");
    ASSERT_TRUE(OpenLogFile(path));
    WriteLog(kLogCategory, kLogLevel, u"new");
    EXPECT_EQ(ReadFileBytes(path), "old line\r\n" + Header(g_fakeNow) + "new\r\n");
}

TEST_F(LogTest, NothingIsWrittenForNegativeLevelsEmptyTextsOrNoFile) {
    WriteLog(kLogCategory, kLogLevel, u"before any file is open: lost");
    const WString path = m_dir.Sub(u"ReData.log");
    ASSERT_TRUE(OpenLogFile(path));
    WriteLog(kLogCategory, -1, u"suppressed");
    WriteLog(kLogCategory, kLogLevel, u"");
    WriteLog(kLogCategory, kLogLevel, static_cast<const char*>(nullptr));
    WriteLog(kLogCategory, kLogLevel, "");
    EXPECT_EQ(ReadFileBytes(path), "");
    WriteLog(kLogCategory, 0, u"level 0 writes");
    EXPECT_EQ(ReadFileBytes(path), Header(g_fakeNow) + "level 0 writes\r\n");
    EXPECT_FALSE(OpenLogFile(m_dir.Sub(u"missing\\x.log")));
    WriteLog(kLogCategory, kLogLevel, u"lost too");
    EXPECT_EQ(ReadFileBytes(path), Header(g_fakeNow) + "level 0 writes\r\n");
}

TEST_F(LogTest, DateChangeSwitchesToTheDailyFileBesideTheLastLog) {
    const WString path = m_dir.Sub(u"ReData.log");
    ASSERT_TRUE(OpenLogFile(path));
    WriteLog(kLogCategory, kLogLevel, u"today");
    g_fakeNow = plat::LocalTime{2026, 12, 9, 0, 0, 5};
    WriteLog(kLogCategory, kLogLevel, u"tomorrow");
    WriteLog(kLogCategory, kLogLevel, u"later");
    EXPECT_EQ(ReadFileBytes(path), Header(plat::LocalTime{2026, 12, 8, 10, 30, 5}) + "today\r\n");
    const WString daily = m_dir.Sub(u"20261209.log");
    EXPECT_EQ(GetDailyLogPath(), daily);
    EXPECT_EQ(ReadFileBytes(daily),
              Header(g_fakeNow) + "tomorrow\r\n" + Header(g_fakeNow) + "later\r\n");
    // OpenLogFile does not move the date: the migration log is current again until the
    // date differs from the day just recorded.
    ASSERT_TRUE(OpenLogFile(path));
    WriteLog(kLogCategory, kLogLevel, u"back");
    EXPECT_NE(ReadFileBytes(path).find("back"), std::string::npos);
}

TEST_F(LogTest, DailyFileBeforeAnyLogLiesBesideTheExecutable) {
    g_fakeNow.day = 10;
    ASSERT_NE(GetLogFile(), nullptr);
    WString daily = GetDailyLogPath();
    EXPECT_EQ(daily, plat::ExecutablePath().substr(0, plat::ExecutablePath().rfind(u'\\')) +
                         u"\\20261210.log");
    plat::RemoveFile(daily);
}

TEST_F(LogTest, UnmappableCharactersAreWrittenAsDefaultCharacters) {
    ASSERT_TRUE(OpenLogFile(m_dir.Sub(u"x.log")));
    WriteLog(kLogCategory, kLogLevel, u"\uD55C\uAD6D ok");
    EXPECT_EQ(ReadFileBytes(m_dir.Sub(u"x.log")), Header(g_fakeNow) + "?? ok\r\n");
}

TEST_F(LogTest, NoLogIsWrittenThroughALinkedFolder) {
    // A "log" folder someone replaced by a link to a folder of their choice.
    ASSERT_TRUE(plat::MakeDirectory(m_dir.Sub(u"elsewhere")));
    if (!MakeLink(m_dir.Sub(u"elsewhere"), m_dir.Sub(u"log"))) GTEST_SKIP() << "no links here";
    EXPECT_FALSE(OpenLogFile(m_dir.Sub(u"log\\ReData.log")));
    WriteLog(kLogCategory, kLogLevel, u"lost");
    EXPECT_EQ(GetLogFile(), nullptr);
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"elsewhere\\ReData.log")));
    // Nor the daily file, into a folder that became a link after its log was opened.
    ASSERT_TRUE(plat::MakeDirectory(m_dir.Sub(u"later")));
    ASSERT_TRUE(OpenLogFile(m_dir.Sub(u"later\\ReData.log")));
    ASSERT_TRUE(plat::RemoveTree(m_dir.Sub(u"later")));
    ASSERT_TRUE(MakeLink(m_dir.Sub(u"elsewhere"), m_dir.Sub(u"later")));
    g_fakeNow.day = 9;
    WriteLog(kLogCategory, kLogLevel, u"lost");
    EXPECT_EQ(GetLogFile(), nullptr);
    EXPECT_FALSE(plat::PathExists(m_dir.Sub(u"elsewhere\\20261209.log")));
}

}  // namespace

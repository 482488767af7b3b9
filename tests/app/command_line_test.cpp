#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int ShowWindowAfter(const std::vector<WString>& arguments) {
    DbCommandLineInfo info;
    ParseCommandLine(arguments, info);
    return info.m_bShowWindow;
}

TEST(CommandLineTest, OnlyTheSwitchSMakesTheRunSilent) {
    EXPECT_EQ(ShowWindowAfter({}), 1);
    EXPECT_EQ(ShowWindowAfter({u"/S"}), 0);
    EXPECT_EQ(ShowWindowAfter({u"-S"}), 0);
    // Case-sensitive and exact.
    EXPECT_EQ(ShowWindowAfter({u"/s"}), 1);
    EXPECT_EQ(ShowWindowAfter({u"-s"}), 1);
    EXPECT_EQ(ShowWindowAfter({u"/SS"}), 1);
    EXPECT_EQ(ShowWindowAfter({u"//S"}), 1);
    EXPECT_EQ(ShowWindowAfter({u"/S "}), 1);
    // An installer's upgrade switch with its version is accepted, alone or with /S.
    EXPECT_EQ(ShowWindowAfter({u"/from", u"7.5.0.12"}), 1);
    EXPECT_EQ(ShowWindowAfter({u"/from", u"7.5.0.12", u"/S"}), 0);
    EXPECT_EQ(ShowWindowAfter({u"/S", u"/from", u"7.5.0.12"}), 0);
    // Plain arguments and unknown switches are ignored: a plain S is no switch.
    EXPECT_EQ(ShowWindowAfter({u"S"}), 1);
    EXPECT_EQ(ShowWindowAfter({u"/p", u"/dde", u"C:\\a.dbr", u"-", u"/", u""}), 1);
    EXPECT_EQ(ShowWindowAfter({u"upgrade.dbr", u"-S", u"/x"}), 0);
}

// What the framework hands the parser: switches without their first character.
class RecordingInfo : public DbCommandLineInfo {
public:
    void ParseParam(const WString& param, bool bFlag, bool bLast) override {
        calls.push_back({param, bFlag, bLast});
        DbCommandLineInfo::ParseParam(param, bFlag, bLast);
    }
    struct Call {
        WString param;
        bool bFlag;
        bool bLast;
        bool operator==(const Call& o) const {
            return param == o.param && bFlag == o.bFlag && bLast == o.bLast;
        }
    };
    std::vector<Call> calls;
};

TEST(CommandLineTest, SwitchesArriveWithoutTheirMark) {
    RecordingInfo info;
    ParseCommandLine({u"/from", u"7.5.0.12", u"-S", u"/", u"数据.dbr"}, info);
    const std::vector<RecordingInfo::Call> expected = {{u"from", true, false},
                                                       {u"7.5.0.12", false, false},
                                                       {u"S", true, false},
                                                       {u"", true, false},
                                                       {u"数据.dbr", false, true}};
    EXPECT_EQ(info.calls, expected);
    EXPECT_EQ(info.m_bShowWindow, 0);
}

}  // namespace

#include "platform/wstr.h"

#include <gtest/gtest.h>

#include <climits>

TEST(WStrTest, ToIntReadsLikeWtoi) {
    EXPECT_EQ(wstr::ToInt(u"12"), 12);
    EXPECT_EQ(wstr::ToInt(u"  \t-7x"), -7);
    EXPECT_EQ(wstr::ToInt(u"+3.5"), 3);
    EXPECT_EQ(wstr::ToInt(u"abc"), 0);
    EXPECT_EQ(wstr::ToInt(u""), 0);
    EXPECT_EQ(wstr::ToInt(u"- 5"), 0);
    EXPECT_EQ(wstr::ToInt(u"99999999999999999999"), INT_MAX);
    EXPECT_EQ(wstr::ToInt(u"-99999999999999999999"), INT_MIN);
    EXPECT_EQ(wstr::ToInt(std::string_view("42abc")), 42);
}

TEST(WStrTest, CaseAndSearchHelpers) {
    EXPECT_EQ(wstr::ToUpper(u"ver8.0.1 中"), u"VER8.0.1 中");
    EXPECT_TRUE(wstr::EqualsNoCase(u"VUserDat", u"vuserdat"));
    EXPECT_FALSE(wstr::EqualsNoCase(u"vuserdat1", u"vuserdat"));
    EXPECT_TRUE(wstr::StartsWith(u"HEADER", u"HEAD"));
    EXPECT_FALSE(wstr::StartsWith(u"HEA", u"HEAD"));
    EXPECT_EQ(wstr::FromInt(7, 3), u"007");
    EXPECT_EQ(wstr::FromInt(-42), u"-42");
    EXPECT_EQ(wstr::ReplaceAll(u"a\\b\\\\c", u"\\", u"/"), u"a/b//c");
}

#include "engine/version_compare.h"

#include <gtest/gtest.h>

namespace {

using engine::CompareVersion;

TEST(CompareVersionTest, ComparablePartByPart) {
    int comparable = 0;
    EXPECT_LT(CompareVersion(u"8.0.1", u"8.0.2", comparable), 0);
    EXPECT_EQ(comparable, 1);
    EXPECT_GT(CompareVersion(u"8.1.0", u"8.0.9", comparable), 0);
    EXPECT_EQ(comparable, 1);
    EXPECT_EQ(CompareVersion(u"8.0.1", u"8.0.1", comparable), 0);
    EXPECT_EQ(comparable, 1);
    // Numbers, not text: 10 is after 9.
    EXPECT_GT(CompareVersion(u"8.10", u"8.9", comparable), 0);
    EXPECT_EQ(comparable, 1);
    // A run of dots is one separator; leading and trailing dots add no part.
    EXPECT_EQ(CompareVersion(u"8..0", u"8.0", comparable), 0);
    EXPECT_EQ(comparable, 1);
    EXPECT_EQ(CompareVersion(u".8.0.", u"8.0", comparable), 0);
    EXPECT_EQ(comparable, 1);
    // Each part is read like _wtoi: leading blanks, sign, digits up to anything else.
    EXPECT_EQ(CompareVersion(u"8a.0", u" 8.00", comparable), 0);
    EXPECT_EQ(comparable, 1);
    EXPECT_LT(CompareVersion(u"-1.0", u"x.0", comparable), 0);
    EXPECT_EQ(comparable, 1);
}

TEST(CompareVersionTest, NotComparable) {
    int comparable = 1;
    EXPECT_EQ(CompareVersion(u"8.0", u"8.0.0", comparable), 0);  // part counts differ
    EXPECT_EQ(comparable, 0);
    comparable = 1;
    EXPECT_EQ(CompareVersion(u"8.1", u"8.0.9", comparable), 0);
    EXPECT_EQ(comparable, 0);
    comparable = 1;
    EXPECT_EQ(CompareVersion(u"", u"8.0", comparable), 0);
    EXPECT_EQ(comparable, 0);
    comparable = 1;
    EXPECT_EQ(CompareVersion(u"8.0", u"", comparable), 0);
    EXPECT_EQ(comparable, 0);
    comparable = 1;
    EXPECT_EQ(CompareVersion(u"...", u"...", comparable), 0);  // no parts at all
    EXPECT_EQ(comparable, 0);
}

TEST(CompareVersionTest, ExtremePartsDoNotOverflow) {
    // Parts saturate at the int limits; their difference must keep its sign.
    int comparable = 0;
    EXPECT_GT(CompareVersion(u"2147483647", u"-2147483648", comparable), 0);
    EXPECT_LT(CompareVersion(u"-99999999999", u"99999999999", comparable), 0);
    EXPECT_EQ(comparable, 1);
}

}  // namespace

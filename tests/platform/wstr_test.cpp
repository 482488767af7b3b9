#include "platform/wstr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <vector>

#ifdef _WIN32
#include "support/observe.h"
#endif

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

// File names as NTFS compares and lists them.
TEST(WStrTest, FileNamesCompareAsNtfsDoes) {
    using wstr::UpcaseUnit;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        const auto c = static_cast<char16_t>(unit);
        const char16_t up = UpcaseUnit(c);
        ASSERT_EQ(UpcaseUnit(up), up) << unit;  // an upper case stays one
        if (unit < 0x80) {
            ASSERT_EQ(up, (c >= u'a' && c <= u'z') ? c - 32 : c) << unit;
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            ASSERT_EQ(up, c) << unit;  // surrogates stay
        }
    }
    EXPECT_EQ(UpcaseUnit(u'é'), u'É');
    EXPECT_EQ(UpcaseUnit(u'ж'), u'Ж');
    EXPECT_EQ(UpcaseUnit(u'ａ'), u'Ａ');
    EXPECT_EQ(UpcaseUnit(u'ǆ'), u'Ǆ');
    EXPECT_EQ(UpcaseUnit(u'\u1F80'), u'\u1F88');
    // Upper cases that do not map back, or need two units, are not taken.
    for (char16_t same : {u'µ', u'ı', u'ſ', u'ς', u'ǅ', u'ß', u'中'})
        EXPECT_EQ(UpcaseUnit(same), same) << static_cast<unsigned>(same);

    EXPECT_EQ(wstr::CompareFileNames(u"Upgrade.DBR", u"upgrade.dbr"), 0);
    EXPECT_LT(wstr::CompareFileNames(u"a.dbr", u"a0.dbr"), 0);
    EXPECT_LT(wstr::CompareFileNames(u"ab", u"a_"), 0);  // "_" comes after the capitals
    EXPECT_LT(wstr::CompareFileNames(u"a", u"ab"), 0);
    EXPECT_LT(wstr::CompareFileNames(u"µ", u"é"), 0);  // B5 before C9
    // UTF-16 units, not code points: a surrogate pair before U+FF21.
    EXPECT_LT(wstr::CompareFileNames(u"\U0001F600", u"ａ"), 0);
    EXPECT_GT(wstr::CompareFileNames(u"ａ", u"\U0001F600"), 0);

    EXPECT_TRUE(wstr::MatchesWildcard(u"UP.DBR", u"*.dbr"));
    EXPECT_TRUE(wstr::MatchesWildcard(u".dbr", u"*.dbr"));
    EXPECT_TRUE(wstr::MatchesWildcard(u"a.dbr.dbr", u"*.dbr"));
    EXPECT_FALSE(wstr::MatchesWildcard(u"old.dbr_bak", u"*.dbr"));
    EXPECT_FALSE(wstr::MatchesWildcard(u"upgrade.dbrold", u"*.dbr"));
    EXPECT_FALSE(wstr::MatchesWildcard(u"x.db", u"*.dbr"));
    EXPECT_TRUE(wstr::MatchesWildcard(u"a1.dbr", u"a?.*"));
    EXPECT_FALSE(wstr::MatchesWildcard(u"a.dbr", u"a?.*"));
    EXPECT_TRUE(wstr::MatchesWildcard(u"anything", u"*"));
    EXPECT_TRUE(wstr::MatchesWildcard(u"", u"*"));
    EXPECT_FALSE(wstr::MatchesWildcard(u"", u"?"));
}

#ifdef _WIN32
// The order of names is the system's own: every unit next to its neighbours in that order,
// and every unit against its upper case, compare as CompareStringOrdinal compares them.
TEST(WStrTest, FileNameOrderIsTheSystems) {
    std::vector<char16_t> units(0x10000);
    std::iota(units.begin(), units.end(), char16_t{0});
    std::stable_sort(units.begin(), units.end(), [](char16_t a, char16_t b) {
        return wstr::UpcaseUnit(a) < wstr::UpcaseUnit(b);
    });
    auto sign = [](int n) { return (n > 0) - (n < 0); };
    for (size_t i = 0; i + 1 < units.size(); ++i) {
        const WString a(1, units[i]), b(1, units[i + 1]);
        ASSERT_EQ(sign(observe::CompareNamesAsTheSystem(a, b)), sign(wstr::CompareFileNames(a, b)))
            << static_cast<unsigned>(units[i]) << " " << static_cast<unsigned>(units[i + 1]);
        const WString up(1, wstr::UpcaseUnit(units[i]));
        ASSERT_EQ(observe::CompareNamesAsTheSystem(a, up), 0) << static_cast<unsigned>(units[i]);
    }
}
#endif

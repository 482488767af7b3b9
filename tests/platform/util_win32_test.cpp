// The Win32 backend's handle owner and text helpers.
#include "platform/util_win32.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<void*> g_closed;

struct RecordClose {
    void operator()(void* handle) const { g_closed.push_back(handle); }
};
using Handle = plat::win32::UniqueHandle<RecordClose>;

void* Fake(intptr_t value) { return reinterpret_cast<void*>(value); }

TEST(UniqueHandleTest, ClosesEachRealHandleExactlyOnce) {
    g_closed.clear();
    {
        Handle none;
        Handle null(nullptr);
        Handle invalid(Fake(-1));  // INVALID_HANDLE_VALUE
        EXPECT_FALSE(none);
        EXPECT_FALSE(null);
        EXPECT_FALSE(invalid);
    }
    EXPECT_TRUE(g_closed.empty());  // failure values are never closed

    {
        Handle a(Fake(0x10));
        EXPECT_TRUE(a);
        Handle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Get(), Fake(0x10));
        Handle c(Fake(0x20));
        c = std::move(b);  // closes 0x20, takes 0x10
        EXPECT_EQ(g_closed, std::vector<void*>{Fake(0x20)});
        c.Reset(Fake(-1));
        EXPECT_EQ(g_closed, (std::vector<void*>{Fake(0x20), Fake(0x10)}));
        EXPECT_FALSE(c);
    }
    EXPECT_EQ(g_closed.size(), 2u);
}

TEST(UniqueHandleTest, WideTextKeepsEveryUnit) {
    const WString text = u"数据\U0001F600.s3db";
    const wchar_t* wide = plat::win32::Wide(text);
    EXPECT_EQ(plat::win32::FromWide(wide, text.size()), text);
    EXPECT_EQ(static_cast<char16_t>(wide[text.size()]), u'\0');
}

}  // namespace

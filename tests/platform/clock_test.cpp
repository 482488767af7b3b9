#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/lock.h"

namespace {
plat::LocalTime FixedTime() { return plat::LocalTime{2026, 12, 8, 23, 59, 58}; }
}  // namespace

TEST(ClockTest, InjectedClockReplacesTheSystemClock) {
    plat::SetClockForTesting(&FixedTime);
    plat::LocalTime t = plat::Now();
    plat::SetClockForTesting(nullptr);
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.second, 58);
    plat::LocalTime real = plat::Now();
    EXPECT_GE(real.year, 2024);
    EXPECT_TRUE(real.month >= 1 && real.month <= 12);
}

TEST(ClockTest, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    plat::CriticalSection section;
    int counter = 0;
    {
        plat::ScopedLock outer(section);
        plat::ScopedLock inner(section);  // the holder may enter again
        ++counter;
    }
    std::thread other([&] {
        for (int i = 0; i < 10000; ++i) {
            plat::ScopedLock lock(section);
            ++counter;
        }
    });
    for (int i = 0; i < 10000; ++i) {
        plat::ScopedLock lock(section);
        ++counter;
    }
    other.join();
    EXPECT_EQ(counter, 20001);
    EXPECT_NE(plat::CurrentThreadId(), 0ul);
}

// The local clock, and the identity of the calling thread.
#pragma once

namespace plat {

struct LocalTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool SameDate(const LocalTime& other) const {
        return year == other.year && month == other.month && day == other.day;
    }
};

// The current local time, to the second (_time64 and localtime on Windows).
LocalTime Now();

// Tests replace the clock with a function of their own; null restores the system clock.
using ClockFunction = LocalTime (*)();
void SetClockForTesting(ClockFunction clock);

// Waits `milliseconds` on the calling thread.
void SleepMilliseconds(int milliseconds);

// The calling thread's identifier (GetCurrentThreadId; the kernel's thread id elsewhere).
unsigned long CurrentThreadId();

}  // namespace plat

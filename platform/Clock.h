#pragma once
#include <cstdint>
#include <string>

// The UTC calendar record the clock is set from: year, month 1..12, day of
// the week (0 = Sunday), day of the month, hour, minute, second, milliseconds.
struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
    bool operator==(const SystemTime&) const = default;
};

// A moment of the wall clock: seconds since 1970-01-01 00:00:00 UTC and the
// nanoseconds into that second.
struct WallTime {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
};

// The one source of time the logic reads: the wall clock, a monotonic clock
// for deadlines, the millisecond tick counter, sleeping, and setting the
// clock. Tests move a fake one instead of waiting for real time to pass.
class IClock {
public:
    virtual ~IClock() = default;
    // The current UTC time.
    virtual WallTime Now() = 0;
    // A time the kernel read from CLOCK_REALTIME (a datagram's stamp), on
    // the time base Now() reads.
    virtual WallTime FromSystemRealtime(const WallTime& kernel) = 0;
    // Microseconds since an arbitrary start; never goes back, never jumps
    // when the wall clock is set.
    virtual int64_t MonotonicMicroseconds() = 0;
    // false when the clock was not set; `reason` then says why in the words
    // of whoever refused (the system's error text, the time service's message).
    virtual bool SetSystemTime(const SystemTime& utc, std::string& reason) = 0;
    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual uint32_t GetTickCount() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The real clock: CLOCK_REALTIME, CLOCK_MONOTONIC, nanosleep; clock_settime,
// or the desktop's time service where the process may not set the clock itself.
IClock& SystemClock();

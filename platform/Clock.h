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

// Setting the clock, the millisecond tick counter and sleeping. Reading the
// current UTC time is left to the C library (see ntp/NtpTimestamp.h).
class IClock {
public:
    virtual ~IClock() = default;
    // false when the clock was not set; `reason` then says why in the words
    // of whoever refused (the system's error text, the time service's message).
    virtual bool SetSystemTime(const SystemTime& utc, std::string& reason) = 0;
    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual uint32_t GetTickCount() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The real clock: clock_settime, or the desktop's time service where the
// process may not set the clock itself; CLOCK_MONOTONIC, nanosleep.
IClock& SystemClock();

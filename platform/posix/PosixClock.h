#pragma once
#include "platform/Clock.h"

#include <cstdint>
#include <string>

// The two ways of setting the clock, both given microseconds since
// 1970-01-01 00:00:00 UTC.
struct ClockSetters {
    // Sets the clock itself; 0, or the errno value of the refusal.
    int (*direct)(int64_t usecUtc);
    // Asks the system's time service; false with its reason when not set.
    bool (*service)(int64_t usecUtc, std::string& reason);
};

// clock_settime on CLOCK_REALTIME, and org.freedesktop.timedate1.
ClockSetters SystemClockSetters();

// CLOCK_MONOTONIC in microseconds.
int64_t MonotonicNowMicroseconds();

// The POSIX clock. A setting goes to `direct` first; only when the system
// says the process may not (EPERM: neither root nor CAP_SYS_TIME) is the
// time service asked, which lets an ordinary desktop user authorise it.
class CPosixClock : public IClock {
public:
    explicit CPosixClock(ClockSetters setters = SystemClockSetters()) : m_setters(setters) {}

    WallTime Now() override;
    WallTime FromSystemRealtime(const WallTime& kernel) override { return kernel; }
    int64_t MonotonicMicroseconds() override;
    bool SetSystemTime(const SystemTime& utc, std::string& reason) override;
    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;

private:
    ClockSetters m_setters;
};

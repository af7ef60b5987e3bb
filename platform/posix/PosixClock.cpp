#include "platform/posix/PosixClock.h"

#include "platform/posix/SystemTimeCheck.h"
#include "platform/posix/TimedateService.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {
int SetRealtimeClock(int64_t usecUtc)
{
    const timespec now{static_cast<time_t>(usecUtc / 1000000), static_cast<long>(usecUtc % 1000000) * 1000L};
    return ::clock_settime(CLOCK_REALTIME, &now) == 0 ? 0 : errno;
}

// Microseconds since 1970 for a record IsValidSystemTime accepts.
int64_t MicrosecondsSince1970(const SystemTime& utc)
{
    tm fields{};
    fields.tm_year = utc.wYear - 1900;
    fields.tm_mon = utc.wMonth - 1;
    fields.tm_mday = utc.wDay;
    fields.tm_hour = utc.wHour;
    fields.tm_min = utc.wMinute;
    fields.tm_sec = utc.wSecond;
    return static_cast<int64_t>(::timegm(&fields)) * 1000000 + int64_t{utc.wMilliseconds} * 1000;
}
} // namespace

ClockSetters SystemClockSetters()
{
    return ClockSetters{SetRealtimeClock, SetTimeThroughService};
}

bool CPosixClock::SetSystemTime(const SystemTime& utc, std::string& reason)
{
    if (!IsValidSystemTime(utc)) {
        reason = std::strerror(EINVAL);
        return false;
    }
    const int64_t usecUtc = MicrosecondsSince1970(utc);
    const int error = m_setters.direct(usecUtc);
    if (error == 0)
        return true;
    if (error == EPERM)
        return m_setters.service(usecUtc, reason);
    reason = std::strerror(error);
    return false;
}

WallTime CPosixClock::Now()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return WallTime{static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
}

int64_t CPosixClock::MonotonicMicroseconds() { return MonotonicNowMicroseconds(); }

int64_t MonotonicNowMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

uint32_t CPosixClock::GetTickCount()
{
    // Wraps like the 32-bit tick count it stands for.
    return static_cast<uint32_t>(MonotonicMicroseconds() / 1000);
}

void CPosixClock::Sleep(uint32_t milliseconds)
{
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

IClock& SystemClock()
{
    static CPosixClock clock;
    return clock;
}

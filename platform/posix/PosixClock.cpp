#include "platform/Clock.h"
#include "platform/posix/SystemTimeCheck.h"

#include <cerrno>
#include <ctime>

namespace {
class CPosixClock : public IClock {
public:
    bool SetSystemTime(const SystemTime& utc) override;
    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;
};

bool CPosixClock::SetSystemTime(const SystemTime& utc)
{
    if (!IsValidSystemTime(utc))
        return false;
    tm fields{};
    fields.tm_year = utc.wYear - 1900;
    fields.tm_mon = utc.wMonth - 1;
    fields.tm_mday = utc.wDay;
    fields.tm_hour = utc.wHour;
    fields.tm_min = utc.wMinute;
    fields.tm_sec = utc.wSecond;
    const time_t seconds = ::timegm(&fields);
    if (seconds == static_cast<time_t>(-1))
        return false;
    const timespec now{seconds, static_cast<long>(utc.wMilliseconds) * 1000000L};
    return ::clock_settime(CLOCK_REALTIME, &now) == 0;
}

uint32_t CPosixClock::GetTickCount()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms); // wraps like the 32-bit tick count it stands for
}

void CPosixClock::Sleep(uint32_t milliseconds)
{
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
} // namespace

IClock& SystemClock()
{
    static CPosixClock clock;
    return clock;
}

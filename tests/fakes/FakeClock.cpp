#include "fakes/FakeClock.h"

#include "platform/posix/PosixClock.h"

#include <chrono>
#include <thread>

namespace {
using Lock = std::lock_guard<std::mutex>;

CPosixClock& RealClock()
{
    static CPosixClock clock;
    return clock;
}

int64_t Nanoseconds(const WallTime& t) { return t.seconds * 1000000000 + t.nanoseconds; }
} // namespace

void FakeClock::SetResult(bool accepted, std::string reason)
{
    Lock l(m_mutex);
    m_result = accepted;
    m_reason = std::move(reason);
}

void FakeClock::SetTicks(uint32_t tick) { Lock l(m_mutex); m_tick = tick; }
void FakeClock::AdvanceTicks(uint32_t ms) { Lock l(m_mutex); m_tick += ms; }
void FakeClock::SetRealSleepMicroseconds(uint32_t us) { Lock l(m_mutex); m_realSleepMicroseconds = us; }
std::vector<SystemTime> FakeClock::Settings() { Lock l(m_mutex); return m_settings; }
std::vector<uint32_t> FakeClock::Sleeps() { Lock l(m_mutex); return m_sleeps; }
uint32_t FakeClock::GetTickCount() { Lock l(m_mutex); return m_tick; }
void FakeClock::AdvanceMonotonic(int64_t us) { Lock l(m_mutex); m_monotonicAhead += us; }

void FakeClock::SetWallTime(const WallTime& now)
{
    Lock l(m_mutex);
    m_wallAheadNs = Nanoseconds(now) - Nanoseconds(RealClock().Now());
}

WallTime FakeClock::Now() { return FromSystemRealtime(RealClock().Now()); }

WallTime FakeClock::FromSystemRealtime(const WallTime& kernel)
{
    int64_t ahead;
    {
        Lock l(m_mutex);
        ahead = m_wallAheadNs;
    }
    const int64_t ns = Nanoseconds(kernel) + ahead;
    return WallTime{ns / 1000000000, static_cast<uint32_t>(ns % 1000000000)};
}

int64_t FakeClock::MonotonicMicroseconds()
{
    Lock l(m_mutex);
    return RealClock().MonotonicMicroseconds() + m_monotonicAhead;
}

bool FakeClock::SetSystemTime(const SystemTime& utc, std::string& reason)
{
    Lock l(m_mutex);
    m_settings.push_back(utc);
    if (!m_result)
        reason = m_reason;
    return m_result;
}

void FakeClock::Sleep(uint32_t milliseconds)
{
    uint32_t realSleep;
    {
        Lock l(m_mutex);
        m_sleeps.push_back(milliseconds);
        m_tick += milliseconds;
        m_monotonicAhead += int64_t{milliseconds} * 1000;
        realSleep = m_realSleepMicroseconds;
    }
    if (realSleep != 0)
        std::this_thread::sleep_for(std::chrono::microseconds(realSleep));
}

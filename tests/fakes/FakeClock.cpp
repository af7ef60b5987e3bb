#include "fakes/FakeClock.h"

#include <chrono>
#include <thread>

namespace {
using Lock = std::lock_guard<std::mutex>;
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
        realSleep = m_realSleepMicroseconds;
    }
    if (realSleep != 0)
        std::this_thread::sleep_for(std::chrono::microseconds(realSleep));
}

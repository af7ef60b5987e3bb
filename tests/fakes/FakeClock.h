#pragma once
// A clock in memory: records every setting, answers with a chosen result,
// and keeps a tick counter that only moves when told to or when Sleep runs.
// Thread-safe, so the monitor's worker may use it.
#include "platform/Clock.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class FakeClock : public IClock {
public:
    explicit FakeClock(uint32_t startTick = 0) : m_tick(startTick) {}

    // Scripting.
    // What SetSystemTime answers (default true), and its reason when false.
    void SetResult(bool accepted, std::string reason = "Operation not permitted");
    void SetTicks(uint32_t tick);
    void AdvanceTicks(uint32_t milliseconds); // wraps at 2^32 like the real counter
    // Each Sleep also really sleeps this long (0: not at all), so that other
    // threads get to run while a worker loops on the fake.
    void SetRealSleepMicroseconds(uint32_t microseconds);

    // Records.
    std::vector<SystemTime> Settings();
    std::vector<uint32_t> Sleeps();

    // IClock
    bool SetSystemTime(const SystemTime& utc, std::string& reason) override;
    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;

private:
    std::mutex m_mutex;
    bool m_result = true;
    std::string m_reason;
    uint32_t m_tick;
    uint32_t m_realSleepMicroseconds = 0;
    std::vector<SystemTime> m_settings;
    std::vector<uint32_t> m_sleeps;
};

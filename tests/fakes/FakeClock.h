#pragma once
// A clock in memory: records every setting, answers with a chosen result,
// and keeps a tick counter that only moves when told to or when Sleep runs.
// Its monotonic clock runs with the real one but can be moved ahead (a wait
// that passes without waiting), and its wall clock is the real one unless
// set. Thread-safe, so the monitor's worker may use it.
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
    // Time passes for deadlines without anyone waiting for it (Sleep moves
    // it as well).
    void AdvanceMonotonic(int64_t microseconds);
    // From now on the wall clock reads `now`, and runs on from there.
    void SetWallTime(const WallTime& now);

    // Records.
    std::vector<SystemTime> Settings();
    std::vector<uint32_t> Sleeps();

    // IClock
    WallTime Now() override;
    WallTime FromSystemRealtime(const WallTime& kernel) override;
    int64_t MonotonicMicroseconds() override;
    bool SetSystemTime(const SystemTime& utc, std::string& reason) override;
    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;

private:
    std::mutex m_mutex;
    bool m_result = true;
    std::string m_reason;
    uint32_t m_tick;
    uint32_t m_realSleepMicroseconds = 0;
    int64_t m_monotonicAhead = 0;  // microseconds ahead of the real monotonic clock
    int64_t m_wallAheadNs = 0;     // nanoseconds ahead of the real wall clock
    std::vector<SystemTime> m_settings;
    std::vector<uint32_t> m_sleeps;
};

// The POSIX clock: which records it accepts and which way it sets them
// (checked without setting the real clock), its tick counter and sleep; and
// the fake that stands in for it.
#include "fakes/FakeClock.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/SystemTimeCheck.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {
SystemTime Utc(int year, int month, int day, int hour, int minute, int second, int ms)
{
    return SystemTime{static_cast<uint16_t>(year), static_cast<uint16_t>(month), 0,
                      static_cast<uint16_t>(day),  static_cast<uint16_t>(hour),  static_cast<uint16_t>(minute),
                      static_cast<uint16_t>(second), static_cast<uint16_t>(ms)};
}

TEST(IsValidSystemTime, AcceptsRealDatesAndTimes)
{
    const SystemTime accepted[] = {
        Utc(2024, 1, 1, 0, 0, 0, 500),   Utc(2024, 2, 29, 23, 59, 59, 999), Utc(2000, 2, 29, 12, 0, 0, 0),
        Utc(1970, 1, 1, 0, 0, 0, 0),     Utc(2106, 2, 7, 6, 28, 15, 0),     Utc(2023, 12, 31, 0, 0, 0, 0),
    };
    for (const SystemTime& t : accepted)
        EXPECT_TRUE(IsValidSystemTime(t)) << t.wYear << "-" << t.wMonth << "-" << t.wDay;
}

TEST(IsValidSystemTime, RefusesFieldsOutOfRange)
{
    const SystemTime refused[] = {
        Utc(2024, 1, 1, 0, 0, 0, 1000), Utc(2024, 13, 1, 0, 0, 0, 0), Utc(2024, 0, 1, 0, 0, 0, 0),
        Utc(2023, 2, 29, 0, 0, 0, 0),   Utc(1900, 2, 29, 0, 0, 0, 0), Utc(2024, 4, 31, 0, 0, 0, 0),
        Utc(2024, 1, 0, 0, 0, 0, 0),    Utc(2024, 1, 1, 24, 0, 0, 0), Utc(2024, 1, 1, 0, 60, 0, 0),
        Utc(2024, 1, 1, 0, 0, 60, 0),   Utc(1969, 12, 31, 0, 0, 0, 0),
    };
    for (const SystemTime& t : refused)
        EXPECT_FALSE(IsValidSystemTime(t)) << t.wYear << "-" << t.wMonth << "-" << t.wDay << " " << t.wHour
                                           << ":" << t.wMinute << ":" << t.wSecond << "." << t.wMilliseconds;
}

TEST(SystemClock, TicksFollowSleep)
{
    const uint32_t before = SystemClock().GetTickCount();
    SystemClock().Sleep(50);
    const uint32_t elapsed = SystemClock().GetTickCount() - before;
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(FakeClock, TicksWrapAndSleepAdvancesThem)
{
    FakeClock clock(0xFFFFFFF0u);
    clock.Sleep(0x20);
    EXPECT_EQ(clock.GetTickCount(), 0x10u);
    clock.AdvanceTicks(5);
    EXPECT_EQ(clock.GetTickCount(), 0x15u);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{0x20});
    clock.SetResult(false, "refused");
    std::string reason;
    EXPECT_FALSE(clock.SetSystemTime(Utc(2024, 1, 1, 0, 0, 0, 0), reason));
    EXPECT_EQ(reason, "refused");
    EXPECT_EQ(clock.Settings().size(), 1u);
}

// The two setters of the POSIX clock, scripted: what the direct one answers,
// and what each was given.
struct ScriptedSetters {
    static inline int directResult = 0;
    static inline std::vector<int64_t> direct, service;
    static int Direct(int64_t usec) { direct.push_back(usec); return directResult; }
    static bool Service(int64_t usec, std::string& reason)
    {
        service.push_back(usec);
        reason = "from the service";
        return false;
    }
};

class PosixClockSetting : public ::testing::Test, protected ScriptedSetters {
protected:
    void SetUp() override { direct.clear(), service.clear(); }
    CPosixClock clock{ClockSetters{Direct, Service}};
    std::string reason;
};

// 2024-01-01 00:00:00.500 UTC.
constexpr int64_t NewYear2024HalfUsec = 1704067200500000;

TEST_F(PosixClockSetting, SetsDirectlyWhenAllowed)
{
    directResult = 0;
    EXPECT_TRUE(clock.SetSystemTime(Utc(2024, 1, 1, 0, 0, 0, 500), reason));
    EXPECT_EQ(direct, std::vector<int64_t>{NewYear2024HalfUsec});
    EXPECT_TRUE(service.empty());
}

TEST_F(PosixClockSetting, AsksTheServiceOnlyWhenNotPermitted)
{
    directResult = EPERM;
    EXPECT_FALSE(clock.SetSystemTime(Utc(2024, 1, 1, 0, 0, 0, 500), reason));
    EXPECT_EQ(service, std::vector<int64_t>{NewYear2024HalfUsec});
    EXPECT_EQ(reason, "from the service");

    service.clear();
    directResult = EINVAL;
    EXPECT_FALSE(clock.SetSystemTime(Utc(2024, 1, 1, 0, 0, 0, 500), reason));
    EXPECT_TRUE(service.empty());
    EXPECT_EQ(reason, "Invalid argument");
}

TEST_F(PosixClockSetting, RecordOutOfRangeGoesNowhere)
{
    EXPECT_FALSE(clock.SetSystemTime(Utc(2024, 1, 1, 0, 0, 0, 1000), reason));
    EXPECT_EQ(reason, "Invalid argument");
    EXPECT_TRUE(direct.empty());
    EXPECT_TRUE(service.empty());
}

} // namespace

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

// The POSIX clock's two setters, scripted: the direct one answers `direct`,
// the service refuses; each records what it was given.
int directResult = 0;
std::vector<int64_t> directCalls, serviceCalls;
int Direct(int64_t usec) { directCalls.push_back(usec); return directResult; }
bool Service(int64_t usec, std::string& reason) { serviceCalls.push_back(usec); reason = "refused"; return false; }

TEST(PosixClock, AsksTheServiceOnlyWhenNotPermittedToSetTheClockItself)
{
    CPosixClock clock(ClockSetters{Direct, Service});
    const SystemTime halfPastNewYear2024 = Utc(2024, 1, 1, 0, 0, 0, 500);
    const std::vector<int64_t> usec{1704067200500000};
    std::string reason;
    directResult = 0;
    EXPECT_TRUE(clock.SetSystemTime(halfPastNewYear2024, reason));
    EXPECT_EQ(directCalls, usec);
    EXPECT_TRUE(serviceCalls.empty());

    directResult = EPERM;
    EXPECT_FALSE(clock.SetSystemTime(halfPastNewYear2024, reason));
    EXPECT_EQ(serviceCalls, usec);
    EXPECT_EQ(reason, "refused");

    directResult = EINVAL; // any other refusal is the system's last word
    EXPECT_FALSE(clock.SetSystemTime(halfPastNewYear2024, reason));
    EXPECT_EQ(reason, "Invalid argument");
    EXPECT_EQ(serviceCalls.size(), 1u);

    // A record out of range reaches neither.
    EXPECT_FALSE(clock.SetSystemTime(Utc(2024, 1, 1, 0, 0, 0, 1000), reason));
    EXPECT_EQ(directCalls.size(), 3u);
    EXPECT_EQ(serviceCalls.size(), 1u);
}

} // namespace

// Setting the clock from an answer's transmit time, through the fake clock.
#include "query/ClockSetting.h"
#include "support/DialogRig.h"

#include <gtest/gtest.h>

namespace {
// 2024-01-01 00:00:00 UTC in NTP seconds: 1704067200 + 2208988800.
constexpr uint32_t NewYear2024 = 3913056000u;
constexpr uint32_t FractionPerMs = 4294967u;

SystemTime Utc(int year, int month, int dayOfWeek, int day, int hour, int minute, int second, int ms)
{
    return SystemTime{static_cast<uint16_t>(year),   static_cast<uint16_t>(month),
                      static_cast<uint16_t>(dayOfWeek), static_cast<uint16_t>(day),
                      static_cast<uint16_t>(hour),   static_cast<uint16_t>(minute),
                      static_cast<uint16_t>(second), static_cast<uint16_t>(ms)};
}

class ClockSettingTest : public ::testing::Test, public DialogRig {
protected:
    std::vector<SystemTime> SetFrom(uint32_t seconds, uint32_t fraction)
    {
        CNtpMsg reply;
        reply.m_transmit = NtpTimestamp{seconds, fraction};
        dialog.SetClockFromReply(reply);
        return clock.Settings();
    }
};

TEST_F(ClockSettingTest, HalfASecondIntoNewYear2024)
{
    EXPECT_EQ(SetFrom(NewYear2024, 0x80000000u), std::vector<SystemTime>{Utc(2024, 1, 1, 1, 0, 0, 0, 500)});
}

TEST_F(ClockSettingTest, ZeroSecondsLeaveTheClockAlone)
{
    EXPECT_TRUE(SetFrom(0, 0x80000000u).empty());
}

TEST_F(ClockSettingTest, SecondsBelow1970AreTheNextEra)
{
    EXPECT_EQ(TransmitTimeToSystemTime({100, 0}), Utc(2036, 2, 4, 7, 6, 29, 56, 0));
    EXPECT_EQ(TransmitTimeToSystemTime({2208988800u, 0}), Utc(1970, 1, 4, 1, 0, 0, 0, 0));
    EXPECT_EQ(TransmitTimeToSystemTime({2208988799u, 0}), Utc(2106, 2, 0, 7, 6, 28, 15, 0));
    EXPECT_EQ(TransmitTimeToSystemTime({0xFFFFFFFFu, 0}), Utc(2036, 2, 4, 7, 6, 28, 15, 0));
}

TEST_F(ClockSettingTest, MillisecondsAreTruncatedAndHeldAt999)
{
    const std::pair<uint32_t, int> cases[] = {
        {0, 0},
        {FractionPerMs - 1, 0},
        {FractionPerMs, 1},
        {999 * FractionPerMs - 1, 998},
        {999 * FractionPerMs, 999},
        {1000 * FractionPerMs - 1, 999},
        {1000 * FractionPerMs, 999}, // 1000 by the plain division
        {0xFFFFFFFFu, 999},
    };
    for (const auto& [fraction, ms] : cases) {
        SCOPED_TRACE(fraction);
        EXPECT_EQ(TransmitTimeToSystemTime({NewYear2024, fraction}).wMilliseconds, ms);
    }
    // Every record handed over is one the real clock would accept.
    EXPECT_EQ(SetFrom(NewYear2024 + 59, 0xFFFFFFFFu), std::vector<SystemTime>{Utc(2024, 1, 1, 1, 0, 0, 59, 999)});
}

TEST_F(ClockSettingTest, RefusedSettingPassesSilently)
{
    clock.SetResult(false);
    window.SetText(IDC_LOG, "before");
    EXPECT_EQ(SetFrom(NewYear2024, 0).size(), 1u);
    EXPECT_EQ(window.LogText(), "before");
    EXPECT_TRUE(window.MessageBoxes().empty());
}

} // namespace

#include "ntp/NtpTimestamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace {

constexpr uint32_t UnixEpochNtpSeconds = 2208988800u;

UtcTime Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0)
{
    return UtcTime{year, month, day, hour, minute, second, ms};
}

uint32_t SecondsOf(const UtcTime& utc)
{
    return UtcToNtpTimestamp(utc).Seconds;
}

TEST(JulianDayNumber, MatchesKnownDays)
{
    EXPECT_EQ(JulianDayNumber(2000, 1, 1), 2451545);
    EXPECT_EQ(JulianDayNumber(1900, 1, 1), 2415021);
    EXPECT_EQ(JulianDayNumber(1970, 1, 1), 2440588);
    // 2000 is a leap year, 1900 and 2100 are not.
    EXPECT_EQ(JulianDayNumber(2000, 3, 1) - JulianDayNumber(2000, 2, 28), 2);
    EXPECT_EQ(JulianDayNumber(1900, 3, 1) - JulianDayNumber(1900, 2, 28), 1);
    EXPECT_EQ(JulianDayNumber(2100, 3, 1) - JulianDayNumber(2100, 2, 28), 1);
    EXPECT_EQ(JulianDayNumber(2024, 1, 1) - JulianDayNumber(2023, 1, 1), 365);
    EXPECT_EQ(JulianDayNumber(2025, 1, 1) - JulianDayNumber(2024, 1, 1), 366);
}

TEST(UtcToNtpTimestamp, CountsSecondsFrom1900)
{
    EXPECT_EQ(UtcToNtpTimestamp(Utc(1900, 1, 1)), (NtpTimestamp{0, 0}));
    EXPECT_EQ(SecondsOf(Utc(1900, 1, 1, 0, 0, 1)), 1u);
    EXPECT_EQ(SecondsOf(Utc(1900, 1, 2, 1, 1, 1)), 86400u + 3661u);
    EXPECT_EQ(SecondsOf(Utc(1970, 1, 1)), UnixEpochNtpSeconds);
    EXPECT_EQ(SecondsOf(Utc(2000, 3, 1)) - SecondsOf(Utc(2000, 2, 29)), 86400u);
    EXPECT_EQ(SecondsOf(Utc(2000, 2, 29)) - SecondsOf(Utc(2000, 2, 28)), 86400u);
}

TEST(UtcToNtpTimestamp, WrapsIntoEraOne)
{
    EXPECT_EQ(SecondsOf(Utc(2036, 2, 7, 6, 28, 15)), 4294967295u);
    EXPECT_EQ(SecondsOf(Utc(2036, 2, 7, 6, 28, 16)), 0u);
    EXPECT_EQ(SecondsOf(Utc(2036, 2, 7, 6, 28, 17)), 1u);
    EXPECT_EQ(SecondsOf(Utc(2036, 2, 8, 6, 28, 16)), 86400u);
}

TEST(UtcToNtpTimestamp, MillisecondsBecomeTheFraction)
{
    EXPECT_EQ(UtcToNtpTimestamp(Utc(2026, 5, 4, 3, 2, 1, 250)).Fraction, 0x40000000u);
    EXPECT_EQ(UtcToNtpTimestamp(Utc(2026, 5, 4, 3, 2, 1, 0)).Fraction, 0u);
    EXPECT_EQ(UtcToNtpTimestamp(Utc(2026, 5, 4, 3, 2, 1, 500)).Fraction, 0x80000000u);
}

TEST(CurrentTime, AgreesWithTheCalendarClock)
{
    const time_t before = std::time(nullptr);
    const UtcTime utc = CurrentUtcTime();
    const NtpTimestamp now = CurrentNtpTime();
    const time_t after = std::time(nullptr);

    tm expected{};
    gmtime_r(&before, &expected);
    EXPECT_EQ(utc.year, expected.tm_year + 1900);
    EXPECT_EQ(utc.month, expected.tm_mon + 1);
    EXPECT_GE(utc.milliseconds, 0);
    EXPECT_LE(utc.milliseconds, 999);

    const uint32_t low = static_cast<uint32_t>(before) + UnixEpochNtpSeconds;
    const uint32_t high = static_cast<uint32_t>(after) + UnixEpochNtpSeconds;
    EXPECT_GE(now.Seconds - low, 0u);
    EXPECT_LE(now.Seconds - low, high - low);
}

TEST(MsToNtpFraction, IsTheFlooredQuotientForEveryMillisecond)
{
    EXPECT_EQ(MsToNtpFraction(0), 0u);
    EXPECT_EQ(MsToNtpFraction(125), 0x20000000u);
    EXPECT_EQ(MsToNtpFraction(250), 0x40000000u);
    EXPECT_EQ(MsToNtpFraction(500), 0x80000000u);
    for (uint32_t ms = 0; ms < 1000; ++ms) {
        const uint64_t expected = (static_cast<uint64_t>(ms) << 32) / 1000;
        ASSERT_EQ(MsToNtpFraction(ms), expected) << ms;
    }
}

TEST(MulHigh32, KeepsEveryCarry)
{
    EXPECT_EQ(MulHigh32(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFEu);
    EXPECT_EQ(MulHigh32(0x10000u, 0x10000u), 1u);
    EXPECT_EQ(MulHigh32(0xFFFFu, 0x10000u), 0u);
    EXPECT_EQ(MulHigh32(1000u, 0x80000000u), 500u);
    EXPECT_EQ(MulHigh32(1000u, 0xFFFFFFFFu), 999u);
    EXPECT_EQ(MulHigh32(0u, 0xFFFFFFFFu), 0u);
}

TEST(MsToNtpFraction, RoundTripLosesAMillisecondUnlessAMultipleOf125)
{
    EXPECT_EQ(MulHigh32(1000, MsToNtpFraction(999)), 998u);
    EXPECT_EQ(MulHigh32(1000, MsToNtpFraction(1)), 0u);
    EXPECT_EQ(MulHigh32(1000, MsToNtpFraction(500)), 500u);
    for (uint32_t ms = 0; ms < 1000; ++ms) {
        const uint32_t expected = ms % 125 == 0 ? ms : ms - 1;
        ASSERT_EQ(MulHigh32(1000, MsToNtpFraction(ms)), expected) << ms;
    }
}

TEST(NtpTimestampArithmetic, DiffBorrowsAndSumCarries)
{
    EXPECT_EQ(NtpTimestampDiff({5, 0x40000000}, {3, 0x80000000}), (NtpTimestamp{1, 0xC0000000}));
    EXPECT_EQ(NtpTimestampDiff({5, 0x80000000}, {3, 0x40000000}), (NtpTimestamp{2, 0x40000000}));
    EXPECT_EQ(NtpTimestampDiff({5, 7}, {5, 7}), (NtpTimestamp{0, 0}));
    // Half a second before zero.
    EXPECT_EQ(NtpTimestampDiff({3, 0}, {3, 0x80000000}), (NtpTimestamp{0xFFFFFFFF, 0x80000000}));
    // Across the era boundary.
    EXPECT_EQ(NtpTimestampDiff({1, 0}, {0xFFFFFFFF, 0}), (NtpTimestamp{2, 0}));

    EXPECT_EQ(NtpTimestampSum({1, 0x80000000}, {2, 0x80000000}), (NtpTimestamp{4, 0}));
    EXPECT_EQ(NtpTimestampSum({1, 0xFFFFFFFF}, {2, 0}), (NtpTimestamp{3, 0xFFFFFFFF}));
    EXPECT_EQ(NtpTimestampSum({1, 0xFFFFFFFF}, {2, 1}), (NtpTimestamp{4, 0}));
    EXPECT_EQ(NtpTimestampSum({0xFFFFFFFF, 0x80000000}, {0, 0x80000000}), (NtpTimestamp{0, 0}));

    const NtpTimestamp a{123456, 0x12345678};
    const NtpTimestamp b{654321, 0xFEDCBA98};
    EXPECT_EQ(NtpTimestampSum(NtpTimestampDiff(a, b), b), a);
}

TEST(NtpTimestampToMs, FloorsSignedValues)
{
    EXPECT_EQ(NtpTimestampToMs({0, 0}), 0);
    EXPECT_EQ(NtpTimestampToMs({2, 0x40000000}), 2250);
    EXPECT_EQ(NtpTimestampToMs({0xFFFFFFFF, 0x80000000}), -500);
    // 0.0005 s before zero floors to -1 ms.
    EXPECT_EQ(NtpTimestampToMs(NtpTimestampDiff({5, 0}, {5, 2147484})), -1);
    EXPECT_EQ(NtpTimestampToMs({0xFFFFFFF6, 0}), -10000);
    // Beyond about 24.8 days the product wraps in 32 bits.
    EXPECT_EQ(NtpTimestampToMs({2147483, 0}), 2147483000);
    EXPECT_EQ(NtpTimestampToMs({2147484, 0}), static_cast<int32_t>(2147484000u));
    EXPECT_LT(NtpTimestampToMs({2147484, 0}), 0);
}

TEST(NtpSecondsToTime, MapsBothErasFrom1970On)
{
    EXPECT_EQ(NtpSecondsToTime(UnixEpochNtpSeconds), 0);
    EXPECT_EQ(NtpSecondsToTime(0xFFFFFFFFu), 2085978495);
    EXPECT_EQ(NtpSecondsToTime(0), 2085978496);
    EXPECT_EQ(NtpSecondsToTime(UnixEpochNtpSeconds - 1), 4294967295);

    const time_t eraOne = static_cast<time_t>(NtpSecondsToTime(0));
    tm utc{};
    ASSERT_NE(gmtime_r(&eraOne, &utc), nullptr);
    EXPECT_EQ(utc.tm_year + 1900, 2036);
    EXPECT_EQ(utc.tm_mon + 1, 2);
    EXPECT_EQ(utc.tm_mday, 7);
    EXPECT_EQ(utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec, 6 * 3600 + 28 * 60 + 16);

    // The round trip through the calendar conversion.
    EXPECT_EQ(NtpSecondsToTime(SecondsOf(Utc(2026, 12, 6, 18, 20, 0))), 1796581200);
}

// The wall clock as a precise timestamp and as a request's millisecond one,
// both eras; the difference of two timestamps across the wrap.
TEST(NtpWallClock, PreciseAndMillisecondTimesAcrossTheEras)
{
    const struct {
        int64_t unixSeconds;
        uint32_t nanoseconds;
        NtpTimestamp precise;
        NtpTimestamp millisecond;
    } cases[] = {
        {0, 0, {UnixEpochNtpSeconds, 0}, {UnixEpochNtpSeconds, 0}},
        {1704067200, 500000000, {3913056000u, 0x80000000u}, {3913056000u, 0x80000000u}},
        {1704067200, 250999999, {3913056000u, 0x40418933u}, {3913056000u, MsToNtpFraction(250)}},
        {2085978495, 999999999, {0xFFFFFFFFu, 0xFFFFFFFBu}, {0xFFFFFFFFu, MsToNtpFraction(999)}},
        {2085978496, 1000000, {0, 0x00418937u}, {0, MsToNtpFraction(1)}}, // era 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unixSeconds);
        EXPECT_EQ(NtpPreciseTime(c.unixSeconds, c.nanoseconds), c.precise);
        EXPECT_EQ(NtpMillisecondTime(c.unixSeconds, c.nanoseconds), c.millisecond);
    }
    EXPECT_DOUBLE_EQ(NtpSecondsBetween({0, 0x80000000u}, {0xFFFFFFFFu, 0}), 1.5) << "across the era wrap";
    EXPECT_DOUBLE_EQ(NtpSecondsBetween({0xFFFFFFFFu, 0}, {0, 0x80000000u}), -1.5);
}

// Random bits below the millisecond never change the millisecond a report
// shows, and reach both ends of that millisecond's fractions.
TEST(WithRandomSubMillisecond, KeepsTheShownMillisecond)
{
    for (uint32_t fraction : {0u, 0x40000000u, MsToNtpFraction(1), MsToNtpFraction(998), MsToNtpFraction(999), 0xFFFFFFFFu}) {
        SCOPED_TRACE(fraction);
        const uint32_t shown = MulHigh32(1000, fraction);
        const uint32_t lowest = WithRandomSubMillisecond({7, fraction}, 0).Fraction;
        EXPECT_EQ(MulHigh32(1000, lowest), shown);
        if (lowest > 0) {
            EXPECT_EQ(MulHigh32(1000, lowest - 1), shown - 1) << "the millisecond's first fraction";
        }
        for (uint32_t random : {1u, 4294966u, 4294967u, 123456789u, 0xFFFFFFFFu}) {
            const NtpTimestamp t = WithRandomSubMillisecond({7, fraction}, random);
            EXPECT_EQ(t.Seconds, 7u);
            EXPECT_EQ(MulHigh32(1000, t.Fraction), shown) << random;
        }
    }
    // About 2^22 values to choose from: the highest reachable is the
    // millisecond's last fraction.
    const uint32_t first = WithRandomSubMillisecond({0, MsToNtpFraction(250)}, 0).Fraction;
    uint32_t last = first;
    for (uint32_t r = 4294960u; r < 4294970u; ++r)
        last = std::max(last, WithRandomSubMillisecond({0, MsToNtpFraction(250)}, r).Fraction);
    EXPECT_EQ(MulHigh32(1000, last + 1), 251u);
    EXPECT_GT(last - first, 1u << 21);
}

} // namespace

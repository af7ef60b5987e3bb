#include "jitter/JitterStats.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>

namespace {

constexpr uint32_t Quarter = 0x40000000u;
constexpr uint32_t Half = 0x80000000u;
constexpr uint32_t ThreeQuarters = 0xC0000000u;

NtpTimestamp Ts(uint32_t seconds, uint32_t fraction) { return NtpTimestamp{seconds, fraction}; }

// Feeds deviations the way the monitor does: update, then count the good poll.
CJitterStats Feed(std::initializer_list<int32_t> deviations)
{
    CJitterStats stats;
    for (int32_t d : deviations) {
        stats.Update(d);
        ++stats.good;
        ++stats.total;
    }
    return stats;
}

std::string Stats(const CJitterStats& s)
{
    return FormatJitterStats(1, s.good, s.bad, s.total, s.last, s.min, s.max, s.delta, s.average);
}

// The statistics text assembled line by line from the leading blanks and
// texts it is made of.
std::string ExpectedText(int good, int bad, int total, int last, int min, int max, int delta,
                         const std::string& average)
{
    auto pad = [](int blanks, const std::string& text) { return std::string(blanks, ' ') + text; };
    const std::string lines[] = {
        pad(1, "Jitter Monitor"),
        pad(1, std::string(40, '-')),
        "",
        pad(1, "Poll interval:  1 s"),
        "",
        pad(1, "Polls"),
        pad(11, "good: " + std::to_string(good)),
        pad(12, "bad: " + std::to_string(bad)),
        pad(10, "total: " + std::to_string(total)),
        pad(1, "Deviation "),
        pad(11, "Last: " + std::to_string(last)),
        pad(12, "Min: " + std::to_string(min)),
        pad(12, "Max: " + std::to_string(max)),
        pad(10, "Delta: " + std::to_string(delta)),
        pad(8, "Average: " + average),
    };
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text + " ";
}

TEST(JitterDeviation, SumOfBothWaysNotHalved)
{
    // A server 500 ms ahead, 250 ms each way.
    EXPECT_EQ(1000, JitterDeviation(Ts(1000, 0), Ts(1000, ThreeQuarters), Ts(1000, ThreeQuarters),
                                    Ts(1000, Half)));
    // A server behind: borrows on both differences.
    EXPECT_EQ(-1000, JitterDeviation(Ts(100, Half), Ts(100, Quarter), Ts(100, Quarter), Ts(101, 0)));
    // Identical clocks and no delay.
    EXPECT_EQ(0, JitterDeviation(Ts(5, Quarter), Ts(5, Quarter), Ts(5, Half), Ts(5, Half)));
}

TEST(JitterDeviation, FlooredToWholeMilliseconds)
{
    // Summed fraction 2^32 - 1 with Seconds 0: truncated to 999, not 1000.
    EXPECT_EQ(999, JitterDeviation(Ts(7, 0), Ts(7, 0xFFFFFFFFu), Ts(9, 0), Ts(9, 0)));
    // -0.0005 s is Seconds all ones with Fraction 0.9995 * 2^32: floored to -1.
    const uint32_t f = static_cast<uint32_t>(0.9995 * 4294967296.0);
    EXPECT_EQ(-1, JitterDeviation(Ts(0, 0), Ts(0xFFFFFFFFu, f), Ts(3, 0), Ts(3, 0)));
    // -0.5 ms in two halves: each way a quarter of a millisecond behind.
    EXPECT_EQ(-1, JitterDeviation(Ts(10, 1073742), Ts(10, 0), Ts(10, 0), Ts(10, 1073742)));
}

TEST(JitterDeviation, AcrossTheNtpEraWrap)
{
    // Request sent half a second before Seconds wraps to 0, answered after it.
    EXPECT_EQ(500, JitterDeviation(Ts(0xFFFFFFFFu, Half), Ts(0, Quarter), Ts(0, Quarter), Ts(0, Half)));
}

TEST(JitterStatsUpdate, FirstGoodPollSetsEverything)
{
    const CJitterStats s = Feed({37});
    EXPECT_EQ(1, s.good);
    EXPECT_EQ(37, s.last);
    EXPECT_EQ(37, s.min);
    EXPECT_EQ(37, s.max);
    EXPECT_EQ(0, s.delta);
    EXPECT_DOUBLE_EQ(37.0, s.average);
}

TEST(JitterStatsUpdate, MinAndMaxByMagnitudeWithSign)
{
    const CJitterStats s = Feed({5, -8, 3});
    EXPECT_EQ(3, s.last);
    EXPECT_EQ(3, s.min);
    EXPECT_EQ(-8, s.max);
    EXPECT_EQ(11, s.delta);
    EXPECT_DOUBLE_EQ(0.0, s.average);
    EXPECT_EQ(ExpectedText(3, 0, 3, 3, 3, -8, 11, "0.00"), Stats(s));
}

TEST(JitterStatsUpdate, EqualMagnitudeKeepsTheEarlierValue)
{
    const CJitterStats plusFirst = Feed({5, -5});
    EXPECT_EQ(5, plusFirst.min);
    EXPECT_EQ(5, plusFirst.max);
    EXPECT_EQ(0, plusFirst.delta);
    EXPECT_EQ(-5, plusFirst.last);

    const CJitterStats minusFirst = Feed({-5, 5, -5});
    EXPECT_EQ(-5, minusFirst.min);
    EXPECT_EQ(-5, minusFirst.max);
}

TEST(JitterStatsUpdate, RunningAverage)
{
    const CJitterStats s = Feed({1, 2, 4});
    EXPECT_DOUBLE_EQ(7.0 / 3.0, s.average);
    EXPECT_EQ(1, s.min);
    EXPECT_EQ(4, s.max);
    EXPECT_EQ(3, s.delta);
    EXPECT_EQ(ExpectedText(3, 0, 3, 4, 1, 4, 3, "2.33"), Stats(s));
}

TEST(JitterStatsUpdate, ExtremeDeviationsWrapInsteadOfOverflowing)
{
    const CJitterStats s = Feed({1, INT32_MIN});
    EXPECT_EQ(INT32_MIN, s.max);
    EXPECT_EQ(1, s.min);
    EXPECT_EQ(INT32_MAX, s.delta); // |INT32_MIN - 1| in 32 bits
    const CJitterStats t = Feed({-1, INT32_MAX, INT32_MIN});
    EXPECT_EQ(INT32_MIN, t.max); // larger magnitude than INT32_MAX
    EXPECT_EQ(INT32_MAX, t.delta);
}

TEST(FormatJitterStats, FirstRefreshIsAllZeros)
{
    const std::string text = FormatJitterStats(1, 0, 0, 0, 0, 0, 0, 0, 0.0);
    EXPECT_EQ(ExpectedText(0, 0, 0, 0, 0, 0, 0, "0.00"), text);
    EXPECT_EQ(' ', text.back());
}

TEST(FormatJitterStats, ArgumentsInTheirPlaces)
{
    EXPECT_EQ(ExpectedText(1, 0, 1, 37, 37, 37, 0, "37.00"), Stats(Feed({37})));
    EXPECT_EQ(ExpectedText(12, 7, 19, -3, 2, -14, 16, "-1.25"),
              FormatJitterStats(1, 12, 7, 19, -3, 2, -14, 16, -1.25));
    // Two decimals, rounded.
    EXPECT_NE(std::string::npos, FormatJitterStats(1, 0, 0, 0, 0, 0, 0, 0, 2.005001).find("Average: 2.01\r\n "));
}

} // namespace

#include "jitter/JitterStats.h"

#include "ntp/Format.h"

namespace {

// Magnitude in 64 bits, so that INT32_MIN has one too.
int64_t Magnitude(int32_t value)
{
    return value < 0 ? -static_cast<int64_t>(value) : value;
}

// |a - b| in wrapping 32-bit arithmetic, as the counters are 32-bit.
int32_t WrappingAbsDiff(int32_t a, int32_t b)
{
    const uint32_t diff = static_cast<uint32_t>(a) - static_cast<uint32_t>(b);
    const uint32_t magnitude = static_cast<int32_t>(diff) < 0 ? 0u - diff : diff;
    return static_cast<int32_t>(magnitude);
}

} // namespace

void CJitterStats::Update(int32_t deviation)
{
    if (good == 0) {
        min = deviation;
        max = deviation;
    } else {
        // Strict comparisons: on equal magnitudes the earlier value stays.
        if (Magnitude(deviation) > Magnitude(max))
            max = deviation;
        if (Magnitude(deviation) < Magnitude(min))
            min = deviation;
    }
    const double n = good;
    average = (n * average + deviation) / (n + 1.0);
    delta = WrappingAbsDiff(max, min);
    last = deviation;
}

int32_t JitterDeviation(const NtpTimestamp& t1, const NtpTimestamp& t2, const NtpTimestamp& t3,
                        const NtpTimestamp& t4)
{
    const NtpTimestamp back = NtpTimestampDiff(t3, t4);
    const NtpTimestamp out = NtpTimestampDiff(t2, t1);
    return NtpTimestampToMs(NtpTimestampSum(out, back));
}

std::string FormatJitterStats(int32_t interval, int32_t good, int32_t bad, int32_t total, int32_t last,
                              int32_t min, int32_t max, int32_t delta, double average)
{
    return Format(" Jitter Monitor\r\n ----------------------------------------\r\n\r\n"
                  " Poll interval:  %i s\r\n\r\n Polls\r\n           good: %i\r\n"
                  "            bad: %i\r\n          total: %i\r\n Deviation \r\n"
                  "           Last: %i\r\n            Min: %i\r\n            Max: %i\r\n"
                  "          Delta: %i\r\n        Average: %.2f\r\n ",
                  interval, good, bad, total, last, min, max, delta, average);
}

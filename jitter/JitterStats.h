#pragma once
#include "ntp/NtpTimestamp.h"

#include <cstdint>
#include <string>

// Running statistics of one monitor run. Deviations are in milliseconds;
// min and max are the deviations of smallest and largest magnitude, sign kept.
struct CJitterStats {
    int32_t total = 0;
    int32_t good = 0;
    int32_t bad = 0;
    int32_t last = 0;
    int32_t min = 0;
    int32_t max = 0;
    int32_t delta = 0;
    double average = 0.0;

    // Folds a new deviation into last, min, max, delta and average, with
    // `good` still counting the polls before this one. Does not count it.
    void Update(int32_t deviation);
};

// (T2 - T1) + (T3 - T4) floored to whole milliseconds, not halved: positive
// when the server's clock is ahead. T1 is the server's copy of our transmit
// time, T2 its receive time, T3 its transmit time, T4 our arrival time.
int32_t JitterDeviation(const NtpTimestamp& t1, const NtpTimestamp& t2, const NtpTimestamp& t3,
                        const NtpTimestamp& t4);

// The statistics text the log pane shows before every poll.
std::string FormatJitterStats(int32_t interval, int32_t good, int32_t bad, int32_t total, int32_t last,
                              int32_t min, int32_t max, int32_t delta, double average);

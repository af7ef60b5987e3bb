#pragma once
// Marzullo's intersection: of the correctness intervals of several clocks,
// the largest set that shares a point. The true time lies in every correct
// clock's interval, so the clocks outside that set cannot all be right.
#include <vector>

struct CorrectnessInterval {
    double low = 0;
    double high = 0;
};

struct IntersectionResult {
    int agreeing = 0;      // how many intervals the largest set holds
    // One largest set, holding more than half of the intervals. Two sets of
    // the same size that share no point leave no majority either.
    bool majority = false;
    // With a majority: the points its intervals share, and who is in it.
    double low = 0;
    double high = 0;
    std::vector<bool> agrees;
};

// Intervals are closed: two that touch share their common end.
IntersectionResult Intersect(const std::vector<CorrectnessInterval>& intervals);

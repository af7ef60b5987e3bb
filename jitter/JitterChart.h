#pragma once
// What the window charts of a monitor run: the deviation of every good poll
// over the run's time (the numbers of the CSV file), a mark for every bad one.
#include "jitter/JitterPoll.h"
#include "platform/Chart.h"

#include <cstddef>
#include <cstdint>
#include <deque>

class CJitterChart {
public:
    // An hour of polls at the shortest interval; older ones leave the chart.
    static constexpr size_t MaxPolls = 3600;

    void Clear();
    void Add(const JitterPoll& poll);
    bool Empty() const { return m_points.empty(); }
    // Seconds since the run's first poll across, milliseconds up.
    ChartView View() const;

private:
    std::deque<ChartPoint> m_points;
    uint32_t m_firstTick = 0;
};

// An axis over at least [low, high], on whole grid steps of 1, 2 or 5 times a
// power of ten (about `maxSteps` of them, none shorter than `minStep`).
ChartAxis ScaledAxis(double low, double high, int maxSteps, double minStep);

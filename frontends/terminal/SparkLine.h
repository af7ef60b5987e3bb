#pragma once
// A chart on one line of a terminal.
#include "platform/Chart.h"

#include <string>

// The samples of the chart's last `seconds`, one character each: a block
// from ▁ to █ for a good one, scaled from the lowest to the highest of them,
// × for a failed one; then their range, e.g. "▁▄█×▂  -3..12 ms". UTF-8.
std::string SparkLine(const ChartView& chart, double seconds);

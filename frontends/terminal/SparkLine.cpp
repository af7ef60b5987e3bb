#include "frontends/terminal/SparkLine.h"

#include "ntp/Format.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
const char* const Blocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
constexpr int Levels = 8;
const char* const FailedMark = "×";
} // namespace

std::string SparkLine(const ChartView& chart, double seconds)
{
    if (chart.points.empty())
        return {};
    const double from = chart.points.back().x - seconds;
    std::vector<ChartPoint> shown;
    for (const ChartPoint& p : chart.points)
        if (p.x > from)
            shown.push_back(p);
    double low, high;
    const bool any = UnmarkedRange(shown, low, high);
    std::string line;
    for (const ChartPoint& p : shown) {
        if (p.marked) {
            line += FailedMark;
            continue;
        }
        // A flat minute sits in the middle.
        const int level = high > low ? static_cast<int>(std::lround((p.y - low) / (high - low) * (Levels - 1)))
                                     : Levels / 2 - 1;
        line += Blocks[level];
    }
    if (any)
        line += Format("  %g..%g %s", low, high, chart.y.unit.c_str());
    return line;
}

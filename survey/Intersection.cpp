#include "survey/Intersection.h"

#include <algorithm>

namespace {
struct Edge {
    double at;
    int step; // +1 where an interval begins, -1 where it ends
};
} // namespace

IntersectionResult Intersect(const std::vector<CorrectnessInterval>& intervals)
{
    std::vector<Edge> edges;
    for (const CorrectnessInterval& interval : intervals) {
        edges.push_back({interval.low, +1});
        edges.push_back({interval.high, -1});
    }
    // At one point beginnings come first, so that touching intervals meet.
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.at < b.at || (a.at == b.at && a.step > b.step); });

    IntersectionResult result;
    int depth = 0;
    int regions = 0; // separate stretches at the greatest depth
    bool inDeepest = false;
    for (const Edge& edge : edges) {
        if (edge.step > 0) {
            ++depth;
            if (depth > result.agreeing) {
                result.agreeing = depth;
                regions = 1;
                result.low = edge.at;
                inDeepest = true;
            } else if (depth == result.agreeing) {
                ++regions;
            }
            continue;
        }
        if (inDeepest)
            result.high = edge.at;
        inDeepest = false;
        --depth;
    }

    result.majority = regions == 1 && 2 * result.agreeing > static_cast<int>(intervals.size());
    result.agrees.assign(intervals.size(), false);
    for (size_t n = 0; result.majority && n < intervals.size(); ++n)
        result.agrees[n] = intervals[n].low <= result.low && intervals[n].high >= result.high;
    if (!result.majority)
        result.low = result.high = 0;
    return result;
}

#pragma once
// A chart as a window draws it: points over two axes that the logic has
// already scaled to the data.
#include <algorithm>
#include <string>
#include <vector>

struct ChartPoint {
    double x = 0.0;
    double y = 0.0;
    bool marked = false; // a failed sample, drawn as a mark; its y means nothing
};

// From low to high with a grid line every step, counted from low.
struct ChartAxis {
    double low = 0.0;
    double high = 1.0;
    double step = 1.0;
    std::string unit;
};

struct ChartView {
    std::vector<ChartPoint> points; // in order of x; none: no chart to show
    ChartAxis x;
    ChartAxis y;
};

// The lowest and highest y of the points that are not marked; false, with
// both 0, when every point is marked.
inline bool UnmarkedRange(const std::vector<ChartPoint>& points, double& low, double& high)
{
    bool any = false;
    low = high = 0.0;
    for (const ChartPoint& p : points) {
        if (p.marked)
            continue;
        low = any ? std::min(low, p.y) : p.y;
        high = any ? std::max(high, p.y) : p.y;
        any = true;
    }
    return any;
}

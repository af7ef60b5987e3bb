#pragma once
// A chart as a window draws it: points over two axes that the logic has
// already scaled to the data.
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

// The monitor's chart as data: axes scaled to the data, a run's polls as
// points over its time, and the terminal's one-line rendering of a minute.
#include "frontends/terminal/SparkLine.h"
#include "jitter/JitterChart.h"

#include <gtest/gtest.h>

namespace {

JitterPoll Poll(uint32_t tick, bool good, int32_t deviation = 0)
{
    JitterPoll poll;
    poll.startTick = tick;
    poll.good = good;
    poll.deviation = deviation;
    return poll;
}

TEST(JitterChart, AxesCoverTheDataOnRoundSteps)
{
    struct Case {
        double low, high;
        int steps;
        double minStep;
        ChartAxis expected;
    };
    const Case cases[] = {
        {-3, 12, 5, 1, {-5, 15, 5, ""}},
        {0, 59, 6, 1, {0, 60, 10, ""}},
        {37, 37, 5, 1, {37, 38, 1, ""}},      // one value: one step of the least size
        {0.2, 0.4, 5, 1, {0, 1, 1, ""}},      // never finer than the least step
        {-1000, 1000, 5, 1, {-1000, 1000, 500, ""}},
        {4, 3581, 6, 1, {0, 4000, 1000, ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.low << ".." << c.high);
        const ChartAxis axis = ScaledAxis(c.low, c.high, c.steps, c.minStep);
        EXPECT_DOUBLE_EQ(axis.low, c.expected.low);
        EXPECT_DOUBLE_EQ(axis.high, c.expected.high);
        EXPECT_DOUBLE_EQ(axis.step, c.expected.step);
    }
}

TEST(JitterChart, PollsBecomePointsOverTheRunsTime)
{
    CJitterChart chart;
    EXPECT_TRUE(chart.View().points.empty());
    // Ticks wrap at 2^32 during the run.
    const uint32_t start = 0xFFFFF000u;
    chart.Add(Poll(start, true, 5));
    chart.Add(Poll(start + 1000, false));
    chart.Add(Poll(start + 2000, true, -8));
    chart.Add(Poll(start + 6000, true, 3000)); // after a RATE kiss
    const ChartView view = chart.View();
    ASSERT_EQ(view.points.size(), 4u);
    const double xs[] = {0, 1, 2, 6};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(view.points[i].x, xs[i]);
    EXPECT_TRUE(view.points[1].marked);
    EXPECT_FALSE(view.points[3].marked);
    EXPECT_DOUBLE_EQ(view.points[3].y, 3000);
    // Only good polls scale the deviation axis.
    EXPECT_DOUBLE_EQ(view.y.low, -1000);
    EXPECT_DOUBLE_EQ(view.y.high, 3000);
    EXPECT_EQ(view.y.unit, "ms");
    EXPECT_DOUBLE_EQ(view.x.low, 0);
    EXPECT_GE(view.x.high, 6);
    EXPECT_EQ(view.x.unit, "s");

    chart.Clear();
    EXPECT_TRUE(chart.Empty());
    chart.Add(Poll(42, true, 1));
    EXPECT_DOUBLE_EQ(chart.View().points.front().x, 0) << "a new run starts at 0";
}

TEST(JitterChart, KeepsTheLastHourOfPolls)
{
    CJitterChart chart;
    for (uint32_t n = 0; n < CJitterChart::MaxPolls + 10; ++n)
        chart.Add(Poll(n * 1000, true, static_cast<int32_t>(n)));
    const ChartView view = chart.View();
    ASSERT_EQ(view.points.size(), CJitterChart::MaxPolls);
    EXPECT_DOUBLE_EQ(view.points.front().x, 10);
    EXPECT_DOUBLE_EQ(view.points.front().y, 10);
}

TEST(SparkLine, TheLastMinuteOnOneLine)
{
    auto view = [](std::vector<ChartPoint> points) {
        ChartView v;
        v.points = std::move(points);
        v.y.unit = "ms";
        return v;
    };
    struct Case {
        const char* name;
        ChartView chart;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing yet", view({}), ""},
        {"lowest to highest", view({{0, -3, false}, {1, 12, false}, {2, 4.5, false}}), "▁█▅  -3..12 ms"},
        {"failed polls marked", view({{0, 1, false}, {1, 0, true}, {2, 2, false}}), "▁×█  1..2 ms"},
        {"a flat minute in the middle", view({{0, 7, false}, {1, 7, false}}), "▄▄  7..7 ms"},
        {"only failures", view({{0, 0, true}, {1, 0, true}}), "××"},
        {"older than a minute left out", view({{0, 100, false}, {30, 9, false}, {31, 1, false}, {61, 2, false}, {90, 3, false}}),
         "▁▅█  1..3 ms"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SparkLine(c.chart, 60.0), c.expected) << c.name;
}

} // namespace

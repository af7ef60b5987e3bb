#include "jitter/JitterChart.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int TimeSteps = 6;
constexpr int DeviationSteps = 5;
} // namespace

void CJitterChart::Clear() { m_points.clear(); }

void CJitterChart::Add(const JitterPoll& poll)
{
    if (m_points.empty())
        m_firstTick = poll.startTick;
    if (m_points.size() == MaxPolls)
        m_points.pop_front();
    // Unsigned difference: the run's time across the tick counter's wrap.
    const double seconds = static_cast<uint32_t>(poll.startTick - m_firstTick) / 1000.0;
    m_points.push_back({seconds, poll.good ? static_cast<double>(poll.deviation) : 0.0, !poll.good});
}

ChartView CJitterChart::View() const
{
    ChartView view;
    if (m_points.empty())
        return view;
    view.points.assign(m_points.begin(), m_points.end());
    double low, high;
    UnmarkedRange(view.points, low, high);
    view.x = ScaledAxis(m_points.front().x, m_points.back().x, TimeSteps, 1.0);
    view.x.unit = "s";
    view.y = ScaledAxis(low, high, DeviationSteps, 1.0);
    view.y.unit = "ms";
    return view;
}

ChartAxis ScaledAxis(double low, double high, int maxSteps, double minStep)
{
    const double rough = std::max(high - low, minStep) / maxSteps;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = 10.0 * power;
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * power >= rough) {
            step = factor * power;
            break;
        }
    step = std::max(step, minStep);
    ChartAxis axis;
    axis.step = step;
    axis.low = std::floor(low / step) * step;
    axis.high = std::max(std::ceil(high / step) * step, axis.low + step);
    return axis;
}

#include "frontends/exporter/ScrapeBudget.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {
constexpr double MinScrapeTimeoutSeconds = 0.01;
constexpr double MaxScrapeTimeoutSeconds = 600.0;
constexpr double ReplyMarginSeconds = 0.5;
} // namespace

std::chrono::microseconds ScrapeBudget(const char* header)
{
    double seconds = DefaultScrapeTimeoutSeconds;
    char* end = nullptr;
    const double given = header ? std::strtod(header, &end) : 0.0;
    if (header && end != header && *end == '\0' && std::isfinite(given) && given > 0.0)
        seconds = std::clamp(given, MinScrapeTimeoutSeconds, MaxScrapeTimeoutSeconds);
    seconds -= std::min(ReplyMarginSeconds, seconds / 10);
    return std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6));
}

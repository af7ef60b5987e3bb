#pragma once
// The exporter's answers in Prometheus' text format: gauges in base units,
// each with its HELP and TYPE lines.
#include "frontends/exporter/ProcessFigures.h"
#include "frontends/exporter/TargetCache.h"

#include <cstdint>
#include <string>

constexpr const char* MetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// One target's sample, and how long this scrape took.
std::string TargetMetricsText(const TargetSample& sample, double scrapeSeconds);

// The exporter's own process: the usual process figures, the NTP requests
// it has sent and the targets it keeps.
struct ExporterFigures {
    ProcessFigures process;
    double startTimeSeconds = 0.0; // since 1970
    uint64_t requestsSent = 0;
    size_t targets = 0;
};
std::string ExporterMetricsText(const ExporterFigures& figures);

// A label's value as the format wants it: quotes, backslashes and line feeds
// escaped, any byte that is not printable ASCII as '?'.
std::string MetricLabelValue(const std::string& text);

#pragma once
// How long a scrape may take before it must answer: Prometheus says so in a
// header, the reply needs a moment to travel back.
#include <chrono>

constexpr double DefaultScrapeTimeoutSeconds = 10.0;

// X-Prometheus-Scrape-Timeout-Seconds when it is a number of seconds above 0
// (held between 0.01 and 600), else the default; less a margin for the reply.
std::chrono::microseconds ScrapeBudget(const char* header);

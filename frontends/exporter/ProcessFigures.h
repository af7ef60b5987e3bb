#pragma once
// What the exporter's own process uses, as the kernel counts it.
#include <cstdint>

struct ProcessFigures {
    double cpuSeconds = 0.0; // user and system time of all threads
    double residentBytes = 0.0;
    double virtualBytes = 0.0;
    double openFds = 0.0;
    double maxFds = 0.0;
};

ProcessFigures ReadProcessFigures();

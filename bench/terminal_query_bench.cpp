// The whole terminal query as a shell runs it: `horolab --query` against
// chronyd, wall time from fork to reaped exit and the child's peak resident
// memory, beside a bare process start (/bin/true) as the floor. The goals are
// ratios to a one-shot NTP client's figures quoted as measured on this
// machine (51 ms wall, 17.7 MiB peak), not measured here.
//   terminal_query_bench CHRONY_DIR [RUNS]   (horolab is found beside bench/)
#include "BenchStats.h"

#include <string>
#include <vector>

namespace {

constexpr double QuotedWallMs = 51.0;
constexpr double QuotedPeakMiB = 17.7;

struct Runs {
    std::vector<double> wallMs;
    long peakKiB = 0;
    bool allSucceeded = true;
};

Runs Measure(const std::vector<std::string>& args, int count)
{
    Runs runs;
    for (int n = 0; n < count; ++n) {
        const bench::ProcessRun run = bench::RunProcess(args);
        runs.wallMs.push_back(run.wallMs);
        runs.peakKiB = std::max(runs.peakKiB, run.peakKiB);
        runs.allSucceeded = runs.allSucceeded && run.succeeded;
    }
    return runs;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string port = bench::ReadChronyPort(bench::ChronyDir(argc, argv));
    if (port.empty()) {
        std::fprintf(stderr, "no chronyd fixture (give its folder)\n");
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 20;
    const Runs floor = Measure({"/bin/true"}, count);
    const Runs query = Measure({bench::BuildDir(argv[0]) + "/horolab", "--query", "127.0.0.1:" + port}, count);
    if (!query.allSucceeded) {
        std::fprintf(stderr, "horolab --query failed\n");
        return 1;
    }
    const double wall = bench::Median(query.wallMs);
    const double peakMiB = query.peakKiB / 1024.0;
    std::printf("== Terminal query, whole process (horolab --query, %d runs, chronyd on loopback)\n", count);
    bench::PrintSpread("wall time", query.wallMs, "ms");
    bench::PrintSpread("floor: bare process start (/bin/true)", floor.wallMs, "ms");
    std::printf("  peak memory: %.1f MiB (floor /bin/true: %.1f MiB)\n", peakMiB, floor.peakKiB / 1024.0);
    std::printf("  quoted reference (one-shot NTP client, this machine, 2026-12-08): %.0f ms wall, %.1f MiB peak\n",
                QuotedWallMs, QuotedPeakMiB);
    const double wallRatio = wall / QuotedWallMs, memRatio = peakMiB / QuotedPeakMiB;
    std::printf("  wall ratio %.3f (goal <= 0.2): %s\n", wallRatio, bench::Verdict(wallRatio <= 0.2));
    std::printf("  memory ratio %.3f (goal <= 0.65): %s\n", memRatio, bench::Verdict(memRatio <= 0.65));
    return 0;
}

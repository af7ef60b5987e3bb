// Start-up of the tool against its floor: from exec to the dialog on screen
// (offscreen platform), and the peak resident memory, for the program's own
// start (startup_probe: main.cpp's path through CTikkaraApp) and for a bare
// dialog of as many widgets of the same kinds (bare_dialog). Runs alternate
// the two programs, in turn first and second; both sit beside this program.
//   startup_bench [RUNS]        default 20
#include "BenchStats.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr double TimeGoal = 1.3;
constexpr double MemoryGoal = 1.2;
constexpr int ShowTimeoutMs = 30000;

struct Run {
    double shownMs = 0;
    double peakMiB = 0;
    bool ok = false;
};

std::string Beside(const char* self, const char* name)
{
    std::string path = self;
    const size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/" + name;
}

// Forks and execs `program`, times until it prints "shown", then collects
// its peak resident set size from wait4.
Run Start(const std::string& program)
{
    Run run;
    int out[2];
    if (::pipe(out) != 0)
        return run;
    const double t0 = NowUs();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        // The toolkit's start-up notes (no runtime folder and the like) are noise here.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string said;
    pollfd entry{out[0], POLLIN, 0};
    while (said.find("shown\n") == std::string::npos && ::poll(&entry, 1, ShowTimeoutMs) > 0) {
        char buffer[64];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        said.append(buffer, static_cast<size_t>(n));
    }
    const double t1 = NowUs();
    ::close(out[0]);
    run.ok = said.find("shown\n") != std::string::npos;
    if (!run.ok)
        ::kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.ok = run.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.shownMs = (t1 - t0) / 1000.0;
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0; // KiB on Linux
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    if (runs < 2) {
        std::fprintf(stderr, "usage: %s [RUNS >= 2]\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string tool = Beside(argv[0], "startup_probe");
    const std::string bare = Beside(argv[0], "bare_dialog");

    std::printf("== Start-up: exec to the dialog shown (offscreen) and peak memory, tool vs a bare dialog, "
                "%d runs each\n",
                runs);
    PrintLoad("before");
    std::vector<double> toolMs, bareMs, toolMiB, bareMiB;
    const int warmUp = 2; // page cache and font cache
    for (int i = -warmUp; i < runs; ++i) {
        Run t, b;
        if (i % 2 == 0) {
            t = Start(tool);
            b = Start(bare);
        } else {
            b = Start(bare);
            t = Start(tool);
        }
        if (!t.ok || !b.ok) {
            std::fprintf(stderr, "a start failed: %s %s\n", t.ok ? "" : tool.c_str(), b.ok ? "" : bare.c_str());
            return 1;
        }
        if (i < 0)
            continue;
        toolMs.push_back(t.shownMs);
        bareMs.push_back(b.shownMs);
        toolMiB.push_back(t.peakMiB);
        bareMiB.push_back(b.peakMiB);
    }
    PrintSpread("floor: bare dialog, exec to shown", bareMs, "ms");
    PrintSpread("tool: exec to shown", toolMs, "ms");
    const double time = Median(toolMs) / Median(bareMs);
    std::printf("  ratio tool/floor %.2f   GOAL <= %.1f: %s\n", time, TimeGoal, Verdict(time <= TimeGoal));
    PrintSpread("floor: bare dialog, peak RSS", bareMiB, "MiB");
    PrintSpread("tool: peak RSS", toolMiB, "MiB");
    const double memory = Median(toolMiB) / Median(bareMiB);
    std::printf("  ratio tool/floor %.2f   GOAL <= %.1f: %s\n", memory, MemoryGoal, Verdict(memory <= MemoryGoal));
    PrintLoad("after");
    return 0;
}

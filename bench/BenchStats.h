#pragma once
// Small helpers the benchmarks share: clocks, order statistics and the
// machine's load, printed with every figure so that a busy machine shows.
#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

// The chronyd fixture's folder: the first argument, else $HOROLAB_CHRONY_DIR.
inline std::string ChronyDir(int argc, char** argv)
{
    const char* env = std::getenv("HOROLAB_CHRONY_DIR");
    return argc > 1 ? argv[1] : env ? env : "";
}

// The port a chronyd fixture started in `dir` serves on; empty when none.
inline std::string ReadChronyPort(const std::string& dir)
{
    std::ifstream file(dir + "/port");
    std::string port;
    std::getline(file, port);
    return port;
}

inline double Seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double NowUs() { return Seconds(CLOCK_MONOTONIC) * 1e6; }

// User plus system time of this process, all threads, in seconds.
inline double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// A number of the process's status file: "VmRSS:" in KiB, "Threads:", ...
inline long StatusNumber(const std::string& process, const char* field)
{
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::char_traits<char>::length(field));
    }
    return 0;
}

// Resident set size right now, in KiB (or the peak's, "VmHWM:").
inline long ResidentKiB(const std::string& process = "self", const char* field = "VmRSS:")
{
    return StatusNumber(process, field);
}

// The p-th fraction (0..1) of the values, nearest rank.
inline double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

inline double Median(const std::vector<double>& values) { return Percentile(values, 0.5); }

inline double Mean(const std::vector<double>& values)
{
    double sum = 0.0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

// The 1-minute load average, as uptime shows it.
inline std::string LoadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

inline void PrintLoad(const char* when)
{
    std::printf("load average %s: %s\n", when, LoadAverage().c_str());
}

// "median m (p10 a, p90 b, n samples)" in the values' unit.
inline void PrintSpread(const char* what, const std::vector<double>& values, const char* unit)
{
    std::printf("  %-34s median %9.2f %s  (p10 %.2f, p90 %.2f, n %zu)\n", what, Median(values), unit,
                Percentile(values, 0.1), Percentile(values, 0.9), values.size());
}

inline const char* Verdict(bool met) { return met ? "MET" : "MISSED"; }

// The build tree a benchmark runs from: bench/<name>'s parent.
inline std::string BuildDir(const char* self)
{
    std::string path = self;
    path = path.substr(0, path.find_last_of('/')); // bench/
    return path.substr(0, path.find_last_of('/'));
}

struct ProcessRun {
    double wallMs = 0;
    double cpuMs = 0; // user and system time of the child
    long peakKiB = 0; // its peak resident memory
    long peakThreads = 0; // the most threads it was seen with, when watched
    bool succeeded = false;
};

// Runs a program to its end, its output thrown away, as a shell would run it;
// `watchThreads` looks at its thread count every 2 ms (which blurs the wall
// time by as much).
inline ProcessRun RunProcess(const std::vector<std::string>& args, bool watchThreads = false)
{
    std::fflush(stdout); // the child must not print what is buffered here again
    const double start = NowUs();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout))
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ProcessRun run;
    while (watchThreads && wait4(pid, &status, WNOHANG, &usage) == 0) {
        run.peakThreads = std::max(run.peakThreads, StatusNumber(std::to_string(pid), "Threads:"));
        usleep(2000);
    }
    if (!watchThreads)
        wait4(pid, &status, 0, &usage);
    run.wallMs = (NowUs() - start) / 1000.0;
    run.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.peakKiB = usage.ru_maxrss;
    run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

} // namespace bench

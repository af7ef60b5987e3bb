// The jitter monitor against a real NTP server on loopback (a chronyd started
// with scripts/chronyd-fixture.sh start DIR): how evenly the polls start, how
// much of a core the worker takes while it polls, and how the measured
// deviations spread.
//   jitter_monitor_bench [DIR [POLLS]]    DIR defaults to $HOROLAB_CHRONY_DIR
#include "BenchStats.h"
#include "fakes/FakeWindow.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sample {
    double wallMs;
    double cpuMs; // of the thread that refreshed, the worker
};

double NowMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

bool IsStatsText(const std::string& text)
{
    return text.rfind(" Jitter Monitor\r\n -", 0) == 0 && text.size() > 3 &&
           text.compare(text.size() - 3, 3, "\r\n ") == 0 && text.find("Average: ") != std::string::npos;
}

std::vector<int> CsvDeviations(const std::string& path)
{
    std::vector<int> deviations;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        const size_t at = line.find("; ");
        if (at != std::string::npos)
            deviations.push_back(std::atoi(line.c_str() + at + 2));
    }
    return deviations;
}

template <typename T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Report(const std::vector<Sample>& samples, const std::vector<int>& deviations)
{
    std::vector<double> intervals;
    for (size_t i = 1; i < samples.size(); ++i)
        intervals.push_back(samples[i].wallMs - samples[i - 1].wallMs);
    const double wall = samples.back().wallMs - samples.front().wallMs;
    const double cpu = samples.back().cpuMs - samples.front().cpuMs;
    std::printf("poll start to start over %zu intervals: median %.2f ms, min %.2f ms, max %.2f ms\n",
                intervals.size(), Median(intervals), *std::min_element(intervals.begin(), intervals.end()),
                *std::max_element(intervals.begin(), intervals.end()));
    std::printf("worker CPU while polling: %.1f ms in %.1f s = %.3f %% of a core\n", cpu, wall / 1000.0,
                100.0 * cpu / wall);

    if (deviations.empty()) {
        std::printf("no good poll: no deviations\n");
        return;
    }
    double sum = 0.0, squares = 0.0;
    for (int d : deviations)
        sum += d;
    const double mean = sum / deviations.size();
    for (int d : deviations)
        squares += (d - mean) * (d - mean);
    std::printf("deviation over %zu good polls: min %d ms, max %d ms, median %d ms, mean %.2f ms, "
                "std dev %.2f ms\n",
                deviations.size(), *std::min_element(deviations.begin(), deviations.end()),
                *std::max_element(deviations.begin(), deviations.end()), Median(deviations), mean,
                std::sqrt(squares / deviations.size()));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = bench::ChronyDir(argc, argv);
    const int polls = argc > 2 ? std::atoi(argv[2]) : 30;
    const std::string port = bench::ReadChronyPort(dir);
    if (port.empty() || polls < 1) {
        std::fprintf(stderr, "usage: %s [CHRONY_DIR [POLLS]]  (no port in '%s/port')\n", argv[0], dir.c_str());
        return 2;
    }

    const std::string csv = "/tmp/horolab_jitter_bench.csv";
    FakeWindow window;
    window.SetText(IDC_SERVER, "127.0.0.1:" + port);
    window.saveFileAnswer = [&](const std::string&, const std::string&, std::string& path) {
        path = csv;
        return true;
    };
    CTikkaraDlg dialog(window);

    std::mutex mutex;
    std::vector<Sample> samples;
    // Poll n + 1's refresh ends the measured span of n polls; "&Stop" then
    // lets that poll finish.
    window.onSetText = [&](int id, const std::string& text) {
        if (id != IDC_LOG || !IsStatsText(text))
            return;
        std::lock_guard<std::mutex> lock(mutex);
        samples.push_back({NowMs(CLOCK_MONOTONIC), NowMs(CLOCK_THREAD_CPUTIME_ID)});
        if (static_cast<int>(samples.size()) == polls + 1)
            dialog.OnOK();
    };

    std::printf("jitter monitor against 127.0.0.1:%s, %d polls\n", port.c_str(), polls);
    dialog.OnJitterMonitor();
    while (window.RunPosted() == 0) // the worker's end, joined on this thread
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::lock_guard<std::mutex> lock(mutex);
    if (static_cast<int>(samples.size()) < polls + 1) {
        std::fprintf(stderr, "the run ended early:\n%s\n", window.GetText(IDC_LOG).c_str());
        return 1;
    }
    Report(samples, CsvDeviations(csv));
    std::remove(csv.c_str());
    return 0;
}

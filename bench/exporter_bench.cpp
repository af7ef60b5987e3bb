// The exporter as a whole process (the built program) on loopback:
//  - a fresh scrape of /metrics?target= against chronyd beside the one NTP
//    exporter Debian ships, prometheus-node-exporter with only its ntp
//    collector, on the same chronyd, alternating in one run, each over a
//    kept-alive connection as Prometheus scrapes; every horolab scrape a
//    fresh exchange (2 s apart, as its answers are kept that long);
//  - a real Prometheus scraping 1,000 targets (loopback addresses answered
//    by one responder) every 5 s: failed scrapes, answers without the time,
//    the exporter's resident memory and its CPU.
//   exporter_bench CHRONY_DIR DAEMON_DIR [ROUNDS [TARGETS [SECONDS]]]   defaults: 30, 1000, 60
// DAEMON_DIR holds the unpacked prometheus and prometheus-node-exporter.
#include "BenchStats.h"

#include "support/LoopbackResponder.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NtsChrony.h"

#include "ntp/Format.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace bench;

namespace {

constexpr double LatencyGoal = 0.5; // of node_exporter's
constexpr long MemoryGoalKiB = 32 * 1024;
constexpr int FreshPauseMs = 2050;
constexpr int ScrapeIntervalSeconds = 5;

// The program's port once it says where it listens, 0 when it does not.
uint16_t ListeningPort(CChildProcess& process, const std::regex& listening)
{
    for (int i = 0; i < 200; ++i) {
        std::smatch found;
        const std::string out = process.Out() + process.Err();
        if (std::regex_search(out, found, listening))
            return static_cast<uint16_t>(std::stoi(found[1]));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

// The exporter program answering for `targets`; its port, 0 when it did not start.
uint16_t StartExporter(std::unique_ptr<CChildProcess>& exporter, const std::vector<std::string>& targets,
                       const std::string& dir)
{
    ::mkdir(dir.c_str(), 0755);
    std::vector<std::string> args = {HOROLAB_PROGRAM, "--exporter", "127.0.0.1:0"};
    for (const std::string& target : targets) {
        args.push_back("--target");
        args.push_back(target);
    }
    exporter = std::make_unique<CChildProcess>(args, dir);
    return ListeningPort(*exporter, std::regex("http://127\\.0\\.0\\.1:([0-9]+)/metrics"));
}

double Number(const std::string& body, const std::string& metric)
{
    const size_t at = body.find("\n" + metric + " ");
    return at == std::string::npos ? -1.0 : std::atof(body.c_str() + at + metric.size() + 2);
}

// User and system CPU seconds of a process so far.
double CpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool AgainstNodeExporter(const std::string& chronyPort, const std::string& daemons, int rounds,
                         const std::string& dir)
{
    const std::string target = "127.0.0.1:" + chronyPort;
    std::unique_ptr<CChildProcess> exporter;
    const uint16_t port = StartExporter(exporter, {target}, dir + "/latency");
    const uint16_t nodePort = static_cast<uint16_t>(FreeLoopbackPort());
    CChildProcess node({daemons + "/usr/bin/prometheus-node-exporter",
                        "--web.listen-address=127.0.0.1:" + std::to_string(nodePort), "--collector.disable-defaults",
                        "--collector.ntp", "--collector.ntp.server=127.0.0.1",
                        "--collector.ntp.server-port=" + chronyPort, "--collector.ntp.server-is-local"},
                       dir + "/latency");
    CHttpClient horolab(port), nodeExporter(nodePort);
    for (int i = 0; i < 100 && nodeExporter.Get("/metrics").status != 200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (port == 0 || nodeExporter.Get("/metrics").status != 200) {
        std::fprintf(stderr, "an exporter did not start: %s %s\n", exporter->Err().c_str(), node.Err().c_str());
        return false;
    }
    horolab.Get("/metrics?target=" + target); // the connection, and a first exchange each
    std::vector<double> ours, theirs, handled;
    int stale = 0;
    for (int i = 0; i < rounds; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(FreshPauseMs));
        auto scrapeOurs = [&] {
            const double t0 = NowUs();
            const CHttpClient::Response r = horolab.Get("/metrics?target=" + target);
            ours.push_back(NowUs() - t0);
            handled.push_back(Number(r.body, "horolab_ntp_scrape_duration_seconds") * 1e6);
            const double age = Number(r.body, "horolab_ntp_sample_age_seconds");
            stale += r.status != 200 || Number(r.body, "horolab_ntp_reachable") != 1.0 || age < 0 || age > 0.5;
        };
        auto scrapeTheirs = [&] {
            const double t0 = NowUs();
            const CHttpClient::Response r = nodeExporter.Get("/metrics");
            theirs.push_back(NowUs() - t0);
            stale += r.status != 200 || r.body.find("\nnode_ntp_sanity 1\n") == std::string::npos;
        };
        // Alternating which goes first, so neither always finds the caches warm.
        if (i % 2 == 0) {
            scrapeOurs();
            scrapeTheirs();
        } else {
            scrapeTheirs();
            scrapeOurs();
        }
    }
    exporter->Signal(SIGTERM);
    node.Signal(SIGTERM);
    exporter->Wait();
    node.Wait();

    std::printf("== A fresh scrape against chronyd at %s: horolab beside prometheus-node-exporter's ntp "
                "collector, %d of each, alternating\n",
                target.c_str(), rounds);
    PrintSpread("horolab --exporter", ours, "us");
    PrintSpread("  of it in the exporter", handled, "us");
    PrintSpread("prometheus-node-exporter --collector.ntp", theirs, "us");
    const double ratio = Median(ours) / Median(theirs);
    std::printf("  ratio horolab/node_exporter %.2f   GOAL <= %.1f: %s%s\n", ratio, LatencyGoal,
                Verdict(ratio <= LatencyGoal), stale ? "  (some were not fresh answers)" : "");
    return true;
}

// The answer of a Prometheus query that gives one number at `time` (since
// 1970), -1 without one.
double PrometheusNumber(CHttpClient& prometheus, const std::string& query, long time)
{
    std::string encoded;
    for (const unsigned char c : query)
        encoded += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : Format("%%%02X", c);
    const std::string body =
        prometheus.Get("/api/v1/query?time=" + std::to_string(time) + "&query=" + encoded).body;
    std::smatch value;
    if (!std::regex_search(body, value, std::regex("\"value\":\\[[0-9.]+,\"([-0-9.e+]+)\"\\]")))
        return -1.0;
    return std::stod(value[1]);
}

bool Fleet(int count, int seconds, const std::string& daemons, const std::string& dir)
{
    CLoopbackResponder responder;
    const std::string port = std::to_string(responder.Port());
    std::vector<std::string> targets;
    for (int i = 0; i < count; ++i)
        targets.push_back(Format("127.1.%d.%d:%s", 1 + i / 250, 1 + i % 250, port.c_str()));
    std::unique_ptr<CChildProcess> exporter;
    const uint16_t exporterPort = StartExporter(exporter, targets, dir + "/fleet");
    if (exporterPort == 0) {
        std::fprintf(stderr, "the exporter did not start: %s\n", exporter->Err().c_str());
        return false;
    }
    const uint16_t prometheusPort = static_cast<uint16_t>(FreeLoopbackPort());
    {
        std::ofstream config(dir + "/fleet/prometheus.yml");
        config << "global:\n  scrape_interval: " << ScrapeIntervalSeconds << "s\n  scrape_timeout: "
               << ScrapeIntervalSeconds << "s\nscrape_configs:\n  - job_name: ntp\n    metrics_path: /metrics\n"
               << "    static_configs:\n      - targets:\n";
        for (const std::string& target : targets)
            config << "          - '" << target << "'\n";
        config << "    relabel_configs:\n"
                  "      - source_labels: [__address__]\n        target_label: __param_target\n"
                  "      - source_labels: [__param_target]\n        target_label: instance\n"
                  "      - target_label: __address__\n        replacement: '127.0.0.1:"
               << exporterPort << "'\n";
    }
    CChildProcess prometheus({daemons + "/usr/bin/prometheus", "--config.file=" + dir + "/fleet/prometheus.yml",
                              "--storage.tsdb.path=" + dir + "/fleet/data",
                              "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort),
                              "--log.level=warn"},
                             dir + "/fleet");
    const pid_t pid = exporter->Pid();
    const double cpu0 = CpuSeconds(pid);
    const double start = NowUs();
    long peakSeen = 0;
    while (NowUs() - start < seconds * 1e6) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        peakSeen = std::max(peakSeen, ResidentKiB(std::to_string(pid)));
    }
    const double cpu = CpuSeconds(pid) - cpu0;
    const double wall = (NowUs() - start) / 1e6;
    const long resident = ResidentKiB(std::to_string(pid));
    const long peak = ResidentKiB(std::to_string(pid), "VmHWM:");
    CHttpClient api(prometheusPort);
    const std::string range = "[" + std::to_string(seconds) + "s]";
    const long now = static_cast<long>(std::time(nullptr)); // one moment for every query
    auto number = [&](const std::string& query) { return PrometheusNumber(api, query, now); };
    const double scrapes = number("sum(count_over_time(up{job=\"ntp\"}" + range + "))");
    const double failed = scrapes - number("sum(sum_over_time(up{job=\"ntp\"}" + range + "))");
    const double samples = number("sum(count_over_time(horolab_ntp_reachable" + range + "))");
    const double unreachable = samples - number("sum(sum_over_time(horolab_ntp_reachable" + range + "))");
    prometheus.Signal(SIGTERM);
    prometheus.Wait();
    exporter->Signal(SIGTERM);
    exporter->Wait();

    std::printf("== Prometheus scraping %d targets (loopback addresses, one responder) every %d s for %.0f s\n", count,
                ScrapeIntervalSeconds, wall);
    std::printf("  scrapes %.0f, failed %.0f, answers without the time %.0f\n", scrapes, failed, unreachable);
    std::printf("  exporter CPU %.2f s in %.0f s (%.1f %% of one core)\n", cpu, wall, 100.0 * cpu / wall);
    std::printf("  exporter resident memory: %ld KiB at the end, %ld KiB the most sampled, peak %ld KiB\n", resident,
                peakSeen, peak);
    std::printf("  GOAL no failed scrape: %s;  GOAL peak < %ld KiB: %s\n", Verdict(scrapes > 0 && failed == 0),
                MemoryGoalKiB, Verdict(peak < MemoryGoalKiB));
    return scrapes > 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "";
    const std::string daemons = argc > 2 ? argv[2] : "";
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 30;
    const int targets = argc > 4 ? std::atoi(argv[4]) : 1000;
    const int seconds = argc > 5 ? std::atoi(argv[5]) : 60;
    const std::string port = ReadChronyPort(dir);
    if (port.empty() || daemons.empty() || rounds < 3 || targets < 1 || targets > 250 * 250 || seconds < 10) {
        std::fprintf(stderr, "usage: %s CHRONY_DIR DAEMON_DIR [ROUNDS >= 3 [TARGETS [SECONDS >= 10]]]\n", argv[0]);
        return 2;
    }
    PrintLoad("before");
    const std::string work = dir + "/exporter-bench";
    ::mkdir(work.c_str(), 0755);
    const bool compared = AgainstNodeExporter(port, daemons, rounds, work);
    const bool fleet = Fleet(targets, seconds, daemons, work);
    PrintLoad("after");
    return compared && fleet ? 0 : 1;
}

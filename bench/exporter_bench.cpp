// The exporter as a whole process (the built program) on loopback:
//  - one scrape of /metrics?target= against chronyd, over a kept-alive
//    connection as Prometheus scrapes, beside the bare query the scrape
//    makes inside (the engine's Query from this process), alternating in
//    one run; every scrape a fresh exchange. Also the HTTP round trip alone
//    (a kept answer scraped again) and, for scale, the query command run as
//    a process;
//  - 1,000 allowed targets (as many loopback servers) scraped once each by
//    eight scrapers at a time: the exporter's resident memory after, and at
//    its peak.
//   exporter_bench [CHRONY_DIR [ROUNDS [TARGETS]]]   defaults: $HOROLAB_CHRONY_DIR, 200, 1000
#include "BenchStats.h"

#include "query/Exchange.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/UdpResponder.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace bench;

namespace {

constexpr double LatencyGoal = 1.2;
constexpr long MemoryGoalKiB = 32 * 1024;
constexpr int Scrapers = 8;
constexpr int PauseMs = 10; // between rounds, as scrapes come apart
constexpr int CommandRuns = 20;

// Many NTP servers on loopback, each on a port of its own, one thread.
class CLoopbackServers {
public:
    explicit CLoopbackServers(int count)
    {
        for (int i = 0; i < count; ++i) {
            const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof at;
            ::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at);
            ::getsockname(s, reinterpret_cast<sockaddr*>(&at), &length);
            m_polls.push_back({s, POLLIN, 0});
            m_ports.push_back(ntohs(at.sin_port));
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~CLoopbackServers()
    {
        m_stop = true;
        m_thread.join();
        for (const pollfd& p : m_polls)
            ::close(p.fd);
    }
    const std::vector<uint16_t>& Ports() const { return m_ports; }

private:
    void Serve()
    {
        while (!m_stop) {
            if (::poll(m_polls.data(), m_polls.size(), 50) <= 0)
                continue;
            for (const pollfd& p : m_polls) {
                if (!(p.revents & POLLIN))
                    continue;
                CUdpResponder::Request request;
                request.bytes.resize(NtpHeaderSize);
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t got = ::recvfrom(p.fd, request.bytes.data(), request.bytes.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &length);
                if (got != NtpHeaderSize)
                    continue;
                request.received = CurrentNtpTime();
                const auto answer = CUdpResponder::Message(CUdpResponder::ServerReply(request));
                ::sendto(p.fd, answer.bytes.data(), answer.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         length);
            }
        }
    }

    std::vector<pollfd> m_polls;
    std::vector<uint16_t> m_ports;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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
    const std::regex listening("http://127\\.0\\.0\\.1:([0-9]+)/metrics");
    for (int i = 0; i < 100; ++i) {
        std::smatch found;
        const std::string out = exporter->Out();
        if (std::regex_search(out, found, listening))
            return static_cast<uint16_t>(std::stoi(found[1]));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

double Number(const std::string& body, const std::string& metric)
{
    const size_t at = body.find("\n" + metric + " ");
    return at == std::string::npos ? -1.0 : std::atof(body.c_str() + at + metric.size() + 2);
}

// The same server written `n` ways: the port with leading zeros. Each is a
// target of its own for the exporter's cache, so every scrape of the next
// spelling is a fresh exchange with no 2 s wait between them.
std::string Spelling(const std::string& port, int n) { return "127.0.0.1:" + std::string(n, '0') + port; }

bool Latency(const std::string& chronyPort, int rounds, const std::string& dir)
{
    std::vector<std::string> targets;
    for (int i = 0; i <= rounds; ++i)
        targets.push_back(Spelling(chronyPort, i));
    std::unique_ptr<CChildProcess> exporter;
    const uint16_t port = StartExporter(exporter, targets, dir + "/latency");
    if (port == 0) {
        std::fprintf(stderr, "the exporter did not start: %s\n", exporter->Err().c_str());
        return false;
    }
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CHttpClient scraper(port);
    scraper.Get("/metrics?target=" + targets[0]); // the connection, and a first exchange each
    engine.Query(targets[0], ExchangeOptions{});
    std::vector<double> scrapes, queries, handled, cached;
    int stale = 0;
    for (int i = 1; i <= rounds; ++i) {
        auto scrape = [&] {
            const double t0 = NowUs();
            const CHttpClient::Response r = scraper.Get("/metrics?target=" + targets[i]);
            scrapes.push_back(NowUs() - t0);
            handled.push_back(Number(r.body, "horolab_ntp_scrape_duration_seconds") * 1e6);
            const double age = Number(r.body, "horolab_ntp_sample_age_seconds");
            stale += r.status != 200 || Number(r.body, "horolab_ntp_reachable") != 1.0 || age < 0 || age > 0.5;
            // Again at once: the kept answer, so HTTP's round trip alone.
            const double t1 = NowUs();
            scraper.Get("/metrics?target=" + targets[i]);
            cached.push_back(NowUs() - t1);
        };
        auto query = [&] {
            const double t0 = NowUs();
            const NtpExchange e = engine.Query(targets[i], ExchangeOptions{});
            queries.push_back(NowUs() - t0);
            stale += !e.Answered();
        };
        // Alternating which goes first, so neither always finds the caches warm.
        if (i % 2 == 0) {
            scrape();
            query();
        } else {
            query();
            scrape();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(PauseMs));
    }
    exporter->Signal(SIGTERM);
    exporter->Wait();
    // What a scrape saves over running the query command for it.
    std::vector<double> commands;
    for (int i = 0; i < CommandRuns; ++i) {
        const double t0 = NowUs();
        RunProgram({HOROLAB_PROGRAM, "--query", targets[0], "--json"}, dir + "/latency");
        commands.push_back(NowUs() - t0);
    }

    std::printf("== One scrape against chronyd at 127.0.0.1:%s beside the bare query, %d of each, alternating\n",
                chronyPort.c_str(), rounds);
    PrintSpread("scrape (HTTP, kept alive)", scrapes, "us");
    PrintSpread("bare query (the engine)", queries, "us");
    PrintSpread("  of it in the exporter", handled, "us");
    PrintSpread("a kept answer scraped again", cached, "us");
    // A scrape is two loopback round trips, HTTP's and then NTP's.
    std::printf("  scrape - (kept answer + bare query) = %.2f us: the exporter's thread waking from idle\n",
                Median(scrapes) - Median(cached) - Median(queries));
    PrintSpread("for comparison: horolab --query as a process", commands, "us");
    const double ratio = Median(scrapes) / Median(queries);
    std::printf("  ratio scrape/bare query %.2f   GOAL <= %.1f: %s%s\n", ratio, LatencyGoal,
                Verdict(ratio <= LatencyGoal), stale ? "  (some were not fresh answers)" : "");
    return stale == 0 && ratio <= LatencyGoal;
}

bool Memory(int count, const std::string& dir)
{
    // Sockets for the servers here and the scrapers' connections.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    CLoopbackServers servers(count);
    std::vector<std::string> targets;
    for (uint16_t p : servers.Ports())
        targets.push_back("127.0.0.1:" + std::to_string(p));
    std::unique_ptr<CChildProcess> exporter;
    const uint16_t port = StartExporter(exporter, targets, dir + "/memory");
    if (port == 0) {
        std::fprintf(stderr, "the exporter did not start: %s\n", exporter->Err().c_str());
        return false;
    }
    const std::string pid = std::to_string(exporter->Pid());
    const long idle = ResidentKiB(pid);
    std::atomic<size_t> next{0};
    std::atomic<int> reached{0};
    const double start = NowUs();
    std::vector<std::thread> scrapers;
    for (int i = 0; i < Scrapers; ++i)
        scrapers.emplace_back([&] {
            CHttpClient client(port);
            for (size_t n; (n = next++) < targets.size();) {
                const CHttpClient::Response r = client.Get("/metrics?target=" + targets[n]);
                reached += r.status == 200 && Number(r.body, "horolab_ntp_reachable") == 1.0;
            }
        });
    for (std::thread& t : scrapers)
        t.join();
    const double seconds = (NowUs() - start) / 1e6;
    const long after = ResidentKiB(pid);
    const long peak = ResidentKiB(pid, "VmHWM:");
    CHttpClient own(port);
    const double reported = Number(own.Get("/metrics").body, "process_resident_memory_bytes");
    exporter->Signal(SIGTERM);
    exporter->Wait();

    std::printf("== %d allowed targets (loopback servers) scraped once each, %d scrapers at a time\n", count, Scrapers);
    std::printf("  %d of %d reachable, in %.2f s\n", reached.load(), count, seconds);
    std::printf("  exporter resident memory: %ld KiB idle, %ld KiB after (it reports %.0f KiB), peak %ld KiB\n", idle,
                after, reported / 1024, peak);
    std::printf("  GOAL peak < %ld KiB: %s\n", MemoryGoalKiB, Verdict(peak < MemoryGoalKiB));
    return reached == count && peak < MemoryGoalKiB;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = ChronyDir(argc, argv);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
    const int targets = argc > 3 ? std::atoi(argv[3]) : 1000;
    const std::string port = ReadChronyPort(dir);
    if (port.empty() || rounds < 3 || targets < 1) {
        std::fprintf(stderr, "usage: %s [CHRONY_DIR [ROUNDS >= 3 [TARGETS]]]  (no port in '%s/port')\n", argv[0],
                     dir.c_str());
        return 2;
    }
    PrintLoad("before");
    const std::string work = dir + "/exporter-bench";
    ::mkdir(work.c_str(), 0755);
    const bool fast = Latency(port, rounds, work);
    const bool small = Memory(targets, work);
    PrintLoad("after");
    return fast && small ? 0 : 1;
}

// How precisely the tool measures, beside chronyd measuring the same server
// in the same run: one chronyd on loopback (scripts/chronyd-fixture.sh start
// DIR) serves; a second chronyd is its client (16 polls a second, its
// measurements log), while the tool exchanges with it in turn with kernel
// timestamps, with user-space ones (the tool before kernel stamps), and in
// the monitor's interleaved polls. Round trip: the median; offset spread: the
// RMS of the offsets about their median.
//   timestamp_bench [DIR [EXCHANGES]]     DIR defaults to $HOROLAB_CHRONY_DIR
#include "BenchStats.h"
#include "fakes/FakeClock.h"
#include "query/InterleavedPolls.h"
#include "support/FaultySockets.h"

#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

constexpr double RoundTripGoal = 1.3; // times chronyd's median round trip
constexpr double SpreadGoal = 2.0;    // times chronyd's offset spread
constexpr int GapMs = 60;             // between rounds of the tool's three exchanges

struct Series {
    explicit Series(const char* what) : name(what) {}
    const char* name;
    std::vector<double> roundTripsUs;
    std::vector<double> offsetsUs;

    void Add(const NtpExchange& e)
    {
        roundTripsUs.push_back(RoundTripSeconds(e) * 1e6);
        offsetsUs.push_back(ClockOffsetSeconds(e) * 1e6);
    }
    double RoundTrip() const { return bench::Median(roundTripsUs); }
    // RMS about the median.
    double Spread() const
    {
        const double median = bench::Median(offsetsUs);
        double sum = 0;
        for (double o : offsetsUs)
            sum += (o - median) * (o - median);
        return offsetsUs.empty() ? 0 : std::sqrt(sum / static_cast<double>(offsetsUs.size()));
    }
    void Print() const
    {
        std::printf("  %-34s round trip median %7.2f us (p10 %.2f, p90 %.2f), offset spread %6.2f us, n %zu\n",
                    name, RoundTrip(), bench::Percentile(roundTripsUs, 0.1), bench::Percentile(roundTripsUs, 0.9),
                    Spread(), roundTripsUs.size());
    }
};

// chronyd as a client of the server on `port`, logging every measurement.
pid_t StartChronyClient(const std::string& dir, const std::string& port)
{
    ::mkdir(dir.c_str(), 0755);
    std::remove((dir + "/measurements.log").c_str());
    std::ofstream(dir + "/chrony.conf") << "server 127.0.0.1 port " << port << " minpoll -4 maxpoll -4\n"
                                        << "port 0\ncmdport 0\nbindcmdaddress /\npidfile " << dir
                                        << "/chronyd.pid\nlogdir " << dir << "\nlog measurements\n";
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen((dir + "/chronyd.log").c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout))
            _exit(126);
        execl(HOROLAB_CHRONYD, "chronyd", "-x", "-d", "-u", "root", "-f", (dir + "/chrony.conf").c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

// Its offsets and peer delays, in the order logged.
Series ChronyMeasurements(const std::string& dir)
{
    Series series{"chronyd as a client"};
    std::ifstream log(dir + "/measurements.log");
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        // Date, time, address, leap, stratum, the tests, poll, score, offset, delay, ...
        if (f.size() < 13 || f[0].size() != 10 || f[0][4] != '-')
            continue;
        series.offsetsUs.push_back(std::stod(f[11]) * 1e6);
        series.roundTripsUs.push_back(std::stod(f[12]) * 1e6);
    }
    return series;
}

// One exchange on `socket` to `server`; its figures into `series` when the
// answer is one to trust (and, for `interleaved`, an interleaved one).
void Exchange(CExchangeEngine& engine, SocketHandle socket, const SockAddrIn& server, Series& series,
              CInterleavedPolls* interleaved)
{
    CNtpMsg request = engine.NewRequest(false);
    if (interleaved)
        interleaved->Prepare(request);
    ExchangeOptions options;
    options.timeoutSeconds = 1;
    NtpExchange e;
    if (engine.Send(socket, server, request, options, e) < 0 || !engine.Receive(socket, options, e))
        return;
    if (interleaved)
        interleaved->Settle(e);
    if (IsTrustedAnswer(e) && (!interleaved || e.mode == ExchangeMode::Interleaved))
        series.Add(e);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = bench::ChronyDir(argc, argv);
    const std::string port = bench::ReadChronyPort(dir);
    const int exchanges = argc > 2 ? std::atoi(argv[2]) : 300;
    if (port.empty()) {
        std::fprintf(stderr, "no chronyd fixture in '%s'\n", dir.c_str());
        return 2;
    }
    std::printf("timestamp_bench: chronyd on 127.0.0.1:%s, %d exchanges of each kind\n", port.c_str(), exchanges);
    bench::PrintLoad("before");

    const std::string clientDir = dir + "/bench-client";
    const pid_t client = StartChronyClient(clientDir, port);
    std::this_thread::sleep_for(std::chrono::seconds(2)); // its first polls

    FakeClock clock; // the real wall clock: nothing sets it
    FaultySockets kernel;
    FaultySockets user; // a kernel that stamps nothing: the readings around the calls
    user.FailNext(SocketCall::SentTime, 0, -1);
    user.FailNext(SocketCall::ArrivalTime, 0, -1);
    CExchangeEngine kernelEngine(kernel, clock);
    CExchangeEngine userEngine(user, clock);
    NtpExchange opened;
    SocketHandle basicSocket = kernelEngine.OpenSocket(opened);
    SocketHandle interleavedSocket = kernelEngine.OpenSocket(opened);
    SocketHandle userSocket = userEngine.OpenSocket(opened);
    SockAddrIn server;
    server.family = AddressFamilyIPv4;
    server.address = htonl(INADDR_LOOPBACK);
    server.port = htons(static_cast<uint16_t>(std::atoi(port.c_str())));

    Series basic{"tool, kernel timestamps"};
    Series before{"tool, user-space timestamps"};
    Series interleavedSeries{"tool, monitor's interleaved polls"};
    CInterleavedPolls interleaved;
    for (int n = 0; n < exchanges; ++n) {
        Exchange(kernelEngine, basicSocket, server, basic, nullptr);
        Exchange(userEngine, userSocket, server, before, nullptr);
        Exchange(kernelEngine, interleavedSocket, server, interleavedSeries, &interleaved);
        std::this_thread::sleep_for(std::chrono::milliseconds(GapMs));
    }
    kernelEngine.CloseSocket(basicSocket);
    kernelEngine.CloseSocket(interleavedSocket);
    userEngine.CloseSocket(userSocket);
    ::kill(client, SIGTERM);
    ::waitpid(client, nullptr, 0);

    const Series chrony = ChronyMeasurements(clientDir);
    for (const Series* s : {&chrony, static_cast<const Series*>(&basic), static_cast<const Series*>(&before),
                            static_cast<const Series*>(&interleavedSeries)})
        s->Print();
    if (chrony.roundTripsUs.empty()) {
        std::printf("chronyd logged no measurements (see %s/chronyd.log)\n", clientDir.c_str());
        return 1;
    }
    const double rtt = basic.RoundTrip() / chrony.RoundTrip();
    const double spread = basic.Spread() / chrony.Spread();
    const bool interleavedNoWorse =
        interleavedSeries.RoundTrip() <= basic.RoundTrip() && interleavedSeries.Spread() <= basic.Spread();
    std::printf("  round trip   %.2f x chronyd's (goal <= %.1f): %s; before %.2f x\n", rtt, RoundTripGoal,
                bench::Verdict(rtt <= RoundTripGoal), before.RoundTrip() / chrony.RoundTrip());
    std::printf("  offset spread %.2f x chronyd's (goal <= %.1f): %s; before %.2f x\n", spread, SpreadGoal,
                bench::Verdict(spread <= SpreadGoal), before.Spread() / chrony.Spread());
    std::printf("  interleaved polls no worse than basic ones: %s\n", bench::Verdict(interleavedNoWorse));
    bench::PrintLoad("after");
    return rtt <= RoundTripGoal && spread <= SpreadGoal && interleavedNoWorse ? 0 : 1;
}

// The whole NTS check against chronyd as NTS server on loopback (key
// exchange over TLS 1.3, two authenticated NTP exchanges) beside its floor
// measured in the same run: the bare TLS 1.3 handshake to the same port,
// plus two plain NTP round trips to the same server. Rounds take the three
// in turn. The goal: the check's median at most 1.5 x the handshake's
// median plus two round trips.
//   nts_check_bench [ROUNDS]     ROUNDS defaults to 200
#include "BenchStats.h"

#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"
#include "support/NtsChrony.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace bench;

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    char scratch[] = "/tmp/nts-bench-XXXXXX";
    if (rounds < 10 || !mkdtemp(scratch)) {
        std::fprintf(stderr, "usage: %s [ROUNDS >= 10]\n", argv[0]);
        return 2;
    }
    const std::string dir = scratch;
    const NtsCertificates certs = MakeNtsCertificates(dir + "/certs");
    CNtsChrony chrony(dir + "/chrony");
    NtsChronySetUp setUp;
    setUp.cert = certs.good;
    setUp.key = certs.goodKey;
    if (!certs.ok || !chrony.Start(setUp)) {
        std::fprintf(stderr, "%s%s\n", certs.error.c_str(), chrony.Error().c_str());
        return 1;
    }
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CNtsChecker checker(engine, SystemTls(), SystemCrypto());
    NtpExchange ke, ntp;
    engine.Resolve(chrony.KeServerText(), ke, NtsKePort);
    engine.Resolve("127.0.0.1:" + std::to_string(chrony.NtpPort()), ntp);
    const TlsOptions options{"127.0.0.1", NtsKeAlpn, {certs.ca}, 5000};

    std::vector<double> check, handshake, roundTrip;
    int failures = 0;
    PrintLoad("before");
    for (int i = 0; i < rounds + 1; ++i) {
        // The first round warms the caches and is not counted.
        double start = NowUs();
        const NtsCheck result = checker.Check(chrony.KeServerText(), {certs.ca});
        const double checkUs = NowUs() - start;
        failures += !JudgeNtsCheck(result).Works();

        start = NowUs();
        TcpConnectFacts tcp;
        TlsSessionFacts tls;
        if (auto channel = SystemTls().Connect(ke.server, 3000, tcp))
            failures += !channel->Handshake(options, tls);
        const double handshakeUs = NowUs() - start;

        start = NowUs();
        failures += !engine.Query(ntp.server, ExchangeOptions{}).Answered();
        const double roundTripUs = NowUs() - start;
        if (i > 0) {
            check.push_back(checkUs / 1000);
            handshake.push_back(handshakeUs / 1000);
            roundTrip.push_back(roundTripUs / 1000);
        }
    }
    PrintLoad("after");
    std::printf("== NTS check against chronyd %s on loopback, %d rounds\n", chrony.KeServerText().c_str(), rounds);
    PrintSpread("whole NTS check", check, "ms");
    PrintSpread("bare TLS 1.3 handshake (floor)", handshake, "ms");
    PrintSpread("plain NTP round trip", roundTrip, "ms");
    const double goal = 1.5 * Median(handshake) + 2 * Median(roundTrip);
    std::printf("  check / handshake: %.2f; goal: check <= 1.5 x handshake + 2 round trips = %.2f ms: %s\n",
                Median(check) / Median(handshake), goal, Verdict(Median(check) <= goal));
    std::printf("  failed checks or exchanges: %d\n", failures);
    chrony.Stop();
    if (std::system(("rm -rf " + dir).c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    return failures == 0 && Median(check) <= goal ? 0 : 1;
}

// The audit of a chronyd serving NTS on loopback: its wall time against its
// floor (the burst's spacing plus the NTS check's own time, measured alone
// in the same run) and the datagrams and TCP connections it sends, against
// the budget of 24 and 4.
//   audit_bench [RUNS]
#include "BenchStats.h"

#include "audit/Audit.h"
#include "audit/AuditChecks.h"
#include "nts/NtsCheck.h"
#include "support/NtsChrony.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

namespace {
constexpr double WallGoal = 1.5; // times the floor
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv); // for the temporary folder of the test support
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const NtsCertificates certs = MakeNtsCertificates(ProcessTempDir("audit-bench-certs"));
    CNtsChrony chrony(ProcessTempDir("audit-bench-chrony"));
    if (!certs.ok || !chrony.Start({"127.0.0.1", certs.good, certs.goodKey, ""})) {
        std::fprintf(stderr, "no NTS chronyd: %s%s\n", certs.error.c_str(), chrony.Error().c_str());
        return 2;
    }
    bench::PrintLoad("before");
    std::printf("== Audit of chronyd serving NTS on loopback (%d runs)\n", runs);
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CNtsChecker checker(engine, SystemTls(), SystemCrypto());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    AuditOptions options;
    options.ntsPort = chrony.KePort();
    options.caFiles = {certs.ca};
    const std::string server = "localhost:" + std::to_string(chrony.NtpPort());
    bool met = true;
    for (int n = 0; n < runs; ++n) {
        double start = bench::NowUs();
        const NtsCheck check = checker.Check(chrony.KeServerText(), {certs.ca});
        const double nts = (bench::NowUs() - start) / 1e6;
        start = bench::NowUs();
        const AuditReport report = auditor.Audit(server, options);
        const double wall = (bench::NowUs() - start) / 1e6;
        const double floor = (BurstRequests - 1) * BurstSpacingMs / 1000.0 + nts;
        const AuditTraffic traffic = report.addresses.empty() ? AuditTraffic{} : report.addresses[0].traffic;
        const bool within = traffic.datagrams <= MaxAuditDatagrams && traffic.connections <= MaxAuditConnections;
        const bool wallMet = wall <= WallGoal * floor;
        met = met && wallMet && within;
        std::printf("  run %d: wall %.3f s = %.2f x the floor %.3f s (burst spacing %.1f s + NTS check %.3f s); "
                    "goal <= %.1f x: %s\n",
                    n + 1, wall, wall / floor, floor, (BurstRequests - 1) * BurstSpacingMs / 1000.0, nts, WallGoal,
                    bench::Verdict(wallMet));
        std::printf("         %d datagrams, %d TCP connections (budget %d, %d): %s; grade %s\n", traffic.datagrams,
                    traffic.connections, MaxAuditDatagrams, MaxAuditConnections, bench::Verdict(within),
                    AuditGradeName(report.grade));
    }
    bench::PrintLoad("after");
    return met ? 0 : 1;
}

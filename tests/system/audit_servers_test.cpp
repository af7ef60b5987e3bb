// The audit against real servers: chronyd with and without a rate limit and
// as an NTS server (good and expired certificate), audited at once in this
// process; NTPsec's ntpd, which binds port 123, in a network namespace of
// its own with and without mode 6 queries allowed; and the built program
// run by an ordinary user, its exit status following --min-grade.
#include "support/ChildProcess.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"

#include "audit/Audit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using R = AuditResult;

struct Expected {
    const char* what;
    std::vector<R> results; // answers, leap, exposure, rate limiting, NTS, families
    AuditGrade grade;
};

void ExpectAudit(const AuditReport& report, const Expected& e)
{
    ASSERT_EQ(report.addresses.size(), 1u) << e.what << ": " << report.failure;
    const AuditAddress& a = report.addresses[0];
    std::vector<R> results;
    std::string checks;
    for (const AuditCheck& c : a.checks) {
        results.push_back(c.result);
        checks += std::string(AuditCheckName(c.id)) + ": " + c.summary + "\n";
    }
    EXPECT_EQ(results, e.results) << e.what << "\n" << checks;
    EXPECT_EQ(a.grade, e.grade) << e.what << "\n" << checks;
    EXPECT_LE(a.traffic.datagrams, MaxAuditDatagrams) << e.what;
    EXPECT_LE(a.traffic.connections, MaxAuditConnections) << e.what;
    EXPECT_LT(report.seconds, AuditBudgetSeconds) << e.what;
}

AuditOptions Options(int ntsPort, const std::string& ca = "")
{
    AuditOptions options;
    options.ntsPort = ntsPort;
    if (!ca.empty())
        options.caFiles = {ca};
    return options;
}

TEST(AuditServers, ChronydConfigurationsGetTheirGrades)
{
    const std::string plain = ChronyPort(), limited = ChronyPort("/ratelimit");
    ASSERT_FALSE(plain.empty() || limited.empty()) << "the chronyd fixtures are not up";
    const NtsCertificates certs = MakeNtsCertificates(ProcessTempDir("audit-certs"));
    ASSERT_TRUE(certs.ok) << certs.error;
    CNtsChrony good(ProcessTempDir("audit-nts-good")), expired(ProcessTempDir("audit-nts-expired"));
    ASSERT_TRUE(good.Start({"127.0.0.1", certs.good, certs.goodKey, ""})) << good.Error();
    ASSERT_TRUE(expired.Start({"127.0.0.1", certs.expired, certs.expiredKey, ""})) << expired.Error();

    const R P = R::Pass, W = R::Warn, F = R::Fail, N = R::NotApplicable;
    struct Row {
        std::string server;
        AuditOptions options;
        Expected expected;
    };
    const int nothing = FreeLoopbackPort();
    const std::vector<Row> rows = {
        {"127.0.0.1:" + plain, Options(nothing), {"chronyd", {P, P, P, W, N, N}, AuditGrade::B}},
        {"127.0.0.1:" + limited, Options(nothing), {"chronyd with ratelimit", {P, P, P, P, N, N}, AuditGrade::A}},
        {"localhost:" + std::to_string(good.NtpPort()), Options(good.KePort(), certs.ca),
         // chronyd lets a client that offers no ALPN at all through
         {"chronyd serving NTS", {P, P, P, W, P, N}, AuditGrade::B}},
        {"localhost:" + std::to_string(expired.NtpPort()), Options(expired.KePort(), certs.ca),
         {"chronyd with an expired certificate", {P, P, P, W, F, N}, AuditGrade::C}},
    };
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    std::vector<AuditReport> reports(rows.size());
    std::vector<std::thread> audits;
    for (size_t n = 0; n < rows.size(); ++n)
        audits.emplace_back([&, n] { reports[n] = auditor.Audit(rows[n].server, rows[n].options); });
    for (std::thread& audit : audits)
        audit.join();
    for (size_t n = 0; n < rows.size(); ++n)
        ExpectAudit(reports[n], rows[n].expected);
}

TEST(AuditServers, TheProgramExitsByTheMinimumGradeAsAnOrdinaryUser)
{
    const std::string plain = ChronyPort();
    ASSERT_FALSE(plain.empty());
    std::vector<std::string> prefix;
    if (geteuid() == 0)
        prefix = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    const std::string nts = std::to_string(FreeLoopbackPort());
    for (const auto& [grade, status] : {std::pair{"B", 0}, std::pair{"a", 1}}) {
        std::vector<std::string> args = prefix;
        for (const char* arg : {HOROLAB_PROGRAM, "--audit"})
            args.push_back(arg);
        args.insert(args.end(), {"127.0.0.1:" + plain, "--nts-port", nts, "--json", "--min-grade", grade});
        const ProgramRun run = RunProgram(args, "/tmp");
        EXPECT_EQ(run.status, status) << grade << run.err;
        const nlohmann::json out = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(out.is_discarded()) << run.out;
        EXPECT_EQ(out["grade"], "B");
        EXPECT_EQ(out["passed"], status == 0);
        EXPECT_EQ(out["addresses"][0]["checks"][3]["result"], "warn");
    }
    const ProgramRun bad = RunProgram({HOROLAB_PROGRAM, "--audit", "x", "--min-grade", "E"}, "/tmp");
    EXPECT_EQ(bad.status, 2);
}

// ntpd in the network namespace this test process moves into, on port 123
// of its own loopback; it never disciplines the clock.
class CNamespaceNtpd {
public:
    explicit CNamespaceNtpd(const std::string& extra)
    {
        const std::string dir = ProcessTempDir("audit-ntpd");
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/ntp.conf") << "disable ntp\ndisable kernel\ntos orphan 5 orphanwait 0\n" << extra;
        m_pid = fork();
        if (m_pid == 0) {
            execl(HOROLAB_NTPD, "ntpd", "-n", "-c", (dir + "/ntp.conf").c_str(), "-l", (dir + "/ntpd.log").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~CNamespaceNtpd()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // Until it answers with the time (as an orphan, a few seconds after its
    // start), at most ten seconds.
    bool Answering(CExchangeEngine& engine)
    {
        for (int tries = 0; tries < 100; ++tries) {
            if (IsTrustedAnswer(engine.Query("127.0.0.1", ExchangeOptions{})))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

private:
    pid_t m_pid = -1;
};

TEST(AuditServers, NtpsecAnswersModeSixOnlyWhenAllowed)
{
    if (geteuid() != 0 || std::string(HOROLAB_NTPD).empty())
        GTEST_SKIP() << "needs root and the ntpsec package unpacked into the build tree";
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "no network namespace";
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    const R P = R::Pass, W = R::Warn, F = R::Fail, N = R::NotApplicable;
    const struct {
        const char* config;
        Expected expected;
    } rows[] = {
        {"restrict default noquery\nrestrict 127.0.0.1 noquery\n",
         {"ntpd refusing queries", {W, P, P, W, N, N}, AuditGrade::B}},
        {"restrict default\nrestrict 127.0.0.1\n", {"ntpd answering mode 6", {W, P, F, W, N, N}, AuditGrade::F}},
    };
    for (const auto& row : rows) {
        CNamespaceNtpd ntpd(row.config);
        ASSERT_TRUE(ntpd.Answering(engine)) << row.expected.what;
        ExpectAudit(auditor.Audit("127.0.0.1", Options(4460)), row.expected);
    }
}

} // namespace

HOROLAB_QT_TEST_MAIN()

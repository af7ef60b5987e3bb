// The audit against real servers: chronyd with and without a rate limit and
// as an NTS server (good and expired certificate), audited at once; NTPsec's
// ntpd in a network namespace of its own; the built program as an ordinary
// user, its exit status following --min-grade.
#include "support/AuditTable.h"
#include "support/ChildProcess.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sched.h>
#include <thread>

namespace {

using R = AuditResult;
const R P = R::Pass, W = R::Warn, F = R::Fail, N = R::NotApplicable;

TEST(AuditServers, ChronydConfigurationsGetTheirGrades)
{
    const std::string plain = ChronyPort(), limited = ChronyPort("/ratelimit");
    ASSERT_FALSE(plain.empty() || limited.empty()) << "the chronyd fixtures are not up";
    const NtsCertificates certs = MakeNtsCertificates(ProcessTempDir("audit-certs"));
    ASSERT_TRUE(certs.ok) << certs.error;
    CNtsChrony good(ProcessTempDir("audit-nts-good")), expired(ProcessTempDir("audit-nts-expired"));
    ASSERT_TRUE(good.Start({"127.0.0.1", certs.good, certs.goodKey, ""})) << good.Error();
    ASSERT_TRUE(expired.Start({"127.0.0.1", certs.expired, certs.expiredKey, ""})) << expired.Error();
    AuditAll({
        {"chronyd", "127.0.0.1:" + plain, AuditOptionsFor(), {P, P, P, W, N, N}, AuditGrade::B},
        {"chronyd with ratelimit", "127.0.0.1:" + limited, AuditOptionsFor(), {P, P, P, P, N, N}, AuditGrade::A},
        // chronyd lets a client that offers no ALPN at all through
        {"chronyd serving NTS", "localhost:" + std::to_string(good.NtpPort()),
         AuditOptionsFor(good.KePort(), {certs.ca}), {P, P, P, W, P, N}, AuditGrade::B},
        {"chronyd with an expired certificate", "localhost:" + std::to_string(expired.NtpPort()),
         AuditOptionsFor(expired.KePort(), {certs.ca}), {P, P, P, W, F, N}, AuditGrade::C},
    });
}

TEST(AuditServers, NtpsecAnswersModeSixOnlyWhenAllowed)
{
    if (geteuid() != 0 || std::string(HOROLAB_NTPD).empty())
        GTEST_SKIP() << "needs root and the ntpsec package unpacked into the build tree";
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "no network namespace";
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    CExchangeEngine engine(PosixSockets(), SystemClock());
    const std::string dir = ProcessTempDir("audit-ntpd");
    std::filesystem::create_directories(dir);
    for (const AuditRow& row :
         {AuditRow{"restrict default noquery\nrestrict 127.0.0.1 noquery\n", "127.0.0.1", AuditOptionsFor(4460),
                   {W, P, P, W, N, N}, AuditGrade::B},
          AuditRow{"restrict default\nrestrict 127.0.0.1\n", "127.0.0.1", AuditOptionsFor(4460), {W, P, F, W, N, N},
                   AuditGrade::F}}) {
        // Each row named by its configuration; ntpd on port 123 of the
        // namespace's loopback, never disciplining the clock.
        std::ofstream(dir + "/ntp.conf") << "disable ntp\ndisable kernel\ntos orphan 5 orphanwait 0\n" << row.what;
        CChildProcess ntpd({HOROLAB_NTPD, "-n", "-c", dir + "/ntp.conf", "-l", dir + "/ntpd.log"}, dir);
        // It answers as an orphan a few seconds after its start.
        for (int tries = 0; tries < 100 && !IsTrustedAnswer(engine.Query("127.0.0.1", ExchangeOptions{})); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        AuditAll({row});
    }
}

TEST(AuditServers, TheProgramExitsByTheMinimumGradeAsAnOrdinaryUser)
{
    const std::string plain = ChronyPort();
    ASSERT_FALSE(plain.empty());
    const std::string nts = std::to_string(FreeLoopbackPort());
    for (const auto& [grade, status] : {std::pair{"B", 0}, std::pair{"a", 1}}) {
        std::vector<std::string> args; // as an ordinary user
        if (geteuid() == 0)
            args = {"/usr/sbin/runuser", "-u", "nobody", "--"};
        args.insert(args.end(), {HOROLAB_PROGRAM, "--audit", "127.0.0.1:" + plain, "--nts-port", nts, "--json",
                                 "--min-grade", grade});
        const ProgramRun run = RunProgram(args, "/tmp");
        EXPECT_EQ(run.status, status) << grade << run.err;
        const nlohmann::json out = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(out.is_discarded()) << run.out;
        EXPECT_EQ(out["grade"], "B");
        EXPECT_EQ(out["passed"], status == 0);
        EXPECT_EQ(out["addresses"][0]["checks"][3]["result"], "warn");
    }
    EXPECT_EQ(RunProgram({HOROLAB_PROGRAM, "--audit", "x", "--min-grade", "E"}, "/tmp").status, 2);
}

} // namespace

HOROLAB_QT_TEST_MAIN()

// The audit against real servers and scripted ones, in one table audited at
// once: chronyd with and without a rate limit and as an NTS server (good and
// expired certificate), and responders for what no Debian server does any
// more (monlist, a lying leap indicator, a future reference time, a kissed
// burst). NTPsec's ntpd, which binds port 123, runs in a network namespace
// of its own. Then the built program as an ordinary user, and the window.
#include "fakes/FakeWindow.h"
#include "support/ChildProcess.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/UdpResponder.h"

#include "audit/Audit.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <sched.h>
#include <thread>

namespace {

using R = AuditResult;
const R P = R::Pass, W = R::Warn, F = R::Fail, N = R::NotApplicable;

struct Row {
    const char* what;
    std::string server;
    AuditOptions options;
    std::vector<R> results; // answers, leap, exposure, rate limiting, NTS, families
    AuditGrade grade;
    CUdpResponder* scripted = nullptr; // whose requests must match the traffic counted
};

void ExpectAudit(const AuditReport& report, const Row& row)
{
    ASSERT_EQ(report.addresses.size(), 1u) << row.what << ": " << report.failure;
    const AuditAddress& a = report.addresses[0];
    std::vector<R> results;
    std::string checks;
    for (const AuditCheck& c : a.checks) {
        results.push_back(c.result);
        checks += std::string(AuditCheckName(c.id)) + ": " + c.summary + "\n";
    }
    EXPECT_EQ(results, row.results) << row.what << "\n" << checks;
    EXPECT_EQ(a.grade, row.grade) << row.what << "\n" << checks;
    EXPECT_LE(a.traffic.datagrams, MaxAuditDatagrams) << row.what;
    EXPECT_LE(a.traffic.connections, MaxAuditConnections) << row.what;
    if (row.scripted) {
        EXPECT_EQ(static_cast<int>(row.scripted->Requests().size()), a.traffic.datagrams) << row.what;
    }
    EXPECT_LT(report.seconds, AuditBudgetSeconds) << row.what;
}

AuditOptions Options(int ntsPort = FreeLoopbackPort(), const std::string& ca = "", bool fixedClock = false)
{
    AuditOptions options;
    options.ntsPort = ntsPort;
    if (!ca.empty())
        options.caFiles = {ca};
    if (fixedClock)
        options.localClock = [] { return LocalClockState{true, 0.5}; };
    return options;
}

// How a scripted server answers the n-th NTP request (from 1).
struct Script {
    uint8_t leap = 0;
    int referenceAheadS = -60;
    int kissFrom = 0;     // RATE from this request on; 0 for never
    bool monlist = false; // answers mode 7 with three 440-byte datagrams
};

CUdpResponder::Answer Scripted(Script s)
{
    auto count = std::make_shared<std::atomic<int>>(0);
    return [s, count](const CUdpResponder::Request& r) -> std::vector<CUdpResponder::Datagram> {
        const uint8_t mode = r.bytes.empty() ? 0 : r.bytes[0] & 7;
        if (mode == 7 && s.monlist) {
            std::vector<uint8_t> part(440, 0), last(440, 0);
            part[0] = 0xD7; // response, more, version 2, mode 7
            last[0] = 0x97;
            part[2] = last[2] = 3;
            part[3] = last[3] = 42;
            return {{part}, {part}, {last}};
        }
        if (mode != NtpModeClient || r.bytes.size() < NtpHeaderSize)
            return {};
        const bool kiss = s.kissFrom > 0 && ++*count >= s.kissFrom;
        CNtpMsg reply = kiss ? CUdpResponder::KissReply(r, "RATE") : CUdpResponder::ServerReply(r);
        reply.m_version = static_cast<uint8_t>(r.bytes[0] >> 3 & 7);
        if (!kiss) {
            reply.m_leap = s.leap;
            reply.m_precision = -20;
            reply.m_reference = NtpTimestamp{reply.m_transmit.Seconds + static_cast<uint32_t>(s.referenceAheadS), 0};
        }
        return {CUdpResponder::Message(reply)};
    };
}

void AuditAll(const std::vector<Row>& rows)
{
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    std::vector<AuditReport> reports(rows.size());
    std::vector<std::thread> audits;
    for (size_t n = 0; n < rows.size(); ++n)
        audits.emplace_back([&, n] { reports[n] = auditor.Audit(rows[n].server, rows[n].options); });
    for (std::thread& audit : audits)
        audit.join();
    for (size_t n = 0; n < rows.size(); ++n)
        ExpectAudit(reports[n], rows[n]);
}

TEST(AuditServers, EachServerAndConfigurationGetsItsVerdictsAndGrade)
{
    const std::string plain = ChronyPort(), limited = ChronyPort("/ratelimit");
    ASSERT_FALSE(plain.empty() || limited.empty()) << "the chronyd fixtures are not up";
    const NtsCertificates certs = MakeNtsCertificates(ProcessTempDir("audit-certs"));
    ASSERT_TRUE(certs.ok) << certs.error;
    CNtsChrony good(ProcessTempDir("audit-nts-good")), expired(ProcessTempDir("audit-nts-expired"));
    ASSERT_TRUE(good.Start({"127.0.0.1", certs.good, certs.goodKey, ""})) << good.Error();
    ASSERT_TRUE(expired.Start({"127.0.0.1", certs.expired, certs.expiredKey, ""})) << expired.Error();
    CUdpResponder friendly(Scripted({})), monlist(Scripted({.monlist = true})), leap(Scripted({.leap = 3})),
        ahead(Scripted({.referenceAheadS = 3600})), kiss(Scripted({.kissFrom = 5}));
    const auto scripted = [](const char* what, CUdpResponder& s, std::vector<R> results, AuditGrade grade) {
        return Row{what, s.ServerText(), Options(FreeLoopbackPort(), "", true), results, grade, &s};
    };
    AuditAll({
        {"chronyd", "127.0.0.1:" + plain, Options(), {P, P, P, W, N, N}, AuditGrade::B},
        {"chronyd with ratelimit", "127.0.0.1:" + limited, Options(), {P, P, P, P, N, N}, AuditGrade::A},
        // chronyd lets a client that offers no ALPN at all through
        {"chronyd serving NTS", "localhost:" + std::to_string(good.NtpPort()), Options(good.KePort(), certs.ca),
         {P, P, P, W, P, N}, AuditGrade::B},
        {"chronyd with an expired certificate", "localhost:" + std::to_string(expired.NtpPort()),
         Options(expired.KePort(), certs.ca), {P, P, P, W, F, N}, AuditGrade::C},
        scripted("friendly, no limit", friendly, {P, P, P, W, N, N}, AuditGrade::B),
        scripted("monlist amplifier", monlist, {P, P, F, W, N, N}, AuditGrade::F),
        scripted("LI 3 at stratum 2", leap, {F, F, P, W, N, N}, AuditGrade::F),
        scripted("reference an hour ahead", ahead, {F, P, P, W, N, N}, AuditGrade::C),
        scripted("RATE kiss in the burst", kiss, {P, P, P, P, N, N}, AuditGrade::A),
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
    for (const Row& row : {Row{"restrict default noquery\nrestrict 127.0.0.1 noquery\n", "127.0.0.1", Options(4460),
                               {W, P, P, W, N, N}, AuditGrade::B},
                           Row{"restrict default\nrestrict 127.0.0.1\n", "127.0.0.1", Options(4460),
                               {W, P, F, W, N, N}, AuditGrade::F}}) {
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
    std::vector<std::string> prefix;
    if (geteuid() == 0)
        prefix = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    const std::string nts = std::to_string(FreeLoopbackPort());
    for (const auto& [grade, status] : {std::pair{"B", 0}, std::pair{"a", 1}}) {
        std::vector<std::string> args = prefix;
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

TEST(AuditServers, TheWindowAuditsWithGoDisabledAndShowsTheGrade)
{
    CUdpResponder server(Scripted({}));
    FakeWindow window;
    CTikkaraDlg dialog(window);
    dialog.OnInitDialog();
    window.SetText(IDC_SERVER, server.ServerText());
    dialog.OnCommand(ID_FILE_AUDIT);
    EXPECT_FALSE(window.Control(IDC_GO).enabled);
    EXPECT_FALSE(window.Control(IDC_SERVER).enabled);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(AuditBudgetSeconds);
    while (window.RunPosted() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(window.Control(IDC_GO).enabled);
    EXPECT_TRUE(window.Control(IDC_SERVER).enabled);
    const std::string log = window.LogText();
    EXPECT_NE(log.find("warn Rate limiting"), std::string::npos) << log;
    EXPECT_NE(log.find("Grade for 127.0.0.1: B"), std::string::npos) << log;
    EXPECT_EQ(dialog.LastAudit().grade, AuditGrade::B);
}

} // namespace

HOROLAB_QT_TEST_MAIN()

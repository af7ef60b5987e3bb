// The audit against scripted servers on loopback, for what no Debian server
// does any more: answering monlist, a leap indicator that contradicts the
// stratum, a reference time in the future; and kissing a burst. Then the
// window's File > Audit against one of them.
#include "fakes/FakeWindow.h"
#include "support/NtsChrony.h"
#include "support/UdpResponder.h"

#include "audit/Audit.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Datagram = CUdpResponder::Datagram;
using R = AuditResult;

// How the scripted server answers the n-th NTP request (from 1).
struct Script {
    uint8_t leap = 0;
    int referenceAheadS = -60;
    int kissFrom = 0;      // RATE from this request on; 0 for never
    bool monlist = false;  // answers mode 7 with three 440-byte datagrams
};

CUdpResponder::Answer Scripted(Script s)
{
    auto count = std::make_shared<std::atomic<int>>(0);
    return [s, count](const CUdpResponder::Request& r) -> std::vector<Datagram> {
        const uint8_t mode = r.bytes.empty() ? 0 : r.bytes[0] & 7;
        if (mode == 7 && s.monlist) {
            std::vector<uint8_t> part(440, 0);
            part[0] = 0xD7; // response, more, version 2, mode 7
            part[2] = 3;
            part[3] = 42;
            std::vector<uint8_t> last = part;
            last[0] = 0x97;
            return {{part}, {part}, {last}};
        }
        if (mode != NtpModeClient || r.bytes.size() < NtpHeaderSize)
            return {};
        const int n = ++*count;
        CNtpMsg reply = s.kissFrom > 0 && n >= s.kissFrom ? CUdpResponder::KissReply(r, "RATE")
                                                          : CUdpResponder::ServerReply(r);
        reply.m_version = static_cast<uint8_t>(r.bytes[0] >> 3 & 7);
        if (reply.m_stratum != 0) {
            reply.m_leap = s.leap;
            reply.m_precision = -20;
            reply.m_reference = NtpTimestamp{reply.m_transmit.Seconds + static_cast<uint32_t>(s.referenceAheadS), 0};
        }
        return {CUdpResponder::Message(reply)};
    };
}

AuditOptions Options()
{
    AuditOptions options;
    options.ntsPort = FreeLoopbackPort(); // nothing listens: no NTS
    options.localClock = [] { return LocalClockState{true, 0.5}; };
    return options;
}

TEST(AuditResponders, EachScriptedServerGetsItsVerdictsAndGrade)
{
    struct Case {
        const char* what;
        Script script;
        std::vector<R> results; // answers, leap, exposure, rate limiting, NTS, families
        AuditGrade grade;
    };
    const Case cases[] = {
        {"friendly, no limit", {}, {R::Pass, R::Pass, R::Pass, R::Warn, R::NotApplicable, R::NotApplicable}, AuditGrade::B},
        {"monlist amplifier", {.monlist = true}, {R::Pass, R::Pass, R::Fail, R::Warn, R::NotApplicable, R::NotApplicable},
         AuditGrade::F},
        {"LI 3 at stratum 2", {.leap = 3}, {R::Fail, R::Fail, R::Pass, R::Warn, R::NotApplicable, R::NotApplicable},
         AuditGrade::F},
        {"reference an hour ahead", {.referenceAheadS = 3600},
         {R::Fail, R::Pass, R::Pass, R::Warn, R::NotApplicable, R::NotApplicable}, AuditGrade::C},
        {"RATE kiss in the burst", {.kissFrom = 5},
         {R::Pass, R::Pass, R::Pass, R::Pass, R::NotApplicable, R::NotApplicable}, AuditGrade::A},
    };
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    // All at once, each against its own server, as the audit runs addresses.
    std::vector<std::unique_ptr<CUdpResponder>> servers;
    std::vector<AuditReport> reports(std::size(cases));
    std::vector<std::thread> audits;
    for (size_t n = 0; n < std::size(cases); ++n) {
        servers.push_back(std::make_unique<CUdpResponder>(Scripted(cases[n].script)));
        ASSERT_TRUE(servers.back()->IsListening());
        audits.emplace_back([&, n, text = servers.back()->ServerText()] { reports[n] = auditor.Audit(text, Options()); });
    }
    for (std::thread& audit : audits)
        audit.join();
    for (size_t n = 0; n < std::size(cases); ++n) {
        const Case& c = cases[n];
        const AuditReport& report = reports[n];
        ASSERT_EQ(report.addresses.size(), 1u) << c.what;
        const AuditAddress& a = report.addresses[0];
        std::vector<R> results;
        for (const AuditCheck& check : a.checks)
            results.push_back(check.result);
        EXPECT_EQ(results, c.results) << c.what;
        EXPECT_EQ(a.grade, c.grade) << c.what;
        EXPECT_LE(a.traffic.datagrams, MaxAuditDatagrams) << c.what;
        EXPECT_LE(a.traffic.connections, MaxAuditConnections) << c.what;
        EXPECT_EQ(static_cast<int>(servers[n]->Requests().size()), a.traffic.datagrams) << c.what;
        EXPECT_LT(report.seconds, AuditBudgetSeconds) << c.what;
    }
}

TEST(AuditResponders, TheWindowAuditsWithGoDisabledAndShowsTheGrade)
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

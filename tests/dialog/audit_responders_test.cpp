// The audit against scripted servers on loopback, for what no Debian server
// does any more: answering monlist, a leap indicator that contradicts the
// stratum, a reference time in the future; and kissing a burst. Then the
// window's File > Audit against one of them.
#include "fakes/FakeWindow.h"
#include "support/AuditTable.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using R = AuditResult;
const R P = R::Pass, W = R::Warn, F = R::Fail, N = R::NotApplicable;

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

TEST(AuditResponders, EachScriptedServerGetsItsVerdictsAndGrade)
{
    CUdpResponder friendly(Scripted({})), monlist(Scripted({.monlist = true})), leap(Scripted({.leap = 3})),
        ahead(Scripted({.referenceAheadS = 3600})), kiss(Scripted({.kissFrom = 5}));
    const auto row = [](const char* what, CUdpResponder& s, std::vector<R> results, AuditGrade grade) {
        return AuditRow{what, s.ServerText(), AuditOptionsFor(FreeLoopbackPort(), {}, true), results, grade, &s};
    };
    AuditAll({
        row("friendly, no limit", friendly, {P, P, P, W, N, N}, AuditGrade::B),
        row("monlist amplifier", monlist, {P, P, F, W, N, N}, AuditGrade::F),
        row("LI 3 at stratum 2", leap, {F, F, P, W, N, N}, AuditGrade::F),
        row("reference an hour ahead", ahead, {F, P, P, W, N, N}, AuditGrade::C),
        row("RATE kiss in the burst", kiss, {P, P, P, P, N, N}, AuditGrade::A),
    });
}

TEST(AuditResponders, TheWindowAuditsWithGoDisabledAndShowsTheGrade)
{
    CUdpResponder server(Scripted({}));
    FakeWindow window;
    CTikkaraDlg dialog(window);
    dialog.OnInitDialog();
    window.SetText(IDC_SERVER, server.ServerText());
    dialog.OnCommand(ID_FILE_AUDIT);
    EXPECT_FALSE(window.Control(IDC_GO).enabled || window.Control(IDC_SERVER).enabled);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(AuditBudgetSeconds);
    while (window.RunPosted() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(window.Control(IDC_GO).enabled && window.Control(IDC_SERVER).enabled);
    const std::string log = window.LogText();
    EXPECT_NE(log.find("warn Rate limiting"), std::string::npos) << log;
    EXPECT_NE(log.find("Grade for 127.0.0.1: B"), std::string::npos) << log;
    EXPECT_EQ(dialog.LastAudit().grade, AuditGrade::B);
}

} // namespace

// The audit's rules without a network: each check's judgement of its
// facts, the control answers' reading, the grade, and the report's width.
#include "support/NtpSamples.h"

#include "audit/AuditChecks.h"
#include "audit/AuditText.h"
#include "audit/ModeProbes.h"
#include "audit/NtsAudit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

using R = AuditResult;

struct Answer {
    uint8_t version = 4, leap = 0, stratum = 2;
    int referenceAgeMs = 60000;
    int offsetMs = 0;
    int8_t precision = -20;
};

NtpExchange Exchange(const Answer& a)
{
    NtpExchange e;
    e.outcome = ExchangeOutcome::Answered;
    e.requestTransmit = {NewYear2024, 0x10000};
    e.sentAt = e.arrivedAt = e.requestTransmit;
    CNtpMsg& r = e.reply;
    r.m_mode = NtpModeServer;
    r.m_version = a.version;
    r.m_leap = a.leap;
    r.m_stratum = a.stratum;
    r.m_precision = a.precision;
    r.m_rootDispersion = 0.001;
    r.m_originate = e.requestTransmit;
    r.m_receive = r.m_transmit = ShiftedMs(e.requestTransmit, a.offsetMs);
    r.m_reference = ShiftedMs(r.m_transmit, -a.referenceAgeMs);
    return e;
}

NtpExchange Silent()
{
    NtpExchange e;
    e.outcome = ExchangeOutcome::TimedOut;
    return e;
}

AuditAddress At(bool ipv6, const NtpExchange& answer)
{
    AuditAddress a;
    a.address.family = ipv6 ? AddressFamilyIPv6 : AddressFamilyIPv4;
    a.addressText = ipv6 ? "[::1]:123" : "127.0.0.1:123";
    a.answer = answer;
    return a;
}

// An NTS check whose certificate ran out `days` ago.
NtsAuditFacts ExpiredNts(int days)
{
    NtsAuditFacts f;
    f.verdict = {"certificate-expired", "the server's certificate expired"};
    f.check.keyExchange.tls.hasCertificate = true;
    f.now = NewYear2024Unix;
    f.check.keyExchange.tls.certificate.notAfter = f.now - days * 86400;
    return f;
}

ModeProbe Answered(int bytesIn, int bytesOut)
{
    return {.sent = true, .bytesOut = bytesOut, .bytesIn = bytesIn, .answers = 1, .complete = true, .payload = {}};
}

// The rules the scripted and real servers of the system tests do not reach.
TEST(AuditRules, EachRuleGivesItsResultAndCap)
{
    const LocalClockState synced{true, 0.002}, unsynced{false, 16};
    const Answer v3{.version = 3};
    const R P = R::Pass, W = R::Warn, F = R::Fail, N = R::NotApplicable;
    using G = AuditGrade;
    struct Case {
        const char* what;
        AuditCheck check;
        AuditResult result;
        AuditGrade cap;
        const char* evidence = ""; // in one of its lines
    };
    const Case cases[] = {
        {"NTPv3 unanswered", JudgeAnswers(Exchange({}), Silent(), synced), F, G::C},
        {"v4 answered as v3", JudgeAnswers(Exchange(v3), Exchange(v3), synced), F, G::C},
        {"nothing answers", JudgeAnswers(Silent(), Silent(), synced), F, G::F},
        {"within 1 ms + 2 ms", JudgeAnswers(Exchange({.offsetMs = 2}), Exchange(v3), synced), P, G::APlus},
        {"4 ms off, 3 ms allowed", JudgeAnswers(Exchange({.offsetMs = 4}), Exchange(v3), synced), F, G::F},
        {"far off, this clock unsynchronised", JudgeAnswers(Exchange({.offsetMs = 9000}), Exchange(v3), unsynced), P,
         G::APlus},
        {"reference a minute ahead", JudgeAnswers(Exchange({.referenceAgeMs = -60000}), Exchange(v3), synced), F,
         G::C, "reference time 60.0 s after the transmit time"},
        {"reference two days old", JudgeAnswers(Exchange({.referenceAgeMs = 172800000}), Exchange(v3), synced), W,
         G::B},
        {"precision of a second", JudgeAnswers(Exchange({.precision = 0}), Exchange(v3), synced), F, G::C},
        {"LI 1 in June", JudgeLeap(Exchange({.leap = 1}), 6), P, G::APlus},
        {"LI 2 at stratum 1 in December", JudgeLeap(Exchange({.leap = 2, .stratum = 1}), 12), P, G::APlus},
        {"LI 1 in March", JudgeLeap(Exchange({.leap = 1}), 3), F, G::C},
        {"LI 2 in November", JudgeLeap(Exchange({.leap = 2}), 11), F, G::C},
        {"LI 3 saying so at stratum 16", JudgeLeap(Exchange({.leap = 3, .stratum = 16}), 3), P, G::APlus},
        {"leap without an answer", JudgeLeap(Silent(), 6), N, G::APlus},
        {"readvar at 30x", JudgeExposure({Answered(364, 12), {}}), F, G::F},
        {"readvar at 10x", JudgeExposure({Answered(120, 12), {}}), W, G::B},
        {"certificate expired", JudgeNts(ExpiredNts(3)), F, G::C, ": expired 3 days ago"},
        {"burst not sent", JudgeBurst({}), N, G::APlus},
        {"burst unanswered", JudgeBurst({12, 0, "", 0, 0}), N, G::APlus},
        {"both families, intervals meet", JudgeFamilies({At(false, Exchange({})), At(true, Exchange({.offsetMs = 1}))}),
         P, G::APlus},
        {"IPv6 silent", JudgeFamilies({At(false, Exchange({})), At(true, Silent())}), F, G::C},
        {"families 500 ms apart", JudgeFamilies({At(false, Exchange({})), At(true, Exchange({.offsetMs = 500}))}), F,
         G::C},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.check.result, c.result) << c.what << ": " << c.check.summary;
        EXPECT_EQ(c.check.cap, c.cap) << c.what << ": " << c.check.summary;
        const auto shows = [&](const std::string& line) { return line.find(c.evidence) != std::string::npos; };
        EXPECT_TRUE(!*c.evidence || std::any_of(c.check.evidence.begin(), c.check.evidence.end(), shows)) << c.what;
    }
}

std::vector<uint8_t> Mode6Answer(uint16_t sequence, bool more, const std::string& text)
{
    const uint8_t header[12] = {0x16, static_cast<uint8_t>(0x82 | (more ? 0x20 : 0)), uint8_t(sequence >> 8),
                                uint8_t(sequence), 0, 0, 0, 0, 0, 0, uint8_t(text.size() >> 8), uint8_t(text.size())};
    std::vector<uint8_t> d(std::begin(header), std::end(header));
    d.resize(sizeof header + text.size());
    std::copy(text.begin(), text.end(), d.begin() + sizeof header);
    return d;
}

TEST(AuditRules, ControlAnswersCountOnlyWhenTheyAnswerTheRequest)
{
    ModeProbe probe;
    const std::vector<uint8_t> other = Mode6Answer(8, false, "x=1");
    EXPECT_EQ(TakeMode6Answer(other.data(), other.size(), 7, probe), ProbeAnswer::Foreign);
    const std::vector<uint8_t> request = Mode6ReadvarRequest(7);
    EXPECT_EQ(TakeMode6Answer(request.data(), request.size(), 7, probe), ProbeAnswer::Foreign); // no response bit
    const std::vector<uint8_t> first = Mode6Answer(7, true, "version=\"ntpd 4.2.8p15\x1b[2J\", leap=0,");
    const std::vector<uint8_t> last = Mode6Answer(7, false, " processor=\"x86_64\",\r\nsystem=\"Linux/6.1\"");
    EXPECT_EQ(TakeMode6Answer(first.data(), first.size(), 7, probe), ProbeAnswer::More);
    EXPECT_EQ(TakeMode6Answer(last.data(), last.size(), 7, probe), ProbeAnswer::Last);
    EXPECT_EQ(probe.bytesIn, static_cast<int>(first.size() + last.size()));
    using Leak = std::pair<std::string, std::string>;
    EXPECT_EQ(LeakedVariables(probe.payload), (std::vector<Leak>{{"version", "ntpd 4.2.8p15\\x1b[2J"},
                                                                 {"system", "Linux/6.1"},
                                                                 {"processor", "x86_64"}}));
    const std::vector<uint8_t> monlist = {0x97, 0, 3, 42, 0, 1, 0, 72};
    EXPECT_EQ(TakeMode7Answer(monlist.data(), monlist.size(), probe), ProbeAnswer::Last);
    EXPECT_EQ(TakeMode7Answer(monlist.data(), 7, probe), ProbeAnswer::Foreign);
}

TEST(AuditRules, GradeIsTheLowestCapAndTheReportFitsThePane)
{
    AuditReport report;
    report.host = "time.example.org";
    AuditAddress a;
    a.addressText = "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff";
    AuditCheck warn{AuditCheckId::RateLimiting, AuditResult::Warn, "no rate limiting: all 12 answered",
                    {std::string(150, 'x'), "a fairly long line of evidence that has to be wrapped somewhere in it"},
                    AuditGrade::B};
    AuditCheck noNts{AuditCheckId::Nts, AuditResult::NotApplicable, "no NTS key exchange", {}, AuditGrade::A};
    a.checks = {warn, noNts};
    report.addresses = {a, a};
    report.addresses[1].checks.push_back({AuditCheckId::Exposure, AuditResult::Fail, "amplifier", {}, AuditGrade::F});
    GradeAudit(report);
    EXPECT_EQ(report.addresses[0].grade, AuditGrade::B);
    EXPECT_EQ(report.addresses[1].grade, AuditGrade::F);
    EXPECT_EQ(report.grade, AuditGrade::F);

    std::istringstream lines(FormatAuditReport(report));
    int deductions = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), AuditTextWidth + 1) << line; // the CR
        deductions += line.find("Deduction to") != std::string::npos;
    }
    EXPECT_EQ(deductions, 5);
}

} // namespace

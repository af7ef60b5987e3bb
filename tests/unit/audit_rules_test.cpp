// The audit's rules without a network: each check's judgement of its
// facts, the control answers' reading, the grade, and the report's width.
#include "support/NtpSamples.h"

#include "audit/AuditChecks.h"
#include "audit/AuditText.h"
#include "audit/ModeProbes.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

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

TEST(AuditRules, AnswersAreJudgedAndCapped)
{
    const LocalClockState synced{true, 0.002};
    const LocalClockState unsynced{false, 16};
    struct Case {
        const char* what;
        NtpExchange v4, v3;
        LocalClockState local;
        AuditResult result;
        AuditGrade cap;
    };
    const Case cases[] = {
        {"sound, time within 1 ms + 2 ms", Exchange({}), Exchange({.version = 3, .offsetMs = 2}), synced,
         AuditResult::Pass, AuditGrade::APlus},
        {"NTPv3 unanswered", Exchange({}), Silent(), synced, AuditResult::Fail, AuditGrade::C},
        {"v4 answered as v3", Exchange({.version = 3}), Exchange({.version = 3}), synced, AuditResult::Fail, AuditGrade::C},
        {"nothing answers", Silent(), Silent(), synced, AuditResult::Fail, AuditGrade::F},
        {"unsynchronised server", Exchange({.leap = 3}), Exchange({.version = 3, .leap = 3}), synced, AuditResult::Fail,
         AuditGrade::F},
        {"4 ms off, 3 ms allowed", Exchange({.offsetMs = 4}), Exchange({.version = 3}), synced, AuditResult::Fail,
         AuditGrade::F},
        {"far off, but this clock is unsynchronised", Exchange({.offsetMs = 9000}), Exchange({.version = 3}), unsynced,
         AuditResult::Pass, AuditGrade::APlus},
        {"reference in the future", Exchange({.referenceAgeMs = -5000}), Exchange({.version = 3}), synced,
         AuditResult::Fail, AuditGrade::C},
        {"reference two days old", Exchange({.referenceAgeMs = 2 * 86400 * 1000}), Exchange({.version = 3}), synced,
         AuditResult::Warn, AuditGrade::B},
        {"precision of a second", Exchange({.precision = 0}), Exchange({.version = 3}), synced, AuditResult::Fail,
         AuditGrade::C},
    };
    for (const Case& c : cases) {
        const AuditCheck check = JudgeAnswers(c.v4, c.v3, c.local);
        EXPECT_EQ(check.result, c.result) << c.what << ": " << check.summary;
        EXPECT_EQ(check.cap, c.cap) << c.what << ": " << check.summary;
    }
}

TEST(AuditRules, LeapIndicatorMustFitStratumAndMonth)
{
    struct Case {
        uint8_t leap, stratum;
        int month;
        AuditResult result;
    };
    const Case cases[] = {
        {0, 2, 3, AuditResult::Pass},  {1, 2, 6, AuditResult::Pass},  {2, 1, 12, AuditResult::Pass},
        {1, 2, 3, AuditResult::Fail},  {2, 2, 11, AuditResult::Fail}, {3, 2, 6, AuditResult::Fail},
        {3, 16, 3, AuditResult::Pass}, // unsynchronised and saying so
    };
    for (const Case& c : cases) {
        const AuditCheck check = JudgeLeap(Exchange({.leap = c.leap, .stratum = c.stratum}), c.month);
        EXPECT_EQ(check.result, c.result) << int(c.leap) << " " << int(c.stratum) << " " << c.month;
    }
    EXPECT_EQ(JudgeLeap(Silent(), 6).result, AuditResult::NotApplicable);
}

ModeProbe Answered(int bytesIn, int bytesOut)
{
    ModeProbe p;
    p.sent = true;
    p.bytesOut = bytesOut;
    p.bytesIn = bytesIn;
    p.answers = bytesIn > 0 ? 1 : 0;
    return p;
}

TEST(AuditRules, ExposureAndBurstVerdicts)
{
    struct Case {
        const char* what;
        AuditCheck check;
        AuditResult result;
        AuditGrade cap;
    };
    const Case cases[] = {
        {"silent to both", JudgeExposure({Answered(0, 12), Answered(0, 48)}), AuditResult::Pass, AuditGrade::APlus},
        {"monlist answered", JudgeExposure({Answered(0, 12), Answered(48, 48)}), AuditResult::Fail, AuditGrade::F},
        {"readvar at 30x", JudgeExposure({Answered(364, 12), Answered(0, 48)}), AuditResult::Fail, AuditGrade::F},
        {"readvar at 10x", JudgeExposure({Answered(120, 12), Answered(0, 48)}), AuditResult::Warn, AuditGrade::B},
        {"every request answered", JudgeBurst({12, 12, "", 0, 0}), AuditResult::Warn, AuditGrade::B},
        {"some dropped", JudgeBurst({12, 5, "", 0, 0}), AuditResult::Pass, AuditGrade::APlus},
        {"RATE kiss", JudgeBurst({4, 3, "RATE", 4, 0}), AuditResult::Pass, AuditGrade::APlus},
        {"nothing sent", JudgeBurst({}), AuditResult::NotApplicable, AuditGrade::APlus},
        {"nothing answered", JudgeBurst({12, 0, "", 0, 0}), AuditResult::NotApplicable, AuditGrade::APlus},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.check.result, c.result) << c.what;
        EXPECT_EQ(c.check.cap, c.cap) << c.what;
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

TEST(AuditRules, FamiliesMustBothAnswerAndMeet)
{
    const auto at = [](bool ipv6, const NtpExchange& answer) {
        AuditAddress a;
        a.address.family = ipv6 ? AddressFamilyIPv6 : AddressFamilyIPv4;
        a.addressText = ipv6 ? "[::1]:123" : "127.0.0.1:123";
        a.answer = answer;
        return a;
    };
    struct Case {
        const char* what;
        std::vector<AuditAddress> addresses;
        AuditResult result;
    };
    const Case cases[] = {
        {"one family", {at(false, Exchange({})), at(false, Exchange({.offsetMs = 500}))}, AuditResult::NotApplicable},
        {"both answer, intervals meet", {at(false, Exchange({})), at(true, Exchange({.offsetMs = 1}))}, AuditResult::Pass},
        {"IPv6 silent", {at(false, Exchange({})), at(true, Silent())}, AuditResult::Fail},
        {"500 ms apart", {at(false, Exchange({})), at(true, Exchange({.offsetMs = 500}))}, AuditResult::Fail},
    };
    for (const Case& c : cases) {
        const AuditCheck check = JudgeFamilies(c.addresses);
        EXPECT_EQ(check.result, c.result) << c.what << ": " << check.summary;
        EXPECT_EQ(check.cap, c.result == AuditResult::Fail ? AuditGrade::C : AuditGrade::APlus) << c.what;
    }
}

} // namespace

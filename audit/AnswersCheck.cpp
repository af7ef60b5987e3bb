#include "audit/AuditChecks.h"

#include "ntp/Format.h"
#include "ntp/PrintableText.h"
#include "query/ClockSetting.h"

#include <cmath>

namespace {
constexpr double MaxRootSeconds = 16;       // NTP's MAXDISP: beyond it a figure means nothing
constexpr double MaxRootDistance = 1.5;     // NTP's MAXDIST: clients drop a server beyond it
constexpr int MostPrecise = -32;            // 2^-32 s, below the timestamp's resolution
constexpr int LeastPrecise = -3;            // 2^-3 s = 125 ms: no server clock is worse
constexpr double SecondsPerDay = 86400;
constexpr double FutureSlack = 1;           // a reference time this much after the transmit time is a fault

// The first fault of one exchange's answer to its request, "" when sound.
std::string ExchangeFault(const NtpExchange& e, uint8_t version)
{
    if (!e.Answered()) {
        if (!e.rejected.empty())
            return "only answers that do not echo the request's transmit time";
        return ExchangeFailureText(e);
    }
    if (e.reply.m_mode != NtpModeServer)
        return Format("answered in mode %i, not 4", e.reply.m_mode);
    if (e.reply.m_version != version)
        return Format("answered with version %i to a version %i request", e.reply.m_version, version);
    return "";
}

std::string ExchangeLine(const NtpExchange& e, uint8_t version)
{
    const std::string fault = ExchangeFault(e, version);
    if (!fault.empty())
        return Format("NTPv%i request: ", version) + PrintableText(fault);
    return Format("NTPv%i request: mode 4, version %i, originate echoed, round trip %.3f ms", version, version,
                  RoundTripSeconds(e) * 1000);
}

class CAnswersJudge {
public:
    explicit CAnswersJudge(AuditCheck& check) : m_check(check) {}
    void Add(AuditResult result, AuditGrade cap, const std::string& why)
    {
        if (result > m_worst || (result == m_worst && m_summary.empty())) {
            m_worst = result;
            m_summary = why;
        }
        m_check.cap = WorseGrade(m_check.cap, cap);
    }
    void Finish()
    {
        m_check.result = m_worst;
        if (!m_summary.empty())
            m_check.summary = m_summary;
    }

private:
    AuditCheck& m_check;
    AuditResult m_worst = AuditResult::Pass;
    std::string m_summary;
};

void JudgeFields(const CNtpMsg& r, double age, AuditCheck& check, CAnswersJudge& judge)
{
    check.evidence.push_back(Format("stratum %i, reference %s, precision 2^%i s", r.m_stratum,
                                    PrintableText(r.GetRefIdText()).c_str(), r.m_precision));
    check.evidence.push_back(Format("root delay %.3f ms, root dispersion %.3f ms", r.m_rootDelay * 1000,
                                    r.m_rootDispersion * 1000));
    if (r.m_rootDelay < 0 || r.m_rootDelay > MaxRootSeconds || r.m_rootDispersion > MaxRootSeconds)
        judge.Add(AuditResult::Fail, AuditGrade::C, "implausible root delay or dispersion");
    else if (r.m_rootDelay / 2 + r.m_rootDispersion > MaxRootDistance)
        judge.Add(AuditResult::Warn, AuditGrade::B, "root distance above 1.5 s: clients will drop it");
    if (r.m_precision < MostPrecise || r.m_precision > LeastPrecise)
        judge.Add(AuditResult::Fail, AuditGrade::C, Format("implausible precision 2^%i s", r.m_precision));
    if (r.m_reference.Seconds == 0) {
        check.evidence.push_back("reference time: none");
        judge.Add(AuditResult::Warn, AuditGrade::B, "no reference time: never synchronised");
        return;
    }
    check.evidence.push_back(age >= 0 ? Format("reference time %.1f s before the transmit time", age)
                                      : Format("reference time %.1f s after the transmit time", -age));
    if (age < -FutureSlack)
        judge.Add(AuditResult::Fail, AuditGrade::C, "reference time in the future");
    else if (age > SecondsPerDay)
        judge.Add(AuditResult::Warn, AuditGrade::B, "reference time stale: over a day old");
}

void JudgeOffset(const NtpExchange& e, const LocalClockState& local, AuditCheck& check, CAnswersJudge& judge)
{
    const double offset = ClockOffsetSeconds(e);
    const double distance = RootDistanceSeconds(e);
    if (!local.synchronised) {
        check.evidence.push_back(Format("offset %+.3f ms not judged: this computer's clock is not synchronised",
                                        offset * 1000));
        return;
    }
    const double bound = distance + local.maxErrorSeconds;
    check.evidence.push_back(Format("offset %+.3f ms, allowed %.3f ms (root distance %.3f + local max. error %.3f)",
                                    offset * 1000, bound * 1000, distance * 1000, local.maxErrorSeconds * 1000));
    if (std::fabs(offset) > bound)
        judge.Add(AuditResult::Fail, AuditGrade::F, "time outside its own root distance");
}
} // namespace

AuditCheck JudgeAnswers(const NtpExchange& v4, const NtpExchange& v3, const LocalClockState& local)
{
    AuditCheck check;
    check.id = AuditCheckId::Answers;
    check.evidence = {ExchangeLine(v4, NtpVersion4), ExchangeLine(v3, NtpClientVersion)};
    CAnswersJudge judge(check);
    const bool v4Sound = ExchangeFault(v4, NtpVersion4).empty();
    const bool v3Sound = ExchangeFault(v3, NtpClientVersion).empty();
    const NtpExchange& taken = v4Sound || !v3Sound ? v4 : v3;
    if (!v4Sound || !v3Sound)
        judge.Add(AuditResult::Fail, AuditGrade::C, v4Sound ? "NTPv3 request not answered as it should be"
                                                            : "NTPv4 request not answered as it should be");
    const std::string unsound = taken.Answered() ? UnsoundAnswerReason(taken.reply, taken.requestTransmit) : "no answer";
    if (!unsound.empty()) {
        if (taken.Answered())
            check.evidence.push_back("answer unusable: " + PrintableText(unsound));
        judge.Add(AuditResult::Fail, AuditGrade::F, "no usable answer");
    }
    if (taken.Answered()) {
        JudgeFields(taken.reply, NtpSecondsBetween(taken.reply.m_transmit, taken.reply.m_reference), check, judge);
        if (unsound.empty())
            JudgeOffset(taken, local, check, judge);
    }
    judge.Finish();
    if (check.summary.empty())
        check.summary = Format("NTPv4 and NTPv3 answered, stratum %i", taken.reply.m_stratum);
    return check;
}

AuditCheck JudgeLeap(const NtpExchange& answer, int month)
{
    AuditCheck check;
    check.id = AuditCheckId::LeapIndicator;
    if (!answer.Answered()) {
        check.summary = "no answer to judge";
        return check;
    }
    const CNtpMsg& r = answer.reply;
    check.evidence.push_back(Format("leap indicator %i, stratum %i, this month %i (UTC)", r.m_leap, r.m_stratum, month));
    check.result = AuditResult::Pass;
    if (r.m_leap == NtpLeapNotSynchronised && r.m_stratum >= 1 && r.m_stratum < NtpStratumUnsynchronised) {
        check.result = AuditResult::Fail;
        check.summary = Format("LI 3 (unsynchronised) with stratum %i: a contradiction", r.m_stratum);
    } else if ((r.m_leap == 1 || r.m_leap == 2) && month != 6 && month != 12) {
        check.result = AuditResult::Fail;
        check.summary = Format("LI %i announces a leap second outside June and December", r.m_leap);
    } else if (r.m_leap == 1 || r.m_leap == 2) {
        check.summary = Format("LI %i: a leap second announced for the end of this month", r.m_leap);
    } else {
        check.summary = Format("LI %i consistent", r.m_leap);
    }
    if (check.result == AuditResult::Fail)
        check.cap = AuditGrade::C;
    return check;
}

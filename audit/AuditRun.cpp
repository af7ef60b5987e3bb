#include "audit/Audit.h"
#include "audit/AuditChecks.h"
#include "audit/Beside.h"
#include "audit/NtsAudit.h"

#include "survey/Survey.h"

#include <ctime>
#include <functional>

namespace {
// The UTC month (1..12) of a calendar time.
int UtcMonth(int64_t seconds)
{
    const time_t t = static_cast<time_t>(seconds);
    tm fields{};
    ::gmtime_r(&t, &fields);
    return fields.tm_mon + 1;
}

double SecondsSince(IClock& clock, int64_t startMicros)
{
    return static_cast<double>(clock.MonotonicMicroseconds() - startMicros) / 1e6;
}
} // namespace

// The key exchange beside the plain exchanges; then the burst, beside the
// control queries' waits, so that a rate limit it trips cannot cost the NTS
// exchanges their answers.
void CAuditor::AuditAddressOf(AuditAddress& a, const std::string& host, const AuditOptions& options)
{
    IClock& clock = m_engine.Clock();
    const int64_t start = clock.MonotonicMicroseconds();
    NtsAuditFacts nts;
    NtpExchange v3;
    RunTogether({[&] {
                     ExchangeOptions asked;
                     asked.accept = EchoesTheRequest; // a stray must not pass for the answer
                     asked.version = NtpVersion4;
                     a.answer = m_engine.Query(a.address, asked);
                     asked.version = NtpClientVersion;
                     v3 = m_engine.Query(a.address, asked);
                 },
                 [&] { nts = ProbeNts(m_engine, m_tls, m_crypto, a.address, host, options); }});
    BurstFacts burst;
    ExposureFacts exposure;
    RunTogether({[&] { burst = RunBurst(m_engine, a.address); },
                 [&] { exposure = ProbeExposure(m_engine, a.address); }});

    const AuditCheck answers = JudgeAnswers(a.answer, v3, options.localClock());
    const NtpExchange& taken = a.answer.Answered() || !v3.Answered() ? a.answer : v3;
    a.checks = {answers, JudgeLeap(taken, UtcMonth(clock.Now().seconds)), JudgeExposure(exposure), JudgeBurst(burst),
                JudgeNts(nts)};
    a.traffic.datagrams = 2 + (exposure.mode6.sent ? 1 : 0) + (exposure.mode7.sent ? 1 : 0) + burst.sent +
                          nts.Datagrams();
    a.traffic.connections = nts.Connections();
    a.seconds = SecondsSince(clock, start);
}

AuditReport CAuditor::Resolve(const std::string& serverText)
{
    AuditReport report;
    report.serverText = serverText;
    SurveyResult resolved = ResolveSurvey(m_engine, {serverText});
    if (!resolved.unresolved.empty()) {
        report.host = resolved.unresolved.front().host;
        report.failure = ExchangeFailureText(resolved.unresolved.front());
        report.failureOutcome = resolved.unresolved.front().outcome;
    }
    for (const SurveyAddress& s : resolved.addresses) {
        report.host = s.names.front();
        if (static_cast<int>(report.addresses.size()) == MaxAuditedAddresses) {
            ++report.addressesLeftOut;
            continue;
        }
        AuditAddress a;
        a.address = s.address;
        a.addressText = s.addressText;
        report.addresses.push_back(a);
    }
    return report;
}

void CAuditor::Run(AuditReport& report, const AuditOptions& options)
{
    IClock& clock = m_engine.Clock();
    const int64_t start = clock.MonotonicMicroseconds();
    std::vector<std::function<void()>> work;
    for (AuditAddress& a : report.addresses)
        work.push_back([&, host = report.host] { AuditAddressOf(a, host, options); });
    RunTogether(work);

    const AuditCheck families = JudgeFamilies(report.addresses);
    for (AuditAddress& a : report.addresses)
        a.checks.push_back(families);
    GradeAudit(report);
    report.seconds = SecondsSince(clock, start);
}

AuditReport CAuditor::Audit(const std::string& serverText, const AuditOptions& options)
{
    AuditReport report = Resolve(serverText);
    Run(report, options);
    return report;
}

#include "audit/AuditChecks.h"
#include "audit/AuditSocket.h"

#include "ntp/Format.h"

#include <random>

namespace {
// Long enough for a server across the world; a silent one costs this much.
constexpr int64_t ProbeWindowMicros = 1000000;

ModeProbe Probe(CExchangeEngine& engine, const SockAddrIn& server, const std::vector<uint8_t>& request,
                const std::function<ProbeAnswer(const std::vector<uint8_t>&, ModeProbe&)>& take)
{
    ModeProbe probe;
    CAuditSocket socket(engine, server);
    probe.bytesOut = static_cast<int>(request.size());
    probe.sent = socket.Send(request);
    if (!probe.sent)
        return probe;
    socket.Collect(engine.Clock().MonotonicMicroseconds() + ProbeWindowMicros, [&](const std::vector<uint8_t>& d) {
        probe.complete = take(d, probe) == ProbeAnswer::Last;
        return probe.complete;
    });
    return probe;
}

std::string ProbeLine(const char* what, const ModeProbe& p)
{
    if (!p.sent)
        return Format("%s: the request could not be sent", what);
    if (p.answers == 0)
        return Format("%s: no answer to %i bytes", what, p.bytesOut);
    return Format("%s: %i datagram(s), %i bytes for %i: amplification %.1fx%s", what, p.answers, p.bytesIn,
                  p.bytesOut, p.Amplification(), p.complete ? "" : " (more were due)");
}
} // namespace

ExposureFacts ProbeExposure(CExchangeEngine& engine, const SockAddrIn& server)
{
    ExposureFacts facts;
    const uint16_t sequence = static_cast<uint16_t>(std::random_device{}());
    facts.mode6 = Probe(engine, server, Mode6ReadvarRequest(sequence), [&](const std::vector<uint8_t>& d, ModeProbe& p) {
        return TakeMode6Answer(d.data(), d.size(), sequence, p);
    });
    facts.mode7 = Probe(engine, server, Mode7MonlistRequest(), [](const std::vector<uint8_t>& d, ModeProbe& p) {
        return TakeMode7Answer(d.data(), d.size(), p);
    });
    return facts;
}

AuditCheck JudgeExposure(const ExposureFacts& facts)
{
    AuditCheck check;
    check.id = AuditCheckId::Exposure;
    check.evidence = {ProbeLine("mode 6 READVAR", facts.mode6), ProbeLine("mode 7 MON_GETLIST_1", facts.mode7)};
    std::string leaks;
    for (const auto& [name, value] : LeakedVariables(facts.mode6.payload)) {
        check.evidence.push_back("mode 6 leaks " + name + ": " + value);
        leaks += (leaks.empty() ? "" : ", ") + name;
    }
    const double mode6 = facts.mode6.Amplification();
    if (facts.mode7.answers > 0) {
        check.result = AuditResult::Fail;
        check.cap = AuditGrade::F;
        check.summary = Format("amplifier: mode 7 monlist answered (%.1fx)", facts.mode7.Amplification());
    } else if (mode6 > MaxAmplification) {
        check.result = AuditResult::Fail;
        check.cap = AuditGrade::F;
        check.summary = Format("amplifier: mode 6 READVAR answered at %.1fx", mode6);
    } else if (facts.mode6.answers > 0) {
        check.result = AuditResult::Warn;
        check.cap = AuditGrade::B;
        check.summary = Format("mode 6 READVAR answered (%.1fx)%s", mode6, leaks.empty() ? "" : (", leaks " + leaks).c_str());
    } else {
        check.result = AuditResult::Pass;
        check.summary = "no answer to mode 6 or mode 7";
    }
    return check;
}

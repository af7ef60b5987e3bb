#include "audit/AuditChecks.h"
#include "audit/AuditSocket.h"

#include "ntp/Format.h"
#include "ntp/PrintableText.h"
#include "query/KissCode.h"

#include <random>

namespace {
// After the last request, the answers still on their way get this long.
constexpr int64_t TailMicros = 1000000;

// A version 4 request whose transmit time no one else can guess.
std::vector<uint8_t> BurstRequest(CExchangeEngine& engine, std::vector<NtpTimestamp>& transmits)
{
    CNtpMsg request = engine.NewRequest(false);
    request.m_version = NtpVersion4;
    request.m_transmit = WithRandomSubMillisecond(request.m_transmit, std::random_device{}());
    std::vector<uint8_t> datagram(NtpHeaderSize);
    request.Encode(datagram.data(), false, engine.Clock().Now().seconds);
    transmits.push_back(CNtpMsg(datagram.data()).m_transmit);
    return datagram;
}

// One datagram of the burst's answers: to which request, and what it says.
void TakeAnswer(const std::vector<uint8_t>& d, const std::vector<NtpTimestamp>& transmits, std::vector<bool>& seen,
                BurstFacts& facts)
{
    if (d.size() < static_cast<size_t>(NtpHeaderSize)) {
        ++facts.strays;
        return;
    }
    const CNtpMsg reply(d.data());
    for (size_t n = 0; n < transmits.size(); ++n) {
        if (seen[n] || reply.m_originate != transmits[n])
            continue;
        seen[n] = true;
        if (reply.m_stratum != NtpStratumKiss)
            ++facts.answered;
        else if (facts.kissCode.empty()) {
            facts.kissCode = PrintableText(reply.GetRefIdText());
            facts.kissAt = static_cast<int>(n) + 1;
        }
        return;
    }
    ++facts.strays;
}
} // namespace

BurstFacts RunBurst(CExchangeEngine& engine, const SockAddrIn& server)
{
    BurstFacts facts;
    CAuditSocket socket(engine, server);
    IClock& clock = engine.Clock();
    std::vector<NtpTimestamp> transmits;
    std::vector<bool> seen(BurstRequests, false);
    auto take = [&](const std::vector<uint8_t>& d) {
        TakeAnswer(d, transmits, seen, facts);
        return !facts.kissCode.empty();
    };
    int64_t due = clock.MonotonicMicroseconds();
    for (int n = 0; n < BurstRequests && facts.kissCode.empty() && socket.IsOpen(); ++n) {
        socket.Collect(due, take);
        if (!facts.kissCode.empty())
            break; // the server has spoken: no more
        due = clock.MonotonicMicroseconds() + int64_t{BurstSpacingMs} * 1000;
        socket.Send(BurstRequest(engine, transmits));
    }
    facts.sent = socket.Sent();
    socket.Collect(clock.MonotonicMicroseconds() + TailMicros, [&](const std::vector<uint8_t>& d) {
        take(d);
        return facts.answered + (facts.kissCode.empty() ? 0 : 1) >= facts.sent;
    });
    return facts;
}

AuditCheck JudgeBurst(const BurstFacts& f)
{
    AuditCheck check;
    check.id = AuditCheckId::RateLimiting;
    check.evidence.push_back(Format("%i requests %i ms apart: %i answered with the time", f.sent, BurstSpacingMs,
                                    f.answered));
    if (!f.kissCode.empty())
        check.evidence.push_back(Format("kiss code %s to request %i: burst stopped", f.kissCode.c_str(), f.kissAt));
    if (f.strays > 0)
        check.evidence.push_back(Format("%i datagram(s) that answered none of the requests", f.strays));
    if (f.sent == 0) {
        check.summary = "the burst could not be sent";
        return check;
    }
    // A server that answers nothing limits nothing: that is the Answers check's fault.
    if (f.answered == 0 && f.kissCode.empty()) {
        check.summary = "no answer to the burst to judge";
        return check;
    }
    if (!f.kissCode.empty()) {
        check.result = AuditResult::Pass;
        check.summary = f.kissCode == "RATE" ? Format("limits: RATE kiss after %i answers", f.answered)
                                             : "answers the burst with kiss code " + f.kissCode;
    } else if (f.answered < f.sent) {
        check.result = AuditResult::Pass;
        check.summary = Format("limits: %i of %i requests dropped", f.sent - f.answered, f.sent);
    } else {
        check.result = AuditResult::Warn;
        check.cap = AuditGrade::B;
        check.summary = Format("no rate limiting: all %i answered", f.sent);
    }
    return check;
}

#pragma once
// The audit's checks: each one's facts as measured and the judgement of
// them, apart, so that every rule is tested without a server.
#include "audit/Audit.h"
#include "audit/ModeProbes.h"

#include <cstdint>
#include <string>
#include <vector>

// Answers: an NTPv4 and an NTPv3 request and what came back, judged
// against this computer's clock only when that is synchronised.
AuditCheck JudgeAnswers(const NtpExchange& v4, const NtpExchange& v3, const LocalClockState& local);
// Leap indicator of the answer taken, in the UTC month `month` (1..12).
AuditCheck JudgeLeap(const NtpExchange& answer, int month);

struct ExposureFacts {
    ModeProbe mode6; // READVAR of the system variables
    ModeProbe mode7; // MON_GETLIST_1
};
ExposureFacts ProbeExposure(CExchangeEngine& engine, const SockAddrIn& server);
AuditCheck JudgeExposure(const ExposureFacts& facts);
// Above this, bytes out per byte in, a server is an amplifier.
constexpr double MaxAmplification = 10.0;

struct BurstFacts {
    int sent = 0;
    int answered = 0;      // with the time, to one of the requests
    std::string kissCode;  // the first kiss-o'-death to one of them, "" for none
    int kissAt = 0;        // which request it answered (1-based)
    int strays = 0;        // datagrams that answered none of the requests
};
// At most BurstRequests NTPv4 requests BurstSpacingMs apart, none after a kiss code.
BurstFacts RunBurst(CExchangeEngine& engine, const SockAddrIn& server);
AuditCheck JudgeBurst(const BurstFacts& facts);
constexpr int BurstRequests = 12;
constexpr int BurstSpacingMs = 200;

// Families: the IPv4 and IPv6 addresses of one name, each with its answer.
// One check for every address of the name; n/a with a single family.
AuditCheck JudgeFamilies(const std::vector<AuditAddress>& addresses);

#pragma once
// The audit's NTS check: the NTS check itself on the key-exchange port, the
// certificate's days left, and probes of what RFC 8915 asks of the key
// exchange server besides working.
#include "audit/Audit.h"
#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"

#include <string>
#include <vector>

// One extra key-exchange connection and how the server took it.
struct KeProbe {
    bool run = false;
    bool connected = false;
    TlsSessionFacts tls;
    std::vector<NtsKeRecord> records;
    NtsKeResponse response;
};

struct NtsAuditFacts {
    NtsCheck check;
    NtsVerdict verdict;
    int64_t now = 0; // seconds since 1970, for the certificate's days left
    KeProbe onlyTls12;       // a handshake offering TLS 1.2 alone: to be refused
    KeProbe noAlpn;          // a handshake without ntske/1: to be refused
    KeProbe unknownCritical; // a request with a critical record no server knows: an Error record
    int Datagrams() const;
    int Connections() const;
};

// The probes go out only when the key exchange was reached at all, at once
// and beside the time exchanges.
NtsAuditFacts ProbeNts(CExchangeEngine& engine, ITlsConnector& tls, ICrypto& crypto, const SockAddrIn& address,
                       const std::string& host, const AuditOptions& options);
AuditCheck JudgeNts(const NtsAuditFacts& facts);
constexpr int64_t CertificateWarnDays = 14;

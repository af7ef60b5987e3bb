#pragma once
// The audit of a time server as a value: every address of its name put
// through the same checks (answers, leap indicator, exposure to mode 6 and
// mode 7, rate limiting, NTS, the two families agreeing), each check's
// result with the evidence behind it, the traffic it cost, and a grade per
// address and for the name. The terminal, the JSON and the window render it.
#include "platform/LocalClockState.h"
#include "platform/Crypto.h"
#include "platform/Tls.h"
#include "query/Exchange.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class AuditResult { Pass, Warn, Fail, NotApplicable };
// "pass", "warn", "fail", "n/a"
const char* AuditResultName(AuditResult result);

enum class AuditCheckId { Answers, LeapIndicator, Exposure, RateLimiting, Nts, Families };
// "Answers", "Leap indicator", ...
const char* AuditCheckName(AuditCheckId id);

// Best first, so that a smaller grade is a better one.
enum class AuditGrade { APlus, A, B, C, F };
const char* AuditGradeName(AuditGrade grade);
// "A+", "A", "B", "C" or "F" (case aside); false for anything else.
bool ParseAuditGrade(const std::string& text, AuditGrade& grade);
inline AuditGrade WorseGrade(AuditGrade a, AuditGrade b) { return a > b ? a : b; }

struct AuditCheck {
    AuditCheckId id = AuditCheckId::Answers;
    AuditResult result = AuditResult::NotApplicable;
    std::string summary;               // one line
    std::vector<std::string> evidence; // the facts, every server text made printable
    AuditGrade cap = AuditGrade::APlus; // the best grade this finding leaves the address
};

// Datagrams and TCP connections sent to one address.
struct AuditTraffic {
    int datagrams = 0;
    int connections = 0;
};

struct AuditAddress {
    SockAddrIn address;
    std::string addressText;
    std::vector<AuditCheck> checks; // in the order of AuditCheckId
    AuditGrade grade = AuditGrade::F;
    AuditTraffic traffic;
    double seconds = 0; // wall time of this address's checks
    // The NTPv4 answer of the Answers check, for the families' intervals.
    NtpExchange answer;
    bool IsIPv6() const { return address.family == AddressFamilyIPv6; }
    const AuditCheck* Find(AuditCheckId id) const;
};

struct AuditReport {
    std::string serverText;
    std::string host;
    std::string failure; // why the name gave no address ("" when it did)
    ExchangeOutcome failureOutcome = ExchangeOutcome::NotRun; // NoHost, InvalidPort or HostNotFound
    std::vector<AuditAddress> addresses;
    int addressesLeftOut = 0; // beyond the number audited
    AuditGrade grade = AuditGrade::F; // the worst of the addresses'
    double seconds = 0;
};

// Most addresses of one name audited; a name with more is a pool, whose
// members are better audited one by one.
constexpr int MaxAuditedAddresses = 8;
// The budget per address.
constexpr int MaxAuditDatagrams = 24;
constexpr int MaxAuditConnections = 4;
constexpr int AuditBudgetSeconds = 30;

struct AuditOptions {
    int ntsPort = 4460;
    std::vector<std::string> caFiles; // trusted besides the system's store
    std::function<LocalClockState()> localClock = ReadLocalClockState;
};

class CAuditor {
public:
    CAuditor(CExchangeEngine& engine, ITlsConnector& tls, ICrypto& crypto) : m_engine(engine), m_tls(tls), m_crypto(crypto)
    {
    }
    // Every address of the server text's name ("name[:port]"), or why none.
    AuditReport Resolve(const std::string& serverText);
    // Every address audited at once, then the families compared and graded.
    void Run(AuditReport& report, const AuditOptions& options);
    AuditReport Audit(const std::string& serverText, const AuditOptions& options);

private:
    void AuditAddressOf(AuditAddress& address, const std::string& host, const AuditOptions& options);

    CExchangeEngine& m_engine;
    ITlsConnector& m_tls;
    ICrypto& m_crypto;
};

// The grade of one address from its checks' caps, and the report's from
// its addresses'.
void GradeAudit(AuditReport& report);

#pragma once
// The NTS check of a secured time server as a value: the key exchange over
// TLS with every fact an operator needs, two authenticated NTP exchanges
// (the second with a cookie the first one returned), a plain NTP query when
// the authenticated answer is missing, and the verdict.
#include "nts/NtsKeRecords.h"
#include "nts/NtsPacket.h"
#include "platform/Crypto.h"
#include "platform/Tls.h"
#include "query/Exchange.h"

#include <string>
#include <vector>

struct NtsKeyExchange {
    std::string host;
    int32_t port = NtsKePort;
    SockAddrIn address;
    ExchangeOutcome resolveFailure = ExchangeOutcome::NotRun; // NoHost, InvalidPort, HostNotFound
    bool resolved = false;
    TcpConnectFacts connect;
    bool connected = false;
    TlsSessionFacts tls;
    std::vector<std::string> caFiles;
    bool requestSent = false;
    std::vector<NtsKeRecord> records;
    bool endOfMessage = false;
    std::string readFailure; // why the records ended early ("" when the server closed)
    NtsKeResponse response;
    bool aeadSupported = false; // this build can do the algorithm chosen
    NtsKeys keys;
    bool keysExported = false;
    // Microseconds of the TCP connection, the TLS handshake and the whole.
    int64_t connectMicros = 0;
    int64_t handshakeMicros = 0;
    int64_t totalMicros = 0;
};

struct NtsTimeExchange {
    bool run = false;
    NtpExchange exchange;
    NtsAnswer answer;                          // of the answer taken
    NtsAnswerKind rejectedKind = NtsAnswerKind::Malformed; // of the last datagram put aside
    bool Authenticated() const { return exchange.Answered() && answer.kind == NtsAnswerKind::Authenticated; }
    bool Nak() const { return exchange.Answered() && answer.kind == NtsAnswerKind::Nak; }
};

struct NtsCheck {
    NtsKeyExchange keyExchange;
    std::string ntpHost; // where the NTP exchanges go
    int32_t ntpPort = NtpPort;
    bool ntpResolved = false;
    NtsTimeExchange first;
    NtsTimeExchange second;
    bool plainRun = false;
    NtpExchange plain;
};

class CNtsChecker {
public:
    CNtsChecker(CExchangeEngine& engine, ITlsConnector& tls, ICrypto& crypto)
        : m_engine(engine), m_tls(tls), m_crypto(crypto)
    {
    }
    // The NTP exchanges go out from this socket (bound to port 123, say);
    // without one, each has a port of its own.
    void UseSocket(SocketHandle socket) { m_socket = socket; }

    // The key exchange with the server that `where` names (as Resolve
    // filled it, with the key-exchange port as default).
    NtsKeyExchange KeyExchange(const NtpExchange& where, const std::vector<std::string>& caFiles);
    // The NTP part, with the cookies and keys of `check.keyExchange`.
    void TimeExchanges(NtsCheck& check);
    NtsCheck Check(const std::string& serverText, const std::vector<std::string>& caFiles);

private:
    void ReadRecords(ITlsChannel& channel, NtsKeyExchange& ke);
    void ExportKeys(ITlsChannel& channel, NtsKeyExchange& ke);
    NtsTimeExchange AuthenticatedExchange(const SockAddrIn& server, const std::vector<uint8_t>& cookie,
                                          const NtsKeys& keys);
    NtpExchange Exchange(const SockAddrIn& server, const ExchangeOptions& options);

    CExchangeEngine& m_engine;
    ITlsConnector& m_tls;
    ICrypto& m_crypto;
    SocketHandle m_socket = InvalidSocket;
};

// The keys the check could use: the server chose NTPv4 and an AEAD
// algorithm this build has, gave cookies, and the keys were exported.
bool NtsKeyExchangeUsable(const NtsKeyExchange& ke);

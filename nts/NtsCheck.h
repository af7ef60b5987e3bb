#pragma once
// The NTS check of a secured time server as a value: the key exchange over
// TLS with every fact an operator needs, and only when it is to be trusted
// two authenticated NTP exchanges (the second with a cookie the first one
// returned) and a plain NTP query when the authenticated answer is missing.
#include "nts/NtsKeRecords.h"
#include "nts/NtsPacket.h"
#include "platform/Crypto.h"
#include "platform/Tls.h"
#include "query/Exchange.h"

#include <string>
#include <vector>

// A key-exchange server's records, parsed as they come, each byte once, up
// to the first End of Message, the end of the stream or `maxBytes` read.
struct NtsKeRecordStream {
    std::vector<NtsKeRecord> records;
    bool endOfMessage = false;
    std::string readFailure; // why the records ended early ("" when the server closed)
    size_t bytes = 0;        // of the stream read
};
NtsKeRecordStream ReadNtsKeRecordStream(ITlsChannel& channel, size_t maxBytes);

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
    size_t recordBytes = 0;  // of the record stream read
    // The key exchange's time ran out: in the handshake when TLS was not
    // established, else while the records came.
    bool timedOut = false;
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
    bool cookieTooLong = false; // nothing sent: the cookie is over NtsMaxCookieBytes
    NtpExchange exchange;
    NtsAnswer answer;                          // of the answer taken
    NtsAnswerKind rejectedKind = NtsAnswerKind::Malformed; // of the last datagram put aside
    bool Authenticated() const { return exchange.Answered() && answer.kind == NtsAnswerKind::Authenticated; }
    bool Nak() const { return exchange.Answered() && answer.kind == NtsAnswerKind::Nak; }
};

// Where the NTP exchanges of a key exchange go: the server its records
// name, else the key exchange's own host; the port they name, else NTP's.
struct NtsNtpServer {
    std::string host;
    int32_t port = NtpPort;
    bool namedByServer = false; // the host came from the records
};
NtsNtpServer NtsNtpServerOf(const NtsKeyExchange& ke);

struct NtsCheck {
    NtsKeyExchange keyExchange;
    NtsNtpServer ntp; // set when the key exchange is trusted
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
    // filled it, with the key-exchange port as default), within
    // NtsKeyExchangeSeconds whatever the server does.
    NtsKeyExchange KeyExchange(const NtpExchange& where, const std::vector<std::string>& caFiles);
    // The NTP part, with the cookies and keys of `check.keyExchange`; nothing
    // is sent unless the key exchange is trusted.
    void TimeExchanges(NtsCheck& check);
    NtsCheck Check(const std::string& serverText, const std::vector<std::string>& caFiles);

    // The address of a trusted key exchange's NTP server; false when it is
    // not found, or a host the server named is not a strict host.
    bool ResolveNtpServer(const NtsNtpServer& ntp, SockAddrIn& address);
    // One authenticated NTP exchange with `server`, spending `cookie` with
    // the keys of a trusted key exchange: the answer, the new cookies it
    // carried, or a NAK. A cookie over NtsMaxCookieBytes is not sent.
    NtsTimeExchange TimeExchange(const SockAddrIn& server, const std::vector<uint8_t>& cookie, const NtsKeys& keys);

private:
    void Handshake(ITlsChannel& channel, int64_t start, NtsKeyExchange& ke);
    void ExportKeys(ITlsChannel& channel, NtsKeyExchange& ke);
    NtpExchange Exchange(const SockAddrIn& server, const ExchangeOptions& options);

    CExchangeEngine& m_engine;
    ITlsConnector& m_tls;
    ICrypto& m_crypto;
    SocketHandle m_socket = InvalidSocket;
};

// Whether NTP exchanges may follow the key exchange: its certificate
// verified, ntske/1 agreed, End of Message seen, no Error record, sound
// records, cookies each at most NtsMaxCookieBytes, the keys exported.
bool NtsKeyExchangeTrusted(const NtsKeyExchange& ke);

// The most a key exchange may take, connection and TLS included.
constexpr int NtsKeyExchangeSeconds = 10;

#pragma once
// What a secured time server's key exchange needs from TCP and TLS: a
// connection that tells a refusing port from a silent one, a TLS 1.3
// handshake with ALPN and SNI, the facts of the server's certificate and of
// its verification, the session's key exporter, and the record stream.
#include "platform/Net.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class TcpConnectOutcome {
    Connected,
    Refused,  // the host answered that nothing listens on the port
    TimedOut, // no answer at all: a firewall drops the connection attempt
    Failed,   // any other error (`error`, `errorText`)
};

struct TcpConnectFacts {
    TcpConnectOutcome outcome = TcpConnectOutcome::Failed;
    int error = 0; // the Windows Sockets number
    std::string errorText;
};

struct TlsCertificateFacts {
    std::string subject;
    std::string issuer;
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses; // as text
    bool nameMatches = false;             // one of them is the server text's host
    int64_t notBefore = 0;                // seconds since 1970, UTC
    int64_t notAfter = 0;
    // The chain's verification against the trusted authorities, at the
    // system's current time; the name is judged by `nameMatches` alone.
    bool verified = false;
    bool untrusted = false; // no trusted authority signed it
    bool expired = false;
    bool notYetValid = false;
    // Its Extended Key Usage does not allow TLS server authentication.
    bool wrongPurpose = false;
    std::vector<std::string> purposes; // its Extended Key Usage, in words; empty when it has none
    std::string verification; // the library's words for the result
};

struct TlsOptions {
    std::string serverName;              // for SNI (when not an address) and the name check
    std::string alpn;                    // the one protocol offered; "" offers none
    std::vector<std::string> caFiles;    // PEM files trusted besides the system's store
    // The session's whole time from the handshake's start: the handshake and
    // every read after it end by then, however slowly a server sends.
    int timeoutMilliseconds = 5000;
    bool onlyTls12 = false;              // offer TLS 1.2 alone instead of TLS 1.3 alone
};

struct TlsSessionFacts {
    bool established = false;
    std::string failure;    // why the handshake failed, in the library's words
    std::string alert;      // the TLS alert the server sent, when one ended it
    std::string caProblem;  // a CA file that could not be read, and why
    std::string version;    // "TLS1.3"
    std::string cipherSuite;
    std::string alpn;       // the protocol the server agreed to, "" for none
    bool hasCertificate = false;
    TlsCertificateFacts certificate;
};

// One TCP connection, then its TLS session.
class ITlsChannel {
public:
    virtual ~ITlsChannel() = default;
    virtual bool Handshake(const TlsOptions& options, TlsSessionFacts& facts) = 0;
    virtual bool Write(const std::vector<uint8_t>& bytes) = 0;
    // Up to `capacity` bytes of the record stream: the count, 0 when the
    // server has closed it, -1 on a failure or time-out (`ReadFailure`).
    virtual int Read(uint8_t* buffer, int capacity) = 0;
    virtual std::string ReadFailure() = 0;
    // Whether the handshake or a read failed because the session's time ran out.
    virtual bool TimedOut() = 0;
    // Keying material of the session (RFC 5705); empty when not available.
    virtual std::vector<uint8_t> ExportKey(const std::string& label, const std::vector<uint8_t>& context,
                                           size_t length) = 0;
};

class ITlsConnector {
public:
    virtual ~ITlsConnector() = default;
    // A TCP connection to `server`, or null with the reason in `facts`.
    virtual std::unique_ptr<ITlsChannel> Connect(const SockAddrIn& server, int timeoutMilliseconds,
                                                 TcpConnectFacts& facts) = 0;
};

// The real one, over POSIX sockets and GnuTLS.
ITlsConnector& SystemTls();

#pragma once
// One NTP exchange as a value, and the engine that carries it out: every
// front end (the dialog's query and monitor, the terminal, the survey, the
// exporter, the NTS query) renders what the engine returns.
#include "ntp/NtpMsg.h"
#include "platform/Clock.h"
#include "platform/Net.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ServerText;

enum class ExchangeOutcome {
    NotRun,        // nothing tried yet
    LibraryFailed, // the socket library did not start
    SocketFailed,  // no socket could be created (`error`)
    NoHost,        // the server text is empty
    InvalidPort,   // its port is below 1
    HostNotFound,  // the host is neither an address nor a name that resolves
    SendFailed,    // `error`
    TimedOut,      // nothing from the server before the deadline
    WaitFailed,    // the wait itself failed (`error`)
    ClosedPort,    // the server's host reported the port unreachable (10054)
    ReceiveFailed, // any other read error (`error`)
    WrongSize,     // an answer of `receivedBytes`, not `expectedBytes`
    Answered,      // an answer of the expected size, decoded into `reply`
};

struct NtpExchange;

// Where a local time of an exchange was read: stamped by the kernel as the
// datagram passed, or by the tool itself around the socket call.
enum class TimeSource { User, Kernel };
// Basic: the answer's transmit time is its own. Interleaved (RFC 9769): it is
// the precise transmit time of the server's previous answer.
enum class ExchangeMode { Basic, Interleaved };

// The four times an offset and a round trip come from, and where the two
// local ones were read.
struct ExchangeTimes {
    NtpTimestamp t1, t2, t3, t4;
    TimeSource t1Source = TimeSource::User;
    TimeSource t4Source = TimeSource::User;
};

struct ExchangeOptions {
    bool authenticator = false; // the 68-byte request, and a 52-byte answer expected
    bool zeroTransmit = false;  // the SNTP variant: no Transmit Timestamp in the request
    uint8_t version = NtpClientVersion; // of the request Query builds
    int timeoutSeconds = 2;
    // Called with the encoded request once it carries its transmit time, to
    // append what follows the header (NTS extension fields).
    std::function<void(std::vector<uint8_t>& datagram)> seal;
    // 0: the answer must be exactly 48 bytes (52 with the authenticator);
    // otherwise anything from 48 up to this many bytes is read.
    int maxAnswerBytes = 0;
    // When set, a datagram from the server that this rejects (given the
    // exchange as sent) is put aside (`rejected`) and the wait goes on, as
    // for a stranger's datagram.
    std::function<bool(const NtpExchange& sent, const std::vector<uint8_t>& answer)> accept;
    // The socket carries many exchanges at once (ReceiveAny): Send must not
    // drop what is queued on it, the answers to the others, and takes the
    // kernel's stamp of its own datagram before the next send replaces it.
    bool sharedSocket = false;
};

struct NtpExchange {
    ExchangeOutcome outcome = ExchangeOutcome::NotRun;
    int error = 0; // the Windows Sockets number of a socket failure
    // Whom: the host and port of the server text, and the address used.
    std::string host;
    int32_t port = NtpPort;
    SockAddrIn server;
    // The request as sent, its Transmit Timestamp as on the wire (T1), and
    // the precise local UTC time of the send.
    std::vector<uint8_t> request;
    NtpTimestamp requestTransmit;
    NtpTimestamp sentAt;
    TimeSource sentSource = TimeSource::User;
    // The random Receive Timestamp of a request in interleaved form (one
    // whose Originate Timestamp names an earlier answer), which an
    // interleaved answer echoes; zero in basic form.
    NtpTimestamp requestReceive;
    // The answer as read, its size (or -1 after a read error), the size
    // asked for, and the precise local UTC time of its arrival (T4).
    std::vector<uint8_t> answer;
    int receivedBytes = 0;
    int expectedBytes = NtpHeaderSize;
    NtpTimestamp arrivedAt;
    TimeSource arrivalSource = TimeSource::User;
    CNtpMsg reply{NtpTimestamp{}}; // decoded when answered
    // Interleaved: the figures are those of the exchange before, whose times
    // are kept here, completed by this answer's transmit time.
    ExchangeMode mode = ExchangeMode::Basic;
    ExchangeTimes previous;
    // The last datagram from the server that `accept` turned down.
    std::vector<uint8_t> rejected;

    bool Answered() const { return outcome == ExchangeOutcome::Answered; }
    // Whether a datagram was read (and `receivedBytes` is its size).
    bool ReadADatagram() const;
};

// Whether the answer's Originate Timestamp is the request's Transmit
// Timestamp (or, in interleaved form, its Receive Timestamp): only then is it
// the answer to this request and not some other.
bool EchoesTheRequest(const NtpExchange& sent, const std::vector<uint8_t>& answer);
bool AnswersTheRequest(const NtpExchange& exchange);

// T1 to T4: the precise send and arrival times and the answer's receive and
// transmit times; in interleaved mode the previous exchange's with this
// answer's transmit time.
ExchangeTimes MeasuredTimes(const NtpExchange& exchange);
// ((T2 - T1) + (T3 - T4)) / 2 and (T4 - T1) - (T3 - T2), in seconds.
double ClockOffsetSeconds(const NtpExchange& exchange);
double RoundTripSeconds(const NtpExchange& exchange);
// How far a clock set from this answer may be from the server's reference:
// delay/2 + root delay/2 + root dispersion, a delay below zero (a server
// claiming to have held the request longer than the round trip took)
// counting as none so that it cannot shrink the distance.
double RootDistanceSeconds(const NtpExchange& exchange);

// The line the operator reads for a failed exchange, as the window logs it
// (or, for the server text, shows it in a message box); "" when it did not fail.
std::string ExchangeFailureText(const NtpExchange& exchange);
// The line logged when a local port cannot be bound.
std::string BindFailureText(int port, int error);
// "Offset %+.3f ms, round trip %.3f ms" for an answer the clock could be set
// from; "" for any other outcome, whose numbers would mean nothing.
std::string MeasurementText(const NtpExchange& exchange);
// Whether the exchange brought an answer to this request from a server
// whose time can be trusted: the rules the clock is set by.
bool IsTrustedAnswer(const NtpExchange& exchange);
// Why an answer is not to be trusted, "" when it is: not the answer to this
// request, a server without time, or times that contradict each other.
std::string UntrustedReason(const NtpExchange& exchange);
// "kernel" or "user"; "basic" or "interleaved".
const char* TimeSourceName(TimeSource source);
const char* ExchangeModeName(ExchangeMode mode);

class CExchangeEngine {
public:
    CExchangeEngine(ISocketLayer& sockets, IClock& clock) : m_sockets(sockets), m_clock(clock) {}

    // The server text into host, port and address; false with the outcome
    // NoHost, InvalidPort or HostNotFound. An IPv6 literal is never handed to
    // the resolver. A text without a port names `defaultPort`.
    bool Resolve(const std::string& serverText, NtpExchange& exchange, int32_t defaultPort = NtpPort);
    // Every address of the server text's host, IPv4 and IPv6, each with the
    // text's port; an address typed as such is the only one. false as for
    // Resolve, and `addresses` is then empty.
    bool ResolveEvery(const std::string& serverText, NtpExchange& exchange, std::vector<SockAddrIn>& addresses);

    // Starts the socket library and creates a socket, unbound; InvalidSocket
    // with the outcome LibraryFailed or SocketFailed.
    SocketHandle OpenSocket(NtpExchange& exchange);
    // Closes an open socket and releases the library once; the handle
    // becomes InvalidSocket.
    void CloseSocket(SocketHandle& socket);
    // Binds the socket to a local port of every address; 0, or the error.
    int Bind(SocketHandle socket, uint16_t port);

    // A client request stamped with the current UTC time to the millisecond
    // (or with none, for the SNTP variant).
    CNtpMsg NewRequest(bool zeroTransmit);

    // Sends `request` to `server`, starting a new exchange in `exchange`
    // (whom it names is kept). The bytes below the millisecond of the
    // transmit time are random, so that only the server that got the request
    // can echo it back. Where the network of `server` cannot be reached, the
    // host's next address in the resolver's order is tried, and becomes the
    // exchange's server. The byte count, or -1 with the outcome SendFailed.
    int Send(SocketHandle socket, const SockAddrIn& server, const CNtpMsg& request,
             const ExchangeOptions& options, NtpExchange& exchange);
    // Waits up to the options' time-out for the server's answer to what Send
    // sent; datagrams from anyone else are dropped while the wait goes on.
    bool Receive(SocketHandle socket, const ExchangeOptions& options, NtpExchange& exchange);
    // For a socket that many exchanges share, each sent with `sharedSocket`:
    // waits up to `waitMicroseconds` for one datagram and settles the
    // exchange `inFlight` names for its sender (null: a stranger's, dropped;
    // a failure without a sender, an ICMP report, comes with family 0). The
    // exchange settled, or null: nothing came, a stranger's, or an answer
    // `accept` put aside while the exchange waits on. Time-outs are the caller's.
    NtpExchange* ReceiveAny(SocketHandle socket, const ExchangeOptions& options, int64_t waitMicroseconds,
                            const std::function<NtpExchange*(const SockAddrIn& from)>& inFlight);

    // A whole exchange from a port of its own: resolve, open, send, receive, close.
    NtpExchange Query(const std::string& serverText, const ExchangeOptions& options);
    // The same for an address already known.
    NtpExchange Query(const SockAddrIn& server, const ExchangeOptions& options);

    IClock& Clock() { return m_clock; }
    // For datagrams that are not NTP time exchanges (mode 6 and 7 probes).
    ISocketLayer& Sockets() { return m_sockets; }

private:
    // Host and port of the parsed text into `exchange`; false with NoHost or InvalidPort.
    static bool TakeServerText(const ServerText& parsed, NtpExchange& exchange);
    bool FindAddress(const std::string& host, bool ipv6Literal, SockAddrIn& server);
    // The datagram to the exchange's host at an address other than its
    // server's; the byte count, or -1 when none could be sent to.
    int SendElsewhere(SocketHandle socket, const std::vector<uint8_t>& datagram, NtpExchange& exchange);
    // The exchange from its server on a port of its own.
    NtpExchange Run(NtpExchange exchange, const ExchangeOptions& options);
    void Finish(const std::vector<uint8_t>& buffer, int got, int error, const ExchangeOptions& options,
                NtpExchange& exchange);
    // The kernel's times of the request leaving and the datagram read
    // arriving, where it stamped them, in place of the readings around the calls.
    void TakeKernelTimes(SocketHandle socket, const ExchangeOptions& options, NtpExchange& exchange);
    void TakeKernelTime(bool (ISocketLayer::*stamp)(SocketHandle, WallTime&), SocketHandle socket,
                        NtpTimestamp& time, TimeSource& source);

    ISocketLayer& m_sockets;
    IClock& m_clock;
};

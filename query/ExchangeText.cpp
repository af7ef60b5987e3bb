#include "ntp/Format.h"
#include "query/ClockSetting.h"
#include "query/Exchange.h"

#include <algorithm>
#include <cmath>

namespace {
// The text that follows the number in a "*receive error no." line: the
// meaning of a Windows Sockets error code, or "" for codes outside the table.
const char* ReceiveErrorText(int code)
{
    switch (code) {
    case WsaError::Access: return "(Permission denied)";
    case WsaError::MessageSize: return "(Message too long)";
    case WsaError::AddressInUse: return "(Address already in use)";
    case WsaError::NetDown: return "(Network is down)";
    case WsaError::NetUnreachable: return "(Network is unreachable)";
    case WsaError::ConnectionReset: return "(Connection reset by peer)";
    case WsaError::ConnectionRefused: return "(Connection refused)";
    default: return "";
    }
}
} // namespace

std::string ExchangeFailureText(const NtpExchange& e)
{
    switch (e.outcome) {
    case ExchangeOutcome::LibraryFailed: return "--Error at socket-initialisation.";
    case ExchangeOutcome::SocketFailed: return Format("--Error at socket creation: %ld", static_cast<long>(e.error));
    case ExchangeOutcome::NoHost: return "No host given.";
    case ExchangeOutcome::InvalidPort: return "Invalid Port.";
    case ExchangeOutcome::HostNotFound: return Format("--Could not find host %s.", e.host.c_str());
    case ExchangeOutcome::SendFailed: return "Socket Error while sending.";
    case ExchangeOutcome::TimedOut: return "--No answer from Server. timed out.";
    case ExchangeOutcome::WaitFailed: return "--Socket Error.";
    case ExchangeOutcome::ClosedPort:
    case ExchangeOutcome::ReceiveFailed:
        return Format("*receive error no. %i %s", e.error, ReceiveErrorText(e.error));
    case ExchangeOutcome::WrongSize:
        return Format("--Received %i bytes, need exactly %i.", e.receivedBytes, e.expectedBytes);
    case ExchangeOutcome::NotRun:
    case ExchangeOutcome::Answered: break;
    }
    return "";
}

std::string BindFailureText(int port, int error)
{
    if (error == WsaError::AddressInUse)
        return Format("--Port %i is already in use.", port);
    return Format("--Could not bind to port %i. (%i)", port, error);
}

namespace {
// What the tool's own readings add to the server's precision: the kernel's
// and the clock's resolution are finer, a microsecond covers both.
constexpr double LocalPrecisionSeconds = 1e-6;
// A precision claimed coarser than a second is taken as a second: a server
// cannot make any time consistent by claiming to resolve nothing.
constexpr int CoarsestPrecision = 0;

std::string HeaderReason(const NtpExchange& e)
{
    const bool interleaved = e.mode == ExchangeMode::Interleaved;
    return UnsoundAnswerReason(e.reply, interleaved ? e.requestReceive : e.requestTransmit);
}

// A server that claims to have held the request longer than the whole round
// trip took, beyond what the two sides' clocks resolve.
std::string InconsistentTimesReason(const NtpExchange& e)
{
    const ExchangeTimes t = MeasuredTimes(e);
    const double held = NtpSecondsBetween(t.t3, t.t2);
    const double roundTrip = NtpSecondsBetween(t.t4, t.t1);
    const double precision = std::ldexp(1.0, std::min<int>(e.reply.m_precision, CoarsestPrecision));
    if (held - roundTrip <= precision + LocalPrecisionSeconds)
        return "";
    return "inconsistent timestamps: the server held the request longer than the whole round trip took";
}

// Says which local times were not the kernel's.
const char* TimestampNote(const ExchangeTimes& t)
{
    const bool userT1 = t.t1Source == TimeSource::User;
    const bool userT4 = t.t4Source == TimeSource::User;
    if (userT1 && userT4)
        return " (user-space timestamps)";
    if (userT1)
        return " (user-space T1)";
    return userT4 ? " (user-space T4)" : "";
}
} // namespace

std::string UntrustedReason(const NtpExchange& e)
{
    if (!e.Answered())
        return "no answer";
    const std::string reason = HeaderReason(e);
    return reason.empty() ? InconsistentTimesReason(e) : reason;
}

bool IsTrustedAnswer(const NtpExchange& e) { return e.Answered() && UntrustedReason(e).empty(); }

std::string MeasurementText(const NtpExchange& e)
{
    if (!e.Answered() || !HeaderReason(e).empty())
        return "";
    std::string inconsistent = InconsistentTimesReason(e);
    if (!inconsistent.empty()) {
        inconsistent[0] = 'I';
        return inconsistent;
    }
    return Format("Offset %+.3f ms, round trip %.3f ms%s", ClockOffsetSeconds(e) * 1000, RoundTripSeconds(e) * 1000,
                  TimestampNote(MeasuredTimes(e)));
}

const char* TimeSourceName(TimeSource source) { return source == TimeSource::Kernel ? "kernel" : "user"; }

const char* ExchangeModeName(ExchangeMode mode) { return mode == ExchangeMode::Interleaved ? "interleaved" : "basic"; }

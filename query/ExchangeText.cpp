#include "ntp/Format.h"
#include "query/ClockSetting.h"
#include "query/Exchange.h"

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

bool IsTrustedAnswer(const NtpExchange& e)
{
    return e.Answered() && UnsoundAnswerReason(e.reply, e.requestTransmit).empty();
}

std::string MeasurementText(const NtpExchange& e)
{
    if (!IsTrustedAnswer(e))
        return "";
    return Format("Offset %+.3f ms, round trip %.3f ms", ClockOffsetSeconds(e) * 1000, RoundTripSeconds(e) * 1000);
}

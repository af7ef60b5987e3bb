#include "ntp/Format.h"
#include "query/ReceiveErrorText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr int ReplySize = 48;
constexpr int AuthReplySize = 52;
constexpr int ReceiveBufferSize = 52;
constexpr int NtpPort = 123;

using SteadyClock = std::chrono::steady_clock;

enum class ReadOutcome { Read, TimedOut, WaitFailed };

struct Datagram {
    int result = -1; // byte count, or -1
    int error = 0;   // the layer's error code when result is -1
};

// A datagram read from a sender that is not the server: a stray packet or a
// spoofed answer. A failure without a sender (an ICMP report) is the server's.
bool IsFromElsewhere(const SockAddrIn& from, const SockAddrIn& server)
{
    return from.family != 0 && !from.SameEndpoint(server);
}

// Waits until `deadline` for one datagram from `server` and reads it.
// Datagrams from any other sender are read and dropped while the wait goes
// on for the time that is left.
ReadOutcome ReadFromServer(ISocketLayer& sockets, SocketHandle socket, const SockAddrIn& server,
                           SteadyClock::time_point deadline, uint8_t* buffer, int capacity,
                           Datagram& datagram)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - SteadyClock::now());
        const int ready = sockets.WaitReadable(socket, std::max<int64_t>(left.count(), 0));
        if (ready == 0)
            return ReadOutcome::TimedOut;
        if (ready < 0)
            return ReadOutcome::WaitFailed;
        SockAddrIn from;
        datagram.result = sockets.RecvFrom(socket, buffer, capacity, &from);
        datagram.error = datagram.result < 0 ? sockets.LastError() : 0;
        // Readiness that vanished before the read means nothing arrived after all.
        const bool vanished = datagram.result < 0 && datagram.error == WsaError::WouldBlock;
        if (!IsFromElsewhere(from, server) && !vanished)
            return ReadOutcome::Read;
        // A stream of strays must not stretch the wait past its end.
        if (SteadyClock::now() >= deadline)
            return ReadOutcome::TimedOut;
    }
}
} // namespace

bool CTikkaraDlg::IsPort123Mode() { return m_window.IsChecked(IDC_PORT123); }

bool CTikkaraDlg::OpenSocket()
{
    if (!m_sockets.Startup()) {
        AppendLog("--Error at socket-initialisation.");
        return false;
    }
    m_socket = m_sockets.CreateUdpSocket();
    if (m_socket == InvalidSocket) {
        const long error = m_sockets.LastError();
        AppendLog(Format("--Error at socket creation: %ld", error));
        m_sockets.Cleanup();
        return false;
    }
    return true;
}

// Each successful OpenSocket is released once, however many ways out call this.
void CTikkaraDlg::CloseSocket()
{
    if (m_socket == InvalidSocket)
        return;
    m_sockets.Close(m_socket);
    m_socket = InvalidSocket;
    m_sockets.Cleanup();
}

bool CTikkaraDlg::BindLocalPort(int port)
{
    const uint16_t localPort = static_cast<uint16_t>(port & 0xFFFF);
    if (localPort == 0)
        return true;
    if (m_sockets.Bind(m_socket, localPort) == 0)
        return true;
    const int error = m_sockets.LastError();
    OnClearLog();
    if (error == WsaError::AddressInUse)
        AppendLog(Format("--Port %i is already in use.", port));
    else
        AppendLog(Format("--Could not bind to port %i. (%i)", port, error));
    m_window.SetChecked(IDC_PORT123, false);
    return false;
}

void CTikkaraDlg::OnSendFromPort123()
{
    if (!IsPort123Mode()) {
        CloseSocket();
        return;
    }
    OpenSocket(); // a failure shows as the bind's failure below
    if (BindLocalPort(NtpPort))
        return;
    m_window.MessageBox("Cannot use port 123 (NTP).\nSee log for details.", MessageIcon::Error);
    CloseSocket();
    m_window.SetChecked(IDC_PORT123, false);
}

int CTikkaraDlg::SendRequest(const CNtpMsg& request)
{
    const bool auth = m_window.IsChecked(IDC_AUTH);
    uint8_t buffer[NtpAuthRequestSize];
    request.Encode(buffer, auth);
    // An answer that arrived after an earlier wait gave up must not pass for
    // the answer to this request.
    m_sockets.DiscardPending(m_socket);
    // As it goes out, with the noise the encoder puts into its last byte.
    m_requestTransmit = CNtpMsg(buffer).m_transmit;
    return m_sockets.SendTo(m_socket, buffer, auth ? NtpAuthRequestSize : NtpHeaderSize, m_serverAddress);
}

bool CTikkaraDlg::ReceiveReply(CNtpMsg& reply, int timeoutSeconds, bool logErrors)
{
    const int expected = m_window.IsChecked(IDC_AUTH) ? AuthReplySize : ReplySize;
    const auto deadline = SteadyClock::now() + std::chrono::seconds(std::max(timeoutSeconds, 0));
    uint8_t buffer[ReceiveBufferSize];
    Datagram datagram;
    const ReadOutcome outcome = ReadFromServer(m_sockets, m_socket, m_serverAddress, deadline, buffer, expected, datagram);
    if (outcome != ReadOutcome::Read) {
        if (logErrors)
            AppendLog(outcome == ReadOutcome::TimedOut ? "--No answer from Server. timed out." : "--Socket Error.");
        if (!IsPort123Mode())
            CloseSocket();
        return false;
    }

    m_receivedBytes = datagram.result;
    if (datagram.result < 0) {
        if (logErrors)
            AppendLog(Format("*receive error no. %i %s", datagram.error, ReceiveErrorText(datagram.error)));
        return false;
    }
    if (datagram.result != expected) {
        if (logErrors)
            AppendLog(Format("--Received %i bytes, need exactly %i.", datagram.result, expected));
        return false;
    }

    reply = CNtpMsg(buffer);
    if (m_window.IsChecked(IDC_SET_TIME))
        SetClockFromReply(reply, m_requestTransmit, logErrors);
    return true;
}

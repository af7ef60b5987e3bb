#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

bool CTikkaraDlg::IsPort123Mode() { return m_window.IsChecked(IDC_PORT123); }

ExchangeOptions CTikkaraDlg::CurrentOptions(int timeoutSeconds)
{
    ExchangeOptions options;
    options.authenticator = m_window.IsChecked(IDC_AUTH);
    options.timeoutSeconds = timeoutSeconds;
    return options;
}

bool CTikkaraDlg::OpenSocket()
{
    m_socket = m_engine.OpenSocket(m_exchange);
    if (m_socket != InvalidSocket)
        return true;
    AppendLog(ExchangeFailureText(m_exchange));
    return false;
}

void CTikkaraDlg::CloseSocket() { m_engine.CloseSocket(m_socket); }

bool CTikkaraDlg::BindLocalPort(int port)
{
    const uint16_t localPort = static_cast<uint16_t>(port & 0xFFFF);
    if (localPort == 0)
        return true;
    m_bindError = m_engine.Bind(m_socket, localPort);
    if (m_bindError == 0)
        return true;
    m_window.SetText(IDC_LOG, ""); // not "&Clear Log": a run's chart stays
    AppendLog(BindFailureText(port, m_bindError));
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
    const int sent = m_engine.Send(m_socket, m_serverAddress, request, CurrentOptions(0), m_exchange);
    if (sent >= 0)
        m_serverAddress = m_exchange.server; // another address of the name, where the first was unreachable
    return sent;
}

bool CTikkaraDlg::ReceiveReply(CNtpMsg& reply, int timeoutSeconds, bool logErrors)
{
    const bool answered = m_engine.Receive(m_socket, CurrentOptions(timeoutSeconds), m_exchange);
    if (m_exchange.ReadADatagram())
        m_receivedBytes = m_exchange.receivedBytes;
    if (!answered) {
        if (logErrors)
            AppendLog(ExchangeFailureText(m_exchange));
        // Only a wait that ended without a datagram gives the socket up.
        if (!m_exchange.ReadADatagram() && !IsPort123Mode())
            CloseSocket();
        return false;
    }
    reply = m_exchange.reply;
    if (m_window.IsChecked(IDC_SET_TIME) && !m_clockRefusedThisRun)
        SetClockFromReply(m_exchange, logErrors);
    return true;
}

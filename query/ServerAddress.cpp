#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

// Turns the server text (the server box's when `text` is empty) into
// m_serverAddress. m_host and m_port keep what the text gave them even when
// a later step fails; m_serverAddress changes only on success.
bool CTikkaraDlg::SetServer(const std::string& text, int32_t defaultPort)
{
    const bool found = m_engine.Resolve(text.empty() ? m_window.GetText(IDC_SERVER) : text, m_exchange, defaultPort);
    m_host = m_exchange.host;
    if (m_exchange.outcome != ExchangeOutcome::NoHost)
        m_port = m_exchange.port;
    if (found) {
        m_serverAddress = m_exchange.server;
        return true;
    }
    if (m_exchange.outcome == ExchangeOutcome::HostNotFound)
        AppendLog(ExchangeFailureText(m_exchange));
    else
        m_window.MessageBox(ExchangeFailureText(m_exchange), MessageIcon::None);
    return false;
}

#include "ntp/Format.h"
#include "query/ServerText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <bit>

namespace {
// htons without a platform header.
uint16_t ToNetworkOrder(uint16_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<uint16_t>((value >> 8) | (value << 8));
    return value;
}
} // namespace

// Turns the server text (the server box's when `text` is empty) into
// m_serverAddress. m_host and m_port keep what the text gave them even when
// a later step fails; m_serverAddress changes only on success.
bool CTikkaraDlg::SetServer(const std::string& text)
{
    const ServerText parsed = ParseServerText(text.empty() ? m_window.GetText(IDC_SERVER) : text);
    m_host = parsed.host;
    if (parsed.status == ServerTextStatus::NoHost) {
        m_window.MessageBox("No host given.", MessageIcon::None);
        return false;
    }
    m_port = parsed.port;
    if (parsed.status == ServerTextStatus::InvalidPort) {
        m_window.MessageBox("Invalid Port.", MessageIcon::None);
        return false;
    }

    SockAddrIn server;
    if (!FindServer(parsed.ipv6Literal, server)) {
        AppendLog(Format("--Could not find host %s.", m_host.c_str()));
        return false;
    }
    server.port = ToNetworkOrder(static_cast<uint16_t>(m_port & 0xFFFF)); // only the low 16 bits count
    m_serverAddress = server;
    return true;
}

// An IPv6 literal is never handed to the resolver: a typing error in an
// address must not become a name server query.
bool CTikkaraDlg::FindServer(bool ipv6Literal, SockAddrIn& server)
{
    if (ipv6Literal)
        return m_sockets.ParseIPv6(m_host, server);
    server.address = m_sockets.InetAddr(m_host);
    if (server.address != InaddrNone) {
        server.family = AddressFamilyIPv4;
        return true;
    }
    return m_sockets.Resolve(m_host, server);
}

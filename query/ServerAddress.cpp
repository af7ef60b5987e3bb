#include "ntp/Format.h"
#include "query/ServerText.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <bit>

namespace {
constexpr uint16_t AddressFamilyIPv4 = 2;

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

    uint32_t address = m_sockets.InetAddr(m_host);
    if (address == InaddrNone && !m_sockets.ResolveIPv4(m_host, address)) {
        AppendLog(Format("--Could not find host %s.", m_host.c_str()));
        // The counterpart of OpenSocket's start-up. The layer keeps no count
        // that could drop to zero here and take a port-123 socket with it.
        m_sockets.Cleanup();
        return false;
    }

    SockAddrIn server;
    server.family = AddressFamilyIPv4;
    server.port = ToNetworkOrder(static_cast<uint16_t>(m_port & 0xFFFF)); // only the low 16 bits count
    server.address = address;
    m_serverAddress = server;
    return true;
}

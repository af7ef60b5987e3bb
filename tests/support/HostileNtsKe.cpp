#include "support/HostileNtsKe.h"

#include "nts/NtsKeRecords.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int IoTimeoutMs = 5000;
const char* const EscapeSequences = "\x1b]0;TITLE\x07\x1b[41;97m";

std::vector<uint8_t> Word(uint16_t value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

ssize_t SendWithoutSignal(gnutls_transport_ptr_t fd, const void* data, size_t size)
{
    return ::send(static_cast<int>(reinterpret_cast<intptr_t>(fd)), data, size, MSG_NOSIGNAL);
}

// Whether the client spoke or hung up within `ms`: either ends a trickle.
bool ClientStirs(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) != 0;
}

void SendAll(gnutls_session_t session, const std::vector<uint8_t>& bytes)
{
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = gnutls_record_send(session, bytes.data() + sent, bytes.size() - sent);
        if (n < 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

// All at once and the connection closed, or one byte a second until the
// client gives up.
void SendRecords(gnutls_session_t session, int fd, const std::vector<uint8_t>& records, bool trickle,
                 const std::atomic<bool>& stop)
{
    if (!trickle) {
        SendAll(session, records);
        gnutls_bye(session, GNUTLS_SHUT_WR);
        return;
    }
    for (size_t i = 0; i < records.size() && !stop; ++i)
        if (gnutls_record_send(session, &records[i], 1) < 0 || ClientStirs(fd, 1000))
            return;
}

std::vector<uint8_t> Records(HostileKeMode mode, const std::string& ntpHost, uint16_t ntpPort)
{
    const size_t cookieBytes = mode == HostileKeMode::BigCookies ? 30000 : 100;
    const std::string server = mode == HostileKeMode::EscapeText ? EscapeSequences : ntpHost;
    std::vector<NtsKeRecord> records = {
        {true, NtsKeType::NextProtocol, Word(NtsProtocolNtpV4)},
        {true, NtsKeType::AeadAlgorithm, Word(AeadAesSivCmac256)},
        {false, NtsKeType::NtpServer, std::vector<uint8_t>(server.begin(), server.end())},
        {false, NtsKeType::NtpPort, Word(mode == HostileKeMode::PortZero ? 0 : ntpPort)},
        {false, NtsKeType::NewCookie, std::vector<uint8_t>(cookieBytes, 0xC0)},
        {false, NtsKeType::NewCookie, std::vector<uint8_t>(cookieBytes, 0xC1)},
    };
    if (mode != HostileKeMode::NoEndOfMessage)
        records.push_back({true, NtsKeType::EndOfMessage, {}});
    std::vector<uint8_t> bytes;
    for (const NtsKeRecord& r : records) {
        const std::vector<uint8_t> encoded = EncodeNtsKeRecord(r);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    return bytes;
}

} // namespace

CHostileNtsKe::CHostileNtsKe(HostileKeMode mode, const std::string& cert, const std::string& key,
                             std::string ntpHost, uint16_t ntpPort)
    : m_mode(mode), m_ntpHost(std::move(ntpHost)), m_ntpPort(ntpPort)
{
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) < 0)
        return;
    m_credentials = credentials;
    if (gnutls_certificate_set_x509_key_file(credentials, cert.c_str(), key.c_str(), GNUTLS_X509_FMT_PEM) < 0)
        return;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(fd, 4) < 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) < 0) {
        ::close(fd);
        return;
    }
    m_listener = fd;
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CHostileNtsKe::~CHostileNtsKe()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
    if (m_credentials)
        gnutls_certificate_free_credentials(static_cast<gnutls_certificate_credentials_t>(m_credentials));
}

void CHostileNtsKe::Run()
{
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            Serve(fd);
            ::close(fd);
        }
    }
}

void CHostileNtsKe::Serve(int fd)
{
    gnutls_session_t session = nullptr;
    if (gnutls_init(&session, GNUTLS_SERVER) < 0)
        return;
    gnutls_priority_set_direct(session, "NORMAL:-VERS-ALL:+VERS-TLS1.3", nullptr);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, m_credentials);
    gnutls_datum_t alpn{reinterpret_cast<unsigned char*>(const_cast<char*>(NtsKeAlpn)), 7};
    gnutls_alpn_set_protocols(session, &alpn, 1, 0);
    gnutls_transport_set_int(session, fd);
    gnutls_transport_set_push_function(session, SendWithoutSignal);
    gnutls_handshake_set_timeout(session, IoTimeoutMs);
    gnutls_record_set_timeout(session, IoTimeoutMs);
    int result;
    do {
        result = gnutls_handshake(session);
    } while (result < 0 && gnutls_error_is_fatal(result) == 0);
    uint8_t request[512];
    if (result == 0 && gnutls_record_recv(session, request, sizeof request) > 0)
        SendRecords(session, fd, Records(m_mode, m_ntpHost, m_ntpPort), m_mode == HostileKeMode::Trickle, m_stop);
    gnutls_deinit(session);
}


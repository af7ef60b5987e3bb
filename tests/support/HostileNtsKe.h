#pragma once
// A hostile NTS key-exchange server for the tests: TLS 1.3 with ALPN ntske/1
// on 127.0.0.1 (GnuTLS, server side), on a thread of its own, answering
// every key exchange with records that misbehave in one way.
#include "nts/NtsKeRecords.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

enum class HostileKeMode {
    Sound,          // what a good server sends
    Trickle,        // the sound records, one byte a second
    BigCookies,     // cookies of 30,000 bytes
    NoEndOfMessage, // the records without their End of Message, then the connection closed
    EscapeText,     // an NTPv4 Server record of terminal escape sequences
    PortZero,       // an NTPv4 Port record of 0
};

class CHostileNtsKe {
public:
    // Serves with the PEM certificate and key; the records name `ntpHost`
    // at `ntpPort` as the NTP server, unless the mode puts other values there.
    CHostileNtsKe(HostileKeMode mode, const std::string& cert, const std::string& key, const std::string& ntpHost,
                  uint16_t ntpPort)
        : m_records(Records(mode, ntpHost, ntpPort)), m_trickle(mode == HostileKeMode::Trickle)
    {
        // A certificate that does not load shows as the handshake's failure.
        gnutls_certificate_allocate_credentials(&m_credentials);
        gnutls_certificate_set_x509_key_file(m_credentials, cert.c_str(), key.c_str(), GNUTLS_X509_FMT_PEM);
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_listener, 4) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            m_port = ntohs(a.sin_port);
        // Until the destructor shuts the listener down.
        m_thread = std::thread([this] {
            for (int client; (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(client))
                Serve(client);
        });
    }
    ~CHostileNtsKe()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        gnutls_certificate_free_credentials(m_credentials);
    }

    bool IsListening() const { return m_port != 0; }
    std::string ServerText() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    static std::vector<uint8_t> Records(HostileKeMode mode, const std::string& ntpHost, uint16_t ntpPort)
    {
        auto word = [](uint16_t value) { return std::vector<uint8_t>{uint8_t(value >> 8), uint8_t(value)}; };
        const size_t cookieBytes = mode == HostileKeMode::BigCookies ? 30000 : 100;
        const std::string server = mode == HostileKeMode::EscapeText ? "\x1b]0;TITLE\x07\x1b[41;97m" : ntpHost;
        std::vector<NtsKeRecord> records = {
            {true, NtsKeType::NextProtocol, word(NtsProtocolNtpV4)},
            {true, NtsKeType::AeadAlgorithm, word(AeadAesSivCmac256)},
            {false, NtsKeType::NtpServer, std::vector<uint8_t>(server.begin(), server.end())},
            {false, NtsKeType::NtpPort, word(mode == HostileKeMode::PortZero ? 0 : ntpPort)},
            {false, NtsKeType::NewCookie, std::vector<uint8_t>(cookieBytes, 0xC0)},
            {false, NtsKeType::NewCookie, std::vector<uint8_t>(cookieBytes, 0xC1)},
            {true, NtsKeType::EndOfMessage, {}},
        };
        if (mode == HostileKeMode::NoEndOfMessage)
            records.pop_back();
        std::vector<uint8_t> bytes;
        for (const NtsKeRecord& r : records) {
            const std::vector<uint8_t> encoded = EncodeNtsKeRecord(r);
            bytes.insert(bytes.end(), encoded.begin(), encoded.end());
        }
        return bytes;
    }

    // The records after the client's request: all at once and the connection
    // closed, or one byte a second until the client speaks or hangs up.
    void Serve(int fd)
    {
        gnutls_session_t session = nullptr;
        if (gnutls_init(&session, GNUTLS_SERVER | GNUTLS_NO_SIGNAL) < 0)
            return;
        gnutls_priority_set_direct(session, "NORMAL:-VERS-ALL:+VERS-TLS1.3", nullptr);
        gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, m_credentials);
        gnutls_datum_t alpn{reinterpret_cast<unsigned char*>(const_cast<char*>(NtsKeAlpn)), 7};
        gnutls_alpn_set_protocols(session, &alpn, 1, 0);
        gnutls_transport_set_int(session, fd);
        gnutls_handshake_set_timeout(session, 5000);
        gnutls_record_set_timeout(session, 5000);
        int result;
        do {
            result = gnutls_handshake(session);
        } while (result < 0 && gnutls_error_is_fatal(result) == 0);
        uint8_t request[512];
        if (result == 0 && gnutls_record_recv(session, request, sizeof request) > 0) {
            pollfd p{fd, POLLIN, 0};
            for (size_t sent = 0; sent < m_records.size();) {
                const ssize_t n = gnutls_record_send(session, &m_records[sent], m_trickle ? 1 : m_records.size() - sent);
                if (n < 0 || (m_trickle && ::poll(&p, 1, 1000) != 0))
                    break;
                sent += static_cast<size_t>(n);
            }
            gnutls_bye(session, GNUTLS_SHUT_WR);
        }
        gnutls_deinit(session);
    }

    std::vector<uint8_t> m_records;
    bool m_trickle;
    gnutls_certificate_credentials_t m_credentials = nullptr;
    int m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    uint16_t m_port = 0;
    std::thread m_thread;
};

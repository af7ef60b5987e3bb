#include "platform/Tls.h"
#include "platform/posix/WsaErrno.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// TLS 1.3 and nothing older: NTS key exchanges must not fall back.
const char* const Tls13Only = "NORMAL:-VERS-ALL:+VERS-TLS1.3";
// Only to see whether a server refuses it.
const char* const Tls12Only = "NORMAL:-VERS-ALL:+VERS-TLS1.2";

using SteadyClock = std::chrono::steady_clock;

socklen_t ToSockaddr(const SockAddrIn& a, sockaddr_storage& storage)
{
    storage = {};
    if (a.family == AddressFamilyIPv6) {
        auto& s = reinterpret_cast<sockaddr_in6&>(storage);
        s.sin6_family = AF_INET6;
        s.sin6_port = a.port;
        std::memcpy(&s.sin6_addr, a.address6, sizeof a.address6);
        s.sin6_scope_id = a.scope;
        return sizeof s;
    }
    auto& s = reinterpret_cast<sockaddr_in&>(storage);
    s.sin_family = AF_INET;
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.address;
    return sizeof s;
}

std::string DatumText(const gnutls_datum_t& d)
{
    return std::string(reinterpret_cast<const char*>(d.data), d.size);
}

// Address bytes of a certificate's IP name as text.
std::string IpText(const std::vector<uint8_t>& bytes)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (bytes.size() == 4 || bytes.size() == 16)
        inet_ntop(bytes.size() == 4 ? AF_INET : AF_INET6, bytes.data(), text, sizeof text);
    return text;
}

bool ReadAltNames(gnutls_x509_crt_t crt, TlsCertificateFacts& facts)
{
    for (unsigned seq = 0;; ++seq) {
        std::vector<uint8_t> buffer(256);
        size_t size = buffer.size();
        int type = gnutls_x509_crt_get_subject_alt_name(crt, seq, buffer.data(), &size, nullptr);
        if (type == GNUTLS_E_SHORT_MEMORY_BUFFER) {
            buffer.resize(size);
            type = gnutls_x509_crt_get_subject_alt_name(crt, seq, buffer.data(), &size, nullptr);
        }
        if (type == GNUTLS_E_REQUESTED_DATA_NOT_AVAILABLE)
            return true;
        if (type < 0)
            return false;
        buffer.resize(size);
        if (type == GNUTLS_SAN_DNSNAME)
            facts.dnsNames.emplace_back(buffer.begin(), buffer.end());
        else if (type == GNUTLS_SAN_IPADDRESS)
            facts.ipAddresses.push_back(IpText(buffer));
    }
}

struct Purpose {
    const char* oid;
    const char* name;
};
const Purpose Purposes[] = {{GNUTLS_KP_TLS_WWW_SERVER, "TLS server"}, {GNUTLS_KP_TLS_WWW_CLIENT, "TLS client"},
                            {GNUTLS_KP_CODE_SIGNING, "code signing"},  {GNUTLS_KP_EMAIL_PROTECTION, "e-mail"},
                            {GNUTLS_KP_TIME_STAMPING, "time stamping"}, {GNUTLS_KP_OCSP_SIGNING, "OCSP signing"},
                            {GNUTLS_KP_ANY, "any"}};

// The Extended Key Usage of a certificate in words, unknown ones by OID.
std::vector<std::string> ReadPurposes(gnutls_x509_crt_t crt)
{
    std::vector<std::string> names;
    for (unsigned seq = 0;; ++seq) {
        char oid[128];
        size_t size = sizeof oid;
        if (gnutls_x509_crt_get_key_purpose_oid(crt, seq, oid, &size, nullptr) < 0)
            return names;
        const auto known = std::find_if(std::begin(Purposes), std::end(Purposes),
                                        [&](const Purpose& p) { return std::strcmp(p.oid, oid) == 0; });
        names.emplace_back(known != std::end(Purposes) ? known->name : oid);
    }
}

bool NameMatches(gnutls_x509_crt_t crt, const std::string& name)
{
    uint8_t address[16];
    if (inet_pton(AF_INET, name.c_str(), address) == 1)
        return gnutls_x509_crt_check_ip(crt, address, 4, 0) != 0;
    if (inet_pton(AF_INET6, name.c_str(), address) == 1)
        return gnutls_x509_crt_check_ip(crt, address, 16, 0) != 0;
    return gnutls_x509_crt_check_hostname2(crt, name.c_str(), 0) != 0;
}

class CGnuTlsChannel : public ITlsChannel {
public:
    explicit CGnuTlsChannel(int fd) : m_fd(fd) {}
    ~CGnuTlsChannel() override
    {
        if (m_session) {
            if (m_established)
                gnutls_bye(m_session, GNUTLS_SHUT_WR);
            gnutls_deinit(m_session);
        }
        if (m_credentials)
            gnutls_certificate_free_credentials(m_credentials);
        ::close(m_fd);
    }
    CGnuTlsChannel(const CGnuTlsChannel&) = delete;
    CGnuTlsChannel& operator=(const CGnuTlsChannel&) = delete;

    bool Handshake(const TlsOptions& options, TlsSessionFacts& facts) override
    {
        m_deadline = SteadyClock::now() + std::chrono::milliseconds(options.timeoutMilliseconds);
        if (!SetUp(options, facts))
            return false;
        int result;
        do {
            result = gnutls_handshake(m_session);
        } while (result < 0 && gnutls_error_is_fatal(result) == 0 && !Expired());
        if (result < 0) {
            m_timedOut = result == GNUTLS_E_TIMEDOUT || Expired();
            facts.failure = gnutls_strerror(m_timedOut ? GNUTLS_E_TIMEDOUT : result);
            if (result == GNUTLS_E_FATAL_ALERT_RECEIVED)
                facts.alert = gnutls_alert_get_name(gnutls_alert_get(m_session));
            return false;
        }
        m_established = facts.established = true;
        facts.version = gnutls_protocol_get_name(gnutls_protocol_get_version(m_session));
        const char* suite = gnutls_ciphersuite_get(m_session);
        facts.cipherSuite = suite ? suite : "";
        gnutls_datum_t alpn{};
        if (gnutls_alpn_get_selected_protocol(m_session, &alpn) == 0)
            facts.alpn = DatumText(alpn);
        ReadCertificate(options.serverName, facts);
        return true;
    }

    bool Write(const std::vector<uint8_t>& bytes) override
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = gnutls_record_send(m_session, bytes.data() + sent, bytes.size() - sent);
            if ((n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) && !Expired())
                continue;
            if (n < 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    int Read(uint8_t* buffer, int capacity) override
    {
        for (;;) {
            const ssize_t n = Expired() ? GNUTLS_E_TIMEDOUT
                                        : gnutls_record_recv(m_session, buffer, static_cast<size_t>(capacity));
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED)
                continue;
            m_timedOut = n == GNUTLS_E_TIMEDOUT;
            // Closed without TLS's goodbye is still closed: the records say
            // whether anything is missing.
            if (n == 0 || n == GNUTLS_E_PREMATURE_TERMINATION)
                return 0;
            if (n < 0) {
                m_readFailure = gnutls_strerror(static_cast<int>(n));
                return -1;
            }
            return static_cast<int>(n);
        }
    }

    std::string ReadFailure() override { return m_readFailure; }
    bool TimedOut() override { return m_timedOut; }

    std::vector<uint8_t> ExportKey(const std::string& label, const std::vector<uint8_t>& context,
                                   size_t length) override
    {
        std::vector<uint8_t> key(length);
        if (!m_established ||
            gnutls_prf_rfc5705(m_session, label.size(), label.c_str(), context.size(),
                               reinterpret_cast<const char*>(context.data()), length,
                               reinterpret_cast<char*>(key.data())) < 0)
            return {};
        return key;
    }

private:
    bool Expired() const { return SteadyClock::now() >= m_deadline; }

    // The transport: a server that hangs up must end a write with an error,
    // not the program with SIGPIPE; and no wait for bytes goes past the
    // session's deadline, however often a trickle of them restarts GnuTLS's own.
    static ssize_t Push(gnutls_transport_ptr_t self, const void* data, size_t size)
    {
        return ::send(static_cast<CGnuTlsChannel*>(self)->m_fd, data, size, MSG_NOSIGNAL);
    }
    static ssize_t Pull(gnutls_transport_ptr_t self, void* data, size_t size)
    {
        return ::recv(static_cast<CGnuTlsChannel*>(self)->m_fd, data, size, 0);
    }
    static int PullTimeout(gnutls_transport_ptr_t self, unsigned ms)
    {
        const auto* channel = static_cast<const CGnuTlsChannel*>(self);
        for (;;) {
            const int64_t left =
                std::chrono::ceil<std::chrono::milliseconds>(channel->m_deadline - SteadyClock::now()).count();
            if (left <= 0)
                return 0;
            const int64_t wait = ms == GNUTLS_INDEFINITE_TIMEOUT ? left : std::min<int64_t>(left, ms);
            pollfd p{channel->m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(wait, INT_MAX)));
            if (ready >= 0 || errno != EINTR)
                return ready;
        }
    }

    bool SetUp(const TlsOptions& options, TlsSessionFacts& facts)
    {
        if (gnutls_certificate_allocate_credentials(&m_credentials) < 0 ||
            gnutls_init(&m_session, GNUTLS_CLIENT) < 0 ||
            gnutls_priority_set_direct(m_session, options.onlyTls12 ? Tls12Only : Tls13Only, nullptr) < 0) {
            facts.failure = "TLS could not be set up";
            return false;
        }
        gnutls_certificate_set_x509_system_trust(m_credentials); // none found: only --nts-ca counts
        for (const std::string& file : options.caFiles) {
            const int loaded = gnutls_certificate_set_x509_trust_file(m_credentials, file.c_str(), GNUTLS_X509_FMT_PEM);
            if (loaded <= 0 && facts.caProblem.empty())
                facts.caProblem = file + ": " + (loaded < 0 ? gnutls_strerror(loaded) : "no certificate in it");
        }
        gnutls_credentials_set(m_session, GNUTLS_CRD_CERTIFICATE, m_credentials);
        uint8_t address[16];
        const bool literal = inet_pton(AF_INET, options.serverName.c_str(), address) == 1 ||
                             inet_pton(AF_INET6, options.serverName.c_str(), address) == 1;
        if (!literal && !options.serverName.empty())
            gnutls_server_name_set(m_session, GNUTLS_NAME_DNS, options.serverName.data(), options.serverName.size());
        gnutls_datum_t protocol{reinterpret_cast<unsigned char*>(const_cast<char*>(options.alpn.data())),
                                static_cast<unsigned>(options.alpn.size())};
        if (!options.alpn.empty())
            gnutls_alpn_set_protocols(m_session, &protocol, 1, 0);
        gnutls_transport_set_ptr(m_session, this);
        gnutls_transport_set_push_function(m_session, Push);
        gnutls_transport_set_pull_function(m_session, Pull);
        gnutls_transport_set_pull_timeout_function(m_session, PullTimeout);
        // Both only make GnuTLS ask PullTimeout, which keeps to the deadline.
        const unsigned timeout = static_cast<unsigned>(std::max(options.timeoutMilliseconds, 1));
        gnutls_handshake_set_timeout(m_session, timeout);
        gnutls_record_set_timeout(m_session, timeout);
        return true;
    }

    void ReadCertificate(const std::string& serverName, TlsSessionFacts& facts)
    {
        unsigned count = 0;
        const gnutls_datum_t* chain = gnutls_certificate_get_peers(m_session, &count);
        gnutls_x509_crt_t crt = nullptr;
        if (!chain || count == 0 || gnutls_x509_crt_init(&crt) < 0)
            return;
        if (gnutls_x509_crt_import(crt, &chain[0], GNUTLS_X509_FMT_DER) == 0) {
            facts.hasCertificate = true;
            TlsCertificateFacts& c = facts.certificate;
            gnutls_datum_t dn{};
            if (gnutls_x509_crt_get_dn3(crt, &dn, 0) == 0) {
                c.subject = DatumText(dn);
                gnutls_free(dn.data);
            }
            if (gnutls_x509_crt_get_issuer_dn3(crt, &dn, 0) == 0) {
                c.issuer = DatumText(dn);
                gnutls_free(dn.data);
            }
            ReadAltNames(crt, c);
            c.purposes = ReadPurposes(crt);
            c.nameMatches = NameMatches(crt, serverName);
            c.notBefore = gnutls_x509_crt_get_activation_time(crt);
            c.notAfter = gnutls_x509_crt_get_expiration_time(crt);
            Verify(c);
        }
        gnutls_x509_crt_deinit(crt);
    }

    void Verify(TlsCertificateFacts& c)
    {
        unsigned status = 0;
        // For a server: a certificate only for clients must not pass.
        gnutls_typed_vdata_st purpose{GNUTLS_DT_KEY_PURPOSE_OID,
                                      reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER)), 0};
        if (gnutls_certificate_verify_peers(m_session, &purpose, 1, &status) < 0) {
            c.verification = "could not be verified";
            return;
        }
        c.verified = status == 0;
        c.untrusted = (status & (GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA)) != 0;
        c.expired = (status & GNUTLS_CERT_EXPIRED) != 0;
        c.notYetValid = (status & GNUTLS_CERT_NOT_ACTIVATED) != 0;
        c.wrongPurpose = (status & GNUTLS_CERT_PURPOSE_MISMATCH) != 0;
        gnutls_datum_t text{};
        if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0) == 0) {
            c.verification = DatumText(text);
            gnutls_free(text.data);
        }
    }

    int m_fd;
    gnutls_session_t m_session = nullptr;
    gnutls_certificate_credentials_t m_credentials = nullptr;
    bool m_established = false;
    SteadyClock::time_point m_deadline = SteadyClock::now();
    bool m_timedOut = false;
    std::string m_readFailure;
};

// A connection attempt with a deadline: an answered refusal and silence
// are told apart, as an operator must know which one a firewall makes.
int ConnectWithin(int fd, const sockaddr_storage& to, socklen_t length, int timeoutMilliseconds)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), length) < 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int ready;
            do {
                ready = ::poll(&p, 1, timeoutMilliseconds);
            } while (ready < 0 && errno == EINTR);
            socklen_t size = sizeof error;
            if (ready == 0)
                error = ETIMEDOUT;
            else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
                error = errno;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return error;
}

class CGnuTlsConnector : public ITlsConnector {
public:
    std::unique_ptr<ITlsChannel> Connect(const SockAddrIn& server, int timeoutMilliseconds,
                                         TcpConnectFacts& facts) override
    {
        sockaddr_storage to;
        const socklen_t length = ToSockaddr(server, to);
        const int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        int error = fd < 0 ? errno : ConnectWithin(fd, to, length, timeoutMilliseconds);
        facts.outcome = error == 0              ? TcpConnectOutcome::Connected
                        : error == ECONNREFUSED ? TcpConnectOutcome::Refused
                        : error == ETIMEDOUT    ? TcpConnectOutcome::TimedOut
                                                : TcpConnectOutcome::Failed;
        if (error == 0) {
            // The request follows the handshake's last flight at once; Nagle
            // would hold it until the server's delayed acknowledgement.
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return std::make_unique<CGnuTlsChannel>(fd);
        }
        facts.error = WsaErrorFromErrno(error);
        facts.errorText = std::strerror(error);
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
};

} // namespace

ITlsConnector& SystemTls()
{
    static CGnuTlsConnector connector;
    return connector;
}

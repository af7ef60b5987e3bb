#include "frontends/exporter/ExporterServer.h"

#include "frontends/exporter/MetricsText.h"
#include "frontends/exporter/ScrapeBudget.h"
#include "ntp/Format.h"
#include "query/ServerText.h"

#include <microhttpd.h>

namespace {

constexpr unsigned ConnectionLimit = 512;
constexpr unsigned PerAddressLimit = 64;
// A connection silent this long is closed, kept alive or with its request
// unfinished.
constexpr unsigned IdleSeconds = 5;
constexpr size_t ConnectionMemory = 16 * 1024;
constexpr size_t ThreadStack = 256 * 1024; // name resolution included

MHD_Result OnRequest(void* server, MHD_Connection* connection, const char* url, const char* method, const char*,
                     const char*, size_t* bodySize, void** state)
{
    // The first call brings the header alone; answering after it would end
    // the connection instead of keeping it for the next scrape.
    static int headerSeen;
    if (*state == nullptr) {
        *state = &headerSeen;
        return MHD_YES;
    }
    if (*bodySize != 0) {
        *bodySize = 0; // a request's body is read and dropped
        return MHD_YES;
    }
    CExporterServer::Request request;
    request.method = method;
    request.path = url;
    request.target = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "target");
    request.nts = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "nts");
    request.scrapeTimeout =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Prometheus-Scrape-Timeout-Seconds");
    const CExporterServer::Reply reply = static_cast<CExporterServer*>(server)->Answer(request);
    MHD_Response* response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                            reply.status == 200 ? MetricsContentType : "text/plain; charset=utf-8");
    if (reply.status == 405)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return queued;
}

double Seconds(const WallTime& t) { return static_cast<double>(t.seconds) + t.nanoseconds / 1e9; }

} // namespace

CExporterServer::CExporterServer(CTargetCache& cache, bool anyTarget)
    : m_cache(cache), m_anyTarget(anyTarget), m_startTime(Seconds(cache.Engine().Clock().Now()))
{
}

bool CExporterServer::Allow(const std::string& target)
{
    TargetKey plain, nts;
    if (!ParseTargetKey(target, NtpPort, plain) || !ParseTargetKey(target, NtsKePort, nts))
        return false;
    m_allowed[0].insert(plain.Text());
    m_allowed[1].insert(nts.Text());
    return true;
}

bool CExporterServer::AllowsNtpServer(const NtsNtpServer& ntp) const
{
    TargetKey key;
    return m_anyTarget || !ntp.namedByServer ||
           (ParseTargetKey(BracketedHost(ntp.host) + ":" + std::to_string(ntp.port), NtpPort, key) &&
            m_allowed[0].count(key.Text()) != 0);
}

CExporterServer::~CExporterServer() { Stop(); }

bool CExporterServer::Start(int listenSocket, bool ipv6)
{
    const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG |
                           (ipv6 ? MHD_USE_IPv6 : 0);
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, this, MHD_OPTION_LISTEN_SOCKET, listenSocket,
                                MHD_OPTION_CONNECTION_LIMIT, ConnectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                PerAddressLimit, MHD_OPTION_CONNECTION_TIMEOUT, IdleSeconds,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, ConnectionMemory, MHD_OPTION_THREAD_STACK_SIZE,
                                ThreadStack, MHD_OPTION_END);
    return m_daemon != nullptr;
}

void CExporterServer::Stop()
{
    m_cache.Stop(); // the scrapes waiting for an exchange answer now, so their threads end
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

CExporterServer::Reply CExporterServer::OwnMetrics()
{
    ExporterFigures figures;
    figures.process = ReadProcessFigures();
    figures.startTimeSeconds = m_startTime;
    figures.requestsSent = m_cache.RequestsSent();
    figures.targets = m_cache.Size();
    return {200, ExporterMetricsText(figures)};
}

CExporterServer::Reply CExporterServer::Answer(const Request& request)
{
    const auto deadline = std::chrono::steady_clock::now() + ScrapeBudget(request.scrapeTimeout);
    if (request.path != "/metrics")
        return {404, "Not found: the metrics are at /metrics, a server's at /metrics?target=SERVER[:PORT]\n"};
    if (request.method != "GET" && request.method != "HEAD")
        return {405, "Only GET and HEAD\n"};
    if (!request.target)
        return OwnMetrics();
    const std::string nts = request.nts ? request.nts : "0";
    if (nts != "0" && nts != "1")
        return {400, "nts is 1 (check NTS) or 0\n"};
    const bool secure = nts == "1";
    TargetKey key;
    if (!ParseTargetKey(request.target, secure ? NtsKePort : NtpPort, key))
        return {400, "A target is HOST, HOST:PORT, an IPv4 address or a bracketed IPv6 one, the port 1-65535\n"};
    if (!m_anyTarget && m_allowed[secure].count(key.Text()) == 0)
        return {403, Format("Target '%s' is not allowed: name it with --target\n", key.Text().c_str())};
    if (secure && !m_cache.HasNts())
        return {501, "This exporter checks no NTS\n"};
    IClock& clock = m_cache.Engine().Clock();
    const int64_t start = clock.MonotonicMicroseconds();
    const TargetSample sample = m_cache.Sample(key, secure, deadline);
    return {200, TargetMetricsText(sample, (clock.MonotonicMicroseconds() - start) / 1e6)};
}

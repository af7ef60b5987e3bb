#include "frontends/exporter/ExporterServer.h"

#include "frontends/exporter/MetricsText.h"
#include "ntp/Format.h"

#include <microhttpd.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr unsigned ConnectionLimit = 256;
constexpr unsigned IdleSeconds = 30; // a kept-alive connection's thread ends after this
constexpr size_t ConnectionMemory = 16 * 1024;
constexpr size_t ThreadStack = 256 * 1024; // name resolution included

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

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
    const char* target = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "target");
    const char* nts = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "nts");
    const CExporterServer::Reply reply = static_cast<CExporterServer*>(server)->Answer(method, url, target, nts);
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

} // namespace

CExporterServer::CExporterServer(CTargetCache& cache, const std::vector<std::string>& targets, bool anyTarget)
    : m_cache(cache), m_anyTarget(anyTarget)
{
    for (const std::string& target : targets)
        m_allowed.insert(Lower(target));
    const WallTime now = cache.Engine().Clock().Now();
    m_startTime = static_cast<double>(now.seconds) + now.nanoseconds / 1e9;
}

CExporterServer::~CExporterServer() { Stop(); }

bool CExporterServer::Start(int listenSocket, bool ipv6)
{
    const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG |
                           (ipv6 ? MHD_USE_IPv6 : 0);
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest,
                                this, MHD_OPTION_LISTEN_SOCKET, listenSocket, MHD_OPTION_CONNECTION_LIMIT,
                                ConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, IdleSeconds,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, ConnectionMemory, MHD_OPTION_THREAD_STACK_SIZE,
                                ThreadStack, MHD_OPTION_END);
    return m_daemon != nullptr;
}

void CExporterServer::Stop()
{
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

bool CExporterServer::Allowed(const std::string& target) const
{
    return m_anyTarget || m_allowed.count(Lower(target)) != 0;
}

CExporterServer::Reply CExporterServer::Answer(const std::string& method, const std::string& path, const char* target,
                                               const char* nts)
{
    if (path != "/metrics")
        return {404, "Not found: the metrics are at /metrics, a server's at /metrics?target=SERVER[:PORT]\n"};
    if (method != "GET" && method != "HEAD")
        return {405, "Only GET and HEAD\n"};
    if (!target) {
        ExporterFigures figures;
        figures.process = ReadProcessFigures();
        figures.startTimeSeconds = m_startTime;
        figures.requestsSent = m_cache.RequestsSent();
        figures.targets = m_cache.Size();
        return {200, ExporterMetricsText(figures)};
    }
    if (!Allowed(target))
        return {403, Format("Target '%s' is not allowed: name it with --target\n", MetricLabelValue(target).c_str())};
    const bool secure = nts && std::string(nts) == "1";
    if (nts && !secure && std::string(nts) != "0")
        return {400, "nts is 1 (check NTS) or 0\n"};
    if (secure && !m_cache.HasNts())
        return {501, "This exporter checks no NTS\n"};
    IClock& clock = m_cache.Engine().Clock();
    const int64_t start = clock.MonotonicMicroseconds();
    const TargetSample sample = m_cache.Sample(target, secure);
    return {200, TargetMetricsText(sample, (clock.MonotonicMicroseconds() - start) / 1e6)};
}

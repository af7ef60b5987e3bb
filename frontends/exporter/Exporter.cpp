#include "frontends/exporter/Exporter.h"

#include "frontends/exporter/ExporterServer.h"
#include "frontends/exporter/TargetCache.h"
#include "ntp/PrintableText.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

constexpr const char* DefaultAddress = "127.0.0.1";
// How long a stop waits for the exchanges still running (a key exchange
// trickling in may take much longer) before the process ends without them.
constexpr std::chrono::milliseconds StopWait{1000};
// Scrapes run on many short threads; an allocation arena each would let the
// resident memory grow with them.
constexpr int MallocArenas = 2;

bool ParsePort(const std::string& text, uint16_t& port)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || text[0] == '+' || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// A TCP socket listening at `at`, or -1 with errno set.
int ListenAt(const ListenAddress& at)
{
    const int s = socket(at.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(s, reinterpret_cast<const sockaddr*>(&at.address), at.length) != 0 || listen(s, SOMAXCONN) != 0) {
        const int error = errno;
        close(s);
        errno = error;
        return -1;
    }
    return s;
}

// "http://ADDRESS:PORT" of a listening socket.
std::string Url(int s)
{
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
    char text[INET6_ADDRSTRLEN] = {};
    if (bound.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&bound);
        inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        return "http://[" + std::string(text) + "]:" + std::to_string(ntohs(a->sin6_port));
    }
    const auto* a = reinterpret_cast<const sockaddr_in*>(&bound);
    inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    return "http://" + std::string(text) + ":" + std::to_string(ntohs(a->sin_port));
}

} // namespace

bool ParseListenAddress(const std::string& text, ListenAddress& listen)
{
    std::string host = DefaultAddress;
    std::string port = text;
    const bool bracketed = !text.empty() && text[0] == '[';
    if (bracketed) {
        const size_t close = text.find("]:");
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    uint16_t number = 0;
    if (!ParsePort(port, number))
        return false;
    listen = ListenAddress{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&listen.address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&listen.address);
    if (!bracketed && inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(number);
        listen.length = sizeof *v4;
    } else if (bracketed && inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(number);
        listen.length = sizeof *v6;
        listen.ipv6 = true;
    } else {
        return false;
    }
    return true;
}

int RunExporter(const CommandLine& line)
{
    ListenAddress at;
    if (!ParseListenAddress(line.exporterAddress, at)) {
        std::fprintf(stderr, "horolab: --exporter needs [ADDRESS:]PORT (e.g. 9123 or [::1]:9123), not '%s'\n",
                     line.exporterAddress.c_str());
        return 2;
    }
    // Every thread started from here on leaves these to sigwait below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    const int socket = ListenAt(at);
    if (socket < 0) {
        std::fprintf(stderr, "horolab: cannot listen at %s: %s\n", line.exporterAddress.c_str(), std::strerror(errno));
        return 1;
    }
    const std::string url = Url(socket);
    mallopt(M_ARENA_MAX, MallocArenas);
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CTargetCache cache(engine);
    CNtsChecker nts(engine, SystemTls(), SystemCrypto());
    CExporterServer server(cache, line.anyTarget);
    cache.UseNts(nts, line.ntsCaFiles, [&server](const NtsNtpServer& ntp) { return server.AllowsNtpServer(ntp); });
    for (const std::string& target : line.targets) {
        if (!server.Allow(target)) {
            close(socket);
            std::fprintf(stderr, "horolab: --target needs HOST[:PORT] (a port 1-65535), not '%s'\n",
                         PrintableText(target).c_str());
            return 2;
        }
    }
    if (!server.Start(socket, at.ipv6)) {
        close(socket);
        std::fprintf(stderr, "horolab: the HTTP server did not start at %s\n", url.c_str());
        return 1;
    }
    std::printf("horolab: NTP metrics at %s/metrics?target=SERVER[:PORT], the exporter's own at %s/metrics\n",
                url.c_str(), url.c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    server.Stop();
    if (!cache.WaitForExchanges(StopWait)) {
        std::fflush(stdout);
        std::_Exit(0); // the exchanges still running use what is about to go
    }
    return 0;
}

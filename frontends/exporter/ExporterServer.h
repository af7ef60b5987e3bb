#pragma once
// The exporter's HTTP side: GNU libmicrohttpd serves /metrics on a listening
// socket, a thread per connection, each scrape answered from the target cache
// by the deadline Prometheus gives it. Connections are bounded per client
// address and an unfinished request is dropped soon, so that slow clients
// cannot take the exporter from the others.
#include "frontends/exporter/TargetCache.h"

#include <set>
#include <string>

struct MHD_Daemon;

class CExporterServer {
public:
    // Answers only for the targets given to Allow unless `anyTarget`: nobody
    // can have it send NTP to a host of their choosing. Each target as its
    // canonical key; false from Allow for a text that is none.
    CExporterServer(CTargetCache& cache, bool anyTarget);
    bool Allow(const std::string& target);
    // Whether the NTP server a target's key exchange names may be sent to:
    // its own host, or one allowed as a target itself.
    bool AllowsNtpServer(const NtsNtpServer& ntp) const;
    ~CExporterServer();
    CExporterServer(const CExporterServer&) = delete;
    CExporterServer& operator=(const CExporterServer&) = delete;

    // Serves HTTP on a listening TCP socket, which it then owns; false when
    // the server could not start.
    bool Start(int listenSocket, bool ipv6);
    void Stop();

    struct Request {
        std::string method = "GET";
        std::string path = "/metrics";
        const char* target = nullptr; // the arguments, null when not given
        const char* nts = nullptr;
        const char* scrapeTimeout = nullptr; // X-Prometheus-Scrape-Timeout-Seconds
    };
    struct Reply {
        unsigned status = 200;
        std::string body;
    };
    // Nothing goes to a target that is not allowed; "nts=1" checks the
    // target's NTS.
    Reply Answer(const Request& request);

private:
    Reply OwnMetrics();

    CTargetCache& m_cache;
    std::set<std::string> m_allowed[2]; // canonical texts, plain and NTS (default ports differ)
    bool m_anyTarget;
    double m_startTime;
    MHD_Daemon* m_daemon = nullptr;
};

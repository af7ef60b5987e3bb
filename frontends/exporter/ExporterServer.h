#pragma once
// The exporter's HTTP side: GNU libmicrohttpd serves /metrics on a listening
// socket, a thread per connection, each scrape answered from the target cache.
#include "frontends/exporter/TargetCache.h"

#include <set>
#include <string>
#include <vector>

struct MHD_Daemon;

class CExporterServer {
public:
    // Answers only for `targets` (as they are written, case aside) unless
    // `anyTarget`: nobody can have it send NTP to a host of their choosing.
    CExporterServer(CTargetCache& cache, const std::vector<std::string>& targets, bool anyTarget);
    ~CExporterServer();
    CExporterServer(const CExporterServer&) = delete;
    CExporterServer& operator=(const CExporterServer&) = delete;

    // Serves HTTP on a listening TCP socket, which it then owns; false when
    // the server could not start.
    bool Start(int listenSocket, bool ipv6);
    void Stop();

    struct Reply {
        unsigned status = 200;
        std::string body;
    };
    // The answer to a request for `path` with the `target` and `nts`
    // arguments (null when not given). Nothing goes to a target that is not
    // allowed; "nts=1" checks the target's NTS.
    Reply Answer(const std::string& method, const std::string& path, const char* target, const char* nts = nullptr);

private:
    bool Allowed(const std::string& target) const;

    CTargetCache& m_cache;
    std::set<std::string> m_allowed;
    bool m_anyTarget;
    double m_startTime;
    MHD_Daemon* m_daemon = nullptr;
};

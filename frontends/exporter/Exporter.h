#pragma once
// `horolab --exporter [ADDRESS:]PORT`: NTP figures for Prometheus, one fresh
// exchange per scrape of /metrics?target=SERVER[:PORT].
#include "frontends/terminal/CommandLine.h"

#include <string>
#include <sys/socket.h>

// Serves until SIGINT or SIGTERM; the program's exit status.
int RunExporter(const CommandLine& line);

// "[ADDRESS:]PORT": a dotted IPv4 address or a bracketed IPv6 one, 127.0.0.1
// when none is given; port 0 lets the system choose.
struct ListenAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    bool ipv6 = false;
};
bool ParseListenAddress(const std::string& text, ListenAddress& listen);

// The exporter below its HTTP server: which requests it answers and how, and
// how often its targets hear from it: answers kept two seconds, longer after
// each RATE kiss, never again after DENY; a target not allowed gets nothing.
// Fake monotonic time, real sockets to loopback responders.
#include "frontends/exporter/Exporter.h"
#include "frontends/exporter/ExporterServer.h"
#include "frontends/exporter/MetricsText.h"
#include "support/DialogRig.h"
#include "support/TricklingListener.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <memory>
#include <regex>
#include <sstream>
#include <netinet/in.h>

namespace {
using Responder = CUdpResponder;

enum class Reply { Time, Rate, Deny, ForgedTime };

Responder::Answer Scripted(std::vector<Reply> script)
{
    auto count = std::make_shared<size_t>(0);
    return [script, count](const Responder::Request& request) {
        const Reply reply = *count < script.size() ? script[*count] : Reply::Time;
        ++*count;
        CNtpMsg answer = reply == Reply::Rate   ? Responder::KissReply(request, "RATE")
                         : reply == Reply::Deny ? Responder::KissReply(request, "DENY")
                                                : Responder::ServerReply(request);
        // A stranger knows the request's millisecond, not the bits below it.
        if (reply == Reply::ForgedTime)
            answer.m_originate.Fraction ^= 0x5A5A;
        return std::vector<Responder::Datagram>{Responder::Message(answer)};
    };
}

struct Exporter {
    FakeClock clock;
    FaultySockets sockets;
    CExchangeEngine engine{sockets, clock};
    CTargetCache cache{engine};
    CExporterServer server;
    explicit Exporter(std::vector<std::string> targets, bool any = false) : server(cache, any)
    {
        sockets.UseVirtualWaits(clock);
        for (const std::string& target : targets)
            EXPECT_TRUE(server.Allow(target)) << target;
    }
    CExporterServer::Reply Scrape(const std::string& target) { return server.Answer({"GET", "/metrics", target.c_str()}); }
};

// The exporter's HTTP server on a loopback port, NTS included.
struct Served : Exporter {
    CNtsChecker nts{engine, SystemTls(), SystemCrypto()};
    uint16_t port = 0;
    explicit Served(std::vector<std::string> targets) : Exporter(std::move(targets))
    {
        cache.UseNts(nts, {}, [](const NtsNtpServer&) { return false; });
        ListenAddress at;
        ParseListenAddress("127.0.0.1:0", at);
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t length = at.length;
        EXPECT_TRUE(::bind(s, reinterpret_cast<const sockaddr*>(&at.address), at.length) == 0 && ::listen(s, 512) == 0 &&
                    ::getsockname(s, reinterpret_cast<sockaddr*>(&at.address), &length) == 0 && server.Start(s, false));
        port = ntohs(reinterpret_cast<const sockaddr_in*>(&at.address)->sin_port);
    }
};

// A connection to the exporter from `source` (a loopback address); -1 when refused.
int Connect(uint16_t port, const char* source = "127.0.0.1")
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, source, &at.sin_addr);
    ::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at);
    at.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
    const timeval wait{20, 0}; // a reply after this is as good as none
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
        return s;
    ::close(s);
    return -1;
}

// One request over a connection of its own, and the whole reply ("" for none).
std::string Get(uint16_t port, const std::string& path, const std::string& headers = {},
                const char* source = "127.0.0.1")
{
    const int s = Connect(port, source); // -1 fails every call below: no reply
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n";
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, static_cast<size_t>(got));
    ::close(s);
    return reply;
}

bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

TEST(Exporter, TargetsHearFromItAsTheirKissCodesAsk)
{
    struct Scrape {
        int atMs;      // since the first
        size_t asked;  // requests the target has had by then
    };
    struct Case {
        const char* name;
        std::vector<Reply> script;
        std::vector<Scrape> scrapes;
        const char* lastReachable; // the reachable line of the last scrape
    };
    const Case cases[] = {
        {"answers are kept two seconds", {Reply::Time},
         {{0, 1}, {1000, 1}, {1900, 1}, {2000, 2}, {2500, 2}, {4000, 3}}, "horolab_ntp_reachable 1\n"},
        {"each RATE doubles the wait, an answer keeps it", {Reply::Rate, Reply::Rate, Reply::Time},
         {{0, 1}, {2000, 1}, {4000, 2}, {8000, 2}, {12000, 3}, {15000, 3}, {20000, 4}},
         "horolab_ntp_reachable 1\n"},
        {"after DENY it is never asked again", {Reply::Deny}, {{0, 1}, {3000, 1}, {100000, 1}},
         "horolab_ntp_reachable{kiss_code=\"DENY\"} 0\n"},
        {"an answer that does not echo the request is none", {Reply::ForgedTime, Reply::ForgedTime},
         {{0, 1}, {2000, 2}}, "horolab_ntp_reachable{reason=\"not_this_request\"} 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Responder target(Scripted(c.script));
        Exporter exporter({target.ServerText()});
        int elapsed = 0;
        std::string text;
        for (const Scrape& s : c.scrapes) {
            exporter.clock.AdvanceMonotonic((s.atMs - elapsed) * 1000LL);
            elapsed = s.atMs;
            const CExporterServer::Reply reply = exporter.Scrape(target.ServerText());
            EXPECT_EQ(reply.status, 200u);
            text = reply.body;
            EXPECT_EQ(target.Requests().size(), s.asked) << "at " << s.atMs << " ms";
        }
        EXPECT_TRUE(Has(text, c.lastReachable)) << text;
        EXPECT_EQ(exporter.cache.RequestsSent(), c.scrapes.back().asked);
    }
}

TEST(Exporter, AnswersOnlyWhatItMayAndNothingGoesToOthers)
{
    Responder allowed(Responder::NtpServer());
    Responder other(Responder::NtpServer());
    std::string upper = allowed.ServerText();
    Exporter exporter({"LOCALHOST:1", upper});
    struct Case {
        const char* method;
        const char* path;
        std::string target;
        bool withTarget;
        unsigned status;
        const char* line; // one line the body holds
    };
    const Case cases[] = {
        {"GET", "/metrics", allowed.ServerText(), true, 200, "horolab_ntp_stratum 2\n"},
        {"HEAD", "/metrics", allowed.ServerText(), true, 200, "# TYPE horolab_ntp_offset_seconds gauge\n"},
        {"GET", "/metrics", other.ServerText(), true, 403, "not allowed"},
        {"GET", "/metrics", "localhost:1", true, 200, "horolab_ntp_reachable{reason=\"port_closed\"} 0\n"}, // names match in any case
        {"GET", "/metrics", "", false, 200, "# TYPE process_resident_memory_bytes gauge\n"},
        {"POST", "/metrics", allowed.ServerText(), true, 405, "GET"},
        {"GET", "/", allowed.ServerText(), true, 404, "/metrics"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.method << " " << c.path << " " << c.target);
        const CExporterServer::Reply reply =
            exporter.server.Answer({c.method, c.path, c.withTarget ? c.target.c_str() : nullptr});
        EXPECT_EQ(reply.status, c.status);
        EXPECT_TRUE(Has(reply.body, c.line)) << reply.body;
    }
    EXPECT_TRUE(other.Requests().empty()) << "no NTP packet for a target not allowed";
    EXPECT_EQ(allowed.Requests().size(), 1u);

    Exporter open({}, true);
    EXPECT_EQ(open.Scrape(other.ServerText()).status, 200u);
    EXPECT_EQ(other.Requests().size(), 1u) << "--any-target lifts the limit";
}

TEST(Exporter, MetricsFollowTheTextFormat)
{
    Responder server(Responder::NtpServer());
    Exporter exporter({server.ServerText()});
    const std::string text = exporter.Scrape(server.ServerText()).body;
    // Every sample has its HELP and TYPE lines just before it.
    size_t samples = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "the last line ends with a line feed";
        const std::string line = text.substr(at, end - at);
        if (line[0] != '#') {
            const std::string name = line.substr(0, line.find_first_of("{ "));
            EXPECT_TRUE(Has(text, "# HELP " + name + " ") && Has(text, "# TYPE " + name + " gauge\n" + name))
                << name;
            EXPECT_EQ(name.rfind("horolab_ntp_", 0), 0u);
            ++samples;
        }
        at = end + 1;
    }
    EXPECT_EQ(samples, 12u);
    EXPECT_TRUE(Has(text, "horolab_ntp_reference_info{reference_id=\"127.127.1.1\"} 1\n"));
    EXPECT_TRUE(Has(text, "horolab_ntp_precision_seconds 9.5367431640625e-07\n")) << "2^-20 s";
    EXPECT_TRUE(Has(text, "horolab_ntp_leap 0\n"));

    const std::pair<const char*, const char*> labels[] = {
        {"GPS", "GPS"}, {"a\"b\\c", "a\\\"b\\\\c"}, {"x\ny", "x\\ny"}, {"\x01\xE9z", "??z"}};
    for (const auto& [raw, escaped] : labels)
        EXPECT_EQ(MetricLabelValue(raw), escaped);
}

TEST(Exporter, ListensWhereItIsTold)
{
    struct Case {
        const char* text;
        bool valid;
        bool ipv6 = false;
        uint16_t port = 0;
    };
    const Case cases[] = {
        {"9123", true, false, 9123}, {"0.0.0.0:80", true, false, 80}, {"[::1]:9123", true, true, 9123},
        {"0", true, false, 0},       {"", false},                     {"host:9123", false},
        {"::1:9123", false},         {"[::1]", false},                {"65536", false},
        {"-1", false},               {"127.0.0.1:", false},           {"[127.0.0.1]:9123", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ListenAddress at;
        ASSERT_EQ(ParseListenAddress(c.text, at), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(at.ipv6, c.ipv6);
        EXPECT_EQ(at.address.ss_family, c.ipv6 ? AF_INET6 : AF_INET);
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&at.address);
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&at.address);
        EXPECT_EQ(ntohs(c.ipv6 ? v6->sin6_port : v4->sin_port), c.port);
        if (!c.ipv6 && std::string(c.text).find(':') == std::string::npos) {
            EXPECT_EQ(ntohl(v4->sin_addr.s_addr), INADDR_LOOPBACK) << "loopback unless told";
        }
    }
}

// Hostile targets and clients, each beside a scrape that must still be
// answered: by its deadline, from one shared exchange, at all.
TEST(Exporter, HostileTargetsAndClientsLeaveOtherScrapesAnswered)
{
    using namespace std::chrono_literals;
    struct Case {
        const char* name;
        int trickling;      // scrapes at once of a key exchange that trickles in
        int slowClients;    // connections from 127.0.0.1 that never finish their request
        const char* source; // of the scrape that must be answered
    };
    const Case cases[] = {
        {"scrapes of a trickling key exchange share it and end at their deadline", 24, 0, "127.0.0.1"},
        {"slow clients from one address leave the others served", 0, 256, "127.0.0.2"},
        {"both at once", 24, 256, "127.0.0.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Responder ntp(Responder::NtpServer());
        Served exporter({ntp.ServerText()});
        CTricklingListener ke; // gone first: the exchange the exporter waits for at its end ends
        ASSERT_TRUE(exporter.server.Allow(ke.ServerText()));
        std::vector<int> slow;
        for (int i = 0; i < c.slowClients; ++i)
            if (const int s = Connect(exporter.port); s >= 0 && ::send(s, "GET /metrics?tar", 16, 0) == 16)
                slow.push_back(s);
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::future<std::string>> waiting;
        for (int i = 0; i < c.trickling; ++i)
            waiting.push_back(std::async(std::launch::async, [&exporter, &ke, &c] {
                return Get(exporter.port, "/metrics?nts=1&target=" + ke.ServerText(),
                           "X-Prometheus-Scrape-Timeout-Seconds: 1\r\n", c.source);
            }));
        std::this_thread::sleep_for(200ms); // the scrapes above wait now
        const auto own = std::chrono::steady_clock::now();
        EXPECT_TRUE(Has(Get(exporter.port, "/metrics", {}, c.source), "\nprocess_open_fds "));
        EXPECT_LT(std::chrono::steady_clock::now() - own, 1s) << "the exporter's own metrics never wait for a target";
        EXPECT_TRUE(Has(Get(exporter.port, "/metrics?target=" + ntp.ServerText(), {}, c.source),
                        "\nhorolab_ntp_reachable 1\n"));
        for (std::future<std::string>& reply : waiting)
            EXPECT_TRUE(Has(reply.get(), "\nhorolab_ntp_reachable{reason=\"scrape_timeout\"} 0\n"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "each by its 1 s deadline";
        EXPECT_LE(ke.Accepted(), c.trickling ? 1 : 0) << "one key exchange for them all";
        for (const int s : slow)
            ::close(s);
    }
}

// However a target is written, it is one target: one allow-list entry, one
// exchange, one kiss-code memory; what is no target is refused unasked.
TEST(Exporter, OneKeyPerTargetWhateverItsSpelling)
{
    Responder deny(Scripted({Reply::Deny}));
    const std::string port = std::to_string(deny.Port());
    Exporter exporter({"localhost:" + port});
    struct Case {
        std::string target;
        unsigned status;
    };
    const Case cases[] = {
        {"localhost:" + port, 200},    {"LOCALHOST:" + port, 200},    {"LocalHost.:" + port, 200},
        {"localhost.:" + port, 200},   {"localhost:0" + port, 400},   {"localhost:+" + port, 400},
        {"localhost:" + port + " ", 400}, {"localhost:" + port + "x", 400}, {" localhost:" + port, 400},
        {"localhost..:" + port, 400},  {"local host:" + port, 400},   {"127.0.0.1 junk:" + port, 400},
        {"127.1:" + port, 400},        {"0x7f.0.0.1:" + port, 400},   {"[::1:" + port, 400},
        {"localhost:65536", 400},      {"localhost:0", 400},          {"localhost:", 400},
        {"127.0.0.1:" + port, 403},    {"[::1]:" + port, 403},        {std::string(300, 'a') + ":1", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(exporter.Scrape(c.target).status, c.status);
    }
    EXPECT_EQ(deny.Requests().size(), 1u) << "one DENY for every spelling";
    EXPECT_EQ(exporter.cache.Size(), 1u);

    // Kept targets stay bounded; an entry forgotten is one nobody scraped lately.
    CTargetCache small{exporter.engine, 8};
    for (int i = 1; i <= 40; ++i) {
        TargetKey key;
        ASSERT_TRUE(ParseTargetKey("127.0.0.1:" + std::to_string(i), NtpPort, key));
        small.Sample(key, false, std::chrono::steady_clock::now() + std::chrono::seconds(10));
        EXPECT_LE(small.Size(), 8u);
    }
}

// The alerts and the dashboard shipped with the exporter query only metrics
// it emits: a plain scrape, an NTS one with a certificate, its own.
TEST(Exporter, RulesAndDashboardQueryWhatItEmits)
{
    Responder server(Responder::NtpServer());
    Exporter exporter({server.ServerText()});
    TargetSample nts;
    auto scrape = std::make_shared<CNtsSession::Scrape>();
    scrape->check.keyExchange.tls.hasCertificate = true;
    nts.ntsScrape = scrape;
    const std::string emitted = exporter.Scrape(server.ServerText()).body + TargetMetricsText(nts, 0) +
                                exporter.server.Answer({}).body;
    const std::regex expression("(\"expr\": |expr: )(.*)");
    const std::regex metric("\\b(horolab|process)_[a-z0-9_]+");
    size_t queried = 0;
    for (const char* file : {"packaging/horolab.rules.yml", "packaging/horolab-dashboard.json"}) {
        std::stringstream text;
        text << std::ifstream(std::string(HOROLAB_SOURCE_DIR) + "/" + file).rdbuf();
        const std::string content = text.str();
        for (std::sregex_iterator e(content.begin(), content.end(), expression), end; e != end; ++e) {
            const std::string query = (*e)[2];
            for (std::sregex_iterator m(query.begin(), query.end(), metric); m != end; ++m, ++queried)
                EXPECT_TRUE(Has(emitted, "# TYPE " + m->str() + " ")) << file << ": " << m->str() << " is not emitted";
        }
    }
    EXPECT_GE(queried, 20u) << "the files were read";
}

} // namespace

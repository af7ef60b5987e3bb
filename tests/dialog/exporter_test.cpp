// The exporter below its HTTP server: which requests it answers and how, and
// how often its targets hear from it: answers kept two seconds, longer after
// each RATE kiss, never again after DENY; a target not allowed gets nothing.
// Fake monotonic time, real sockets to loopback responders.
#include "frontends/exporter/Exporter.h"
#include "frontends/exporter/ExporterServer.h"
#include "frontends/exporter/MetricsText.h"
#include "support/DialogRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <memory>
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
    explicit Exporter(std::vector<std::string> targets, bool any = false) : server(cache, targets, any)
    {
        sockets.UseVirtualWaits(clock);
    }
};

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
         {{0, 1}, {2000, 2}}, "horolab_ntp_reachable 0\n"},
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
            const CExporterServer::Reply reply = exporter.server.Answer("GET", "/metrics", target.ServerText().c_str());
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
        {"GET", "/metrics", "localhost:1", true, 200, "horolab_ntp_reachable 0\n"}, // names match in any case
        {"GET", "/metrics", "", false, 200, "# TYPE process_resident_memory_bytes gauge\n"},
        {"POST", "/metrics", allowed.ServerText(), true, 405, "GET"},
        {"GET", "/", allowed.ServerText(), true, 404, "/metrics"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.method << " " << c.path << " " << c.target);
        const CExporterServer::Reply reply =
            exporter.server.Answer(c.method, c.path, c.withTarget ? c.target.c_str() : nullptr);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_TRUE(Has(reply.body, c.line)) << reply.body;
    }
    EXPECT_TRUE(other.Requests().empty()) << "no NTP packet for a target not allowed";
    EXPECT_EQ(allowed.Requests().size(), 1u);

    Exporter open({}, true);
    EXPECT_EQ(open.server.Answer("GET", "/metrics", other.ServerText().c_str()).status, 200u);
    EXPECT_EQ(other.Requests().size(), 1u) << "--any-target lifts the limit";
}

TEST(Exporter, MetricsFollowTheTextFormat)
{
    Responder server(Responder::NtpServer());
    Exporter exporter({server.ServerText()});
    const std::string text = exporter.server.Answer("GET", "/metrics", server.ServerText().c_str()).body;
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

} // namespace

// The exporter as Prometheus sees it: the built program serving metrics on
// loopback with chronyd as its target, a real Prometheus (unpacked in the
// build tree, never installed) scraping it every second; the offset and the
// stratum are read back through Prometheus' HTTP query API. A target not
// allowed gets 403 and no NTP packet. With nts=1 the exporter checks a
// chronyd serving NTS and gives the check's figures.
// Below its HTTP server, on fake monotonic time that moves the hours, the
// exporter is gentle as an NTS client (a key exchange an hour, again after a
// NAK, one authenticated exchange a scrape) and shows time only from an
// authenticated answer after a verified key exchange to an allowed server.
#include "frontends/exporter/ExporterServer.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/TricklingListener.h"
#include "support/UdpResponder.h"

#include "fakes/FakeClock.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace {
using namespace std::chrono_literals;

template <typename Done>
bool WaitUntil(Done done, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(200ms);
    }
    return true;
}

// The one sample Prometheus holds now for `metric`, as {labels, value}.
nlohmann::json Query(CHttpClient& prometheus, const std::string& metric)
{
    const CHttpClient::Response r = prometheus.Get("/api/v1/query?query=" + metric);
    if (r.status != 200)
        return {};
    const nlohmann::json answer = nlohmann::json::parse(r.body, nullptr, false);
    if (answer.is_discarded() || answer.value("status", "") != "success" || answer["data"]["result"].size() != 1)
        return {};
    return answer["data"]["result"][0];
}

struct Rig {
    FakeClock clock;
    CExchangeEngine engine{PosixSockets(), clock};
    CTargetCache cache{engine};
    CNtsChecker nts{engine, SystemTls(), SystemCrypto()};
    CExporterServer server{cache, false};
    Rig(const std::vector<std::string>& targets, const std::vector<std::string>& caFiles)
    {
        for (const std::string& target : targets)
            EXPECT_TRUE(server.Allow(target));
        cache.UseNts(nts, caFiles, [this](const NtsNtpServer& ntp) { return server.AllowsNtpServer(ntp); });
    }
    std::string Scrape(const std::string& target) { return server.Answer({"GET", "/metrics", target.c_str(), "1"}).body; }
};

double Value(const std::string& body, const std::string& metric)
{
    const size_t at = body.find("\n" + metric + " ");
    return at == std::string::npos ? -1.0 : std::atof(body.c_str() + at + metric.size() + 2);
}

bool Has(const std::string& body, const std::string& line) { return body.find("\n" + line) != std::string::npos; }

// A fresh directory with the test certificates, and a chronyd serving NTS
// with the good one.
class ExporterWithNts : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(m_dir); // an earlier run's samples would answer the queries
        for (const char* sub : {"", "/exporter", "/prometheus"})
            ::mkdir((m_dir + sub).c_str(), 0755);
        m_certs = MakeNtsCertificates(m_dir + "/certs");
        ASSERT_TRUE(m_certs.ok) << m_certs.error;
        ASSERT_TRUE(m_chrony.Start({.cert = m_certs.good, .key = m_certs.goodKey, .ntsNtpServer = {}}))
            << m_chrony.Error();
    }

    const std::string m_dir = ProcessTempDir("exporter");
    NtsCertificates m_certs;
    CNtsChrony m_chrony{m_dir + "/nts-chrony"};
};

TEST_F(ExporterWithNts, PrometheusReadsChronydsOffsetAndStratum)
{
    const std::string chrony = ChronyPort();
    ASSERT_FALSE(chrony.empty()) << "the chronyd fixture is not up";
    if (std::string(HOROLAB_PROMETHEUS).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "no prometheus unpacked in the build tree (scripts/test.sh unpacks it)";
    const std::string target = "127.0.0.1:" + chrony;
    CTricklingListener trickling;
    CChildProcess exporter({HOROLAB_PROGRAM, "--exporter", "127.0.0.1:0", "--target", target, "--target",
                            m_chrony.KeServerText(), "--target", trickling.ServerText(), "--nts-ca", m_certs.ca},
                           m_dir + "/exporter");
    std::smatch found;
    const std::regex listening("http://127\\.0\\.0\\.1:([0-9]+)/metrics");
    std::string out;
    ASSERT_TRUE(WaitUntil([&] { return std::regex_search(out = exporter.Out(), found, listening); }, 10s))
        << exporter.Err();
    const uint16_t exporterPort = static_cast<uint16_t>(std::stoi(found[1]));

    const uint16_t prometheusPort = static_cast<uint16_t>(FreeLoopbackPort());
    std::ofstream(m_dir + "/prometheus.yml") << "global:\n"
                                              "  scrape_interval: 1s\n"
                                              "scrape_configs:\n"
                                              "  - job_name: ntp\n"
                                              "    metrics_path: /metrics\n"
                                              "    params:\n"
                                              "      target: ['"
                                           << target << "']\n"
                                                        "    static_configs:\n"
                                                        "      - targets: ['127.0.0.1:"
                                           << exporterPort << "']\n";
    CChildProcess prometheus({HOROLAB_PROMETHEUS, "--config.file=" + m_dir + "/prometheus.yml",
                              "--storage.tsdb.path=" + m_dir + "/prometheus/data",
                              "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort), "--log.level=warn"},
                             m_dir + "/prometheus");
    CHttpClient api(prometheusPort);
    nlohmann::json stratum, offset;
    ASSERT_TRUE(WaitUntil([&] { return !(stratum = Query(api, "horolab_ntp_stratum")).is_null(); }, 60s))
        << prometheus.Err();
    ASSERT_TRUE(WaitUntil([&] { return !(offset = Query(api, "horolab_ntp_offset_seconds")).is_null(); }, 10s));
    EXPECT_EQ(stratum["value"][1], "3") << "chronyd's local stratum 3";
    EXPECT_EQ(stratum["metric"]["job"], "ntp");
    EXPECT_EQ(stratum["metric"]["instance"], "127.0.0.1:" + std::to_string(exporterPort));
    EXPECT_LT(std::fabs(std::stod(offset["value"][1].get<std::string>())), 0.05) << "chronyd keeps our clock";
    EXPECT_EQ(Query(api, "up")["value"][1], "1");

    // A target not named with --target.
    CUdpResponder stranger(CUdpResponder::NtpServer());
    CHttpClient scraper(exporterPort);
    const CHttpClient::Response refused = scraper.Get("/metrics?target=" + stranger.ServerText());
    EXPECT_EQ(refused.status, 403);
    EXPECT_FALSE(stranger.WaitForRequests(1, 500ms)) << "no NTP packet went to it";
    // The NTS check's figures, beside the time of its authenticated answer.
    const CHttpClient::Response nts = scraper.Get("/metrics?target=" + m_chrony.KeServerText() + "&nts=1");
    EXPECT_EQ(nts.status, 200);
    for (const char* line : {"\nhorolab_ntp_nts_authenticated 1\n", "\nhorolab_ntp_nts_certificate_verified 1\n",
                             "\nhorolab_ntp_nts_verdict_info{verdict=\"works\"} 1\n", "\nhorolab_ntp_reachable 1\n",
                             "\nhorolab_ntp_nts_certificate_expiry_timestamp_seconds "})
        EXPECT_NE(nts.body.find(line), std::string::npos) << line << nts.body;
    EXPECT_GE(Value(nts.body, "horolab_ntp_nts_cookies"), 1.0) << nts.body;
    EXPECT_EQ(scraper.Get("/metrics?target=" + m_chrony.KeServerText() + "&nts=2").status, 400);
    const CHttpClient::Response own = scraper.Get("/metrics");
    EXPECT_EQ(own.status, 200);
    EXPECT_NE(own.body.find("\nhorolab_exporter_ntp_requests_total "), std::string::npos) << own.body;

    prometheus.Signal(SIGTERM);
    EXPECT_EQ(prometheus.Wait(), 0) << prometheus.Err();
    // A stop ends it whatever still runs: a key exchange trickling in, a scrape waiting for it.
    std::thread waiting([&] { CHttpClient(exporterPort).Get("/metrics?nts=1&target=" + trickling.ServerText()); });
    ASSERT_TRUE(WaitUntil([&] { return trickling.Accepted() == 1; }, 10s));
    const auto stop = std::chrono::steady_clock::now();
    exporter.Signal(SIGTERM);
    EXPECT_EQ(exporter.Wait(), 0) << exporter.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 5s);
    waiting.join();
}

TEST_F(ExporterWithNts, OneKeyExchangeAnHourAndTimeOnlyFromTrustedAnswers)
{
    const std::string target = m_chrony.KeServerText();

    struct Step {
        const char* name;
        int64_t advanceSeconds;
        bool freshKeys; // the server loses its keys first
        bool keyExchange; // a new one for this scrape
        const char* reachable;
    };
    const Step steps[] = {
        {"the first scrape makes the key exchange", 0, false, true, "horolab_ntp_reachable 1\n"},
        {"the next lives on its cookies", 5, false, false, "horolab_ntp_reachable 1\n"},
        {"and the one after", 1000, false, false, "horolab_ntp_reachable 1\n"},
        {"an hour on, a new key exchange", 3600, false, true, "horolab_ntp_reachable 1\n"},
        {"the server lost its keys: a NAK", 5, true, false, "horolab_ntp_reachable{kiss_code=\"NTSN\"} 0\n"},
        {"after the NAK, a new key exchange", 5, false, true, "horolab_ntp_reachable 1\n"},
    };
    Rig rig({target}, {m_certs.ca});
    double lastAge = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        rig.clock.AdvanceMonotonic(step.advanceSeconds * 1000000);
        if (step.freshKeys) {
            ASSERT_TRUE(m_chrony.Restart(true)) << m_chrony.Error();
        }
        const std::string body = rig.Scrape(target);
        EXPECT_TRUE(Has(body, step.reachable)) << body;
        const double age = Value(body, "horolab_ntp_nts_key_exchange_age_seconds");
        if (step.keyExchange)
            EXPECT_LT(age, 1.0) << body;
        else
            EXPECT_GE(age, lastAge + step.advanceSeconds) << body;
        lastAge = age;
    }
    EXPECT_EQ(rig.cache.RequestsSent(), std::size(steps)) << "one NTP request a scrape";

    // Time only from what can be trusted.
    struct Refused {
        const char* name;
        bool trustCa;
        bool namesNtpServer; // the records name the NTP server
        bool ntpServerIsTarget;
        const char* reachable;
    };
    const Refused refused[] = {
        {"a certificate no authority here signed", false, false, false,
         "horolab_ntp_reachable{reason=\"nts\",verdict=\"certificate-untrusted\"} 0\n"},
        {"an NTP server the records name that is no target", true, true, false,
         "horolab_ntp_reachable{reason=\"nts\",verdict=\"ntp-not-allowed\"} 0\n"},
        {"the same once it is a target", true, true, true, "horolab_ntp_reachable 1\n"},
    };
    int n = 0;
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        CNtsChrony server(m_dir + "/refused" + std::to_string(++n));
        ASSERT_TRUE(server.Start({.cert = m_certs.good, .key = m_certs.goodKey,
                                  .ntsNtpServer = r.namesNtpServer ? "127.0.0.1" : ""}))
            << server.Error();
        std::vector<std::string> targets = {server.KeServerText()};
        if (r.ntpServerIsTarget)
            targets.push_back("127.0.0.1:" + std::to_string(server.NtpPort()));
        Rig other(targets, r.trustCa ? std::vector<std::string>{m_certs.ca} : std::vector<std::string>{});
        const std::string body = other.Scrape(server.KeServerText());
        EXPECT_TRUE(Has(body, r.reachable)) << body;
        EXPECT_EQ(Has(body, "horolab_ntp_offset_seconds "), Has(body, "horolab_ntp_reachable 1")) << body;
        EXPECT_EQ(other.cache.RequestsSent(), Has(body, "horolab_ntp_reachable 1") ? 1u : 0u);
    }
}

} // namespace

HOROLAB_QT_TEST_MAIN()

// The exporter as Prometheus sees it: the built program serving metrics on
// loopback with chronyd as its target, a real Prometheus (unpacked in the
// build tree, never installed) scraping it every second; the offset and the
// stratum are read back through Prometheus' HTTP query API. A target not
// allowed gets 403 and no NTP packet. With nts=1 the exporter checks a
// chronyd serving NTS and gives the check's figures.
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/TricklingListener.h"
#include "support/UdpResponder.h"

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

TEST(ExporterPrometheus, PrometheusReadsChronydsOffsetAndStratum)
{
    const std::string chrony = ChronyPort();
    ASSERT_FALSE(chrony.empty()) << "the chronyd fixture is not up";
    if (std::string(HOROLAB_PROMETHEUS).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "no prometheus unpacked in the build tree (scripts/test.sh unpacks it)";
    const std::string dir = ProcessTempDir("exporter_prometheus");
    std::filesystem::remove_all(dir); // an earlier run's samples would answer the queries
    for (const char* sub : {"", "/exporter", "/prometheus"})
        ::mkdir((dir + sub).c_str(), 0755);

    const std::string target = "127.0.0.1:" + chrony;
    const NtsCertificates certs = MakeNtsCertificates(dir + "/certs");
    ASSERT_TRUE(certs.ok) << certs.error;
    CNtsChrony secure(dir + "/nts-chrony");
    ASSERT_TRUE(secure.Start({.cert = certs.good, .key = certs.goodKey, .ntsNtpServer = {}})) << secure.Error();
    CTricklingListener trickling;
    CChildProcess exporter({HOROLAB_PROGRAM, "--exporter", "127.0.0.1:0", "--target", target, "--target",
                            secure.KeServerText(), "--target", trickling.ServerText(), "--nts-ca", certs.ca},
                           dir + "/exporter");
    std::smatch found;
    const std::regex listening("http://127\\.0\\.0\\.1:([0-9]+)/metrics");
    std::string out;
    ASSERT_TRUE(WaitUntil([&] { return std::regex_search(out = exporter.Out(), found, listening); }, 10s))
        << exporter.Err();
    const uint16_t exporterPort = static_cast<uint16_t>(std::stoi(found[1]));

    const uint16_t prometheusPort = static_cast<uint16_t>(FreeLoopbackPort());
    std::ofstream(dir + "/prometheus.yml") << "global:\n"
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
    CChildProcess prometheus({HOROLAB_PROMETHEUS, "--config.file=" + dir + "/prometheus.yml",
                              "--storage.tsdb.path=" + dir + "/prometheus/data",
                              "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort), "--log.level=warn"},
                             dir + "/prometheus");
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
    const CHttpClient::Response nts = scraper.Get("/metrics?target=" + secure.KeServerText() + "&nts=1");
    EXPECT_EQ(nts.status, 200);
    for (const char* line : {"\nhorolab_ntp_nts_authenticated 1\n", "\nhorolab_ntp_nts_certificate_verified 1\n",
                             "\nhorolab_ntp_nts_verdict_info{verdict=\"works\"} 1\n", "\nhorolab_ntp_reachable 1\n",
                             "\nhorolab_ntp_nts_certificate_expiry_timestamp_seconds "})
        EXPECT_NE(nts.body.find(line), std::string::npos) << line << nts.body;
    const std::string cookies = "\nhorolab_ntp_nts_cookies ";
    const size_t at = nts.body.find(cookies);
    ASSERT_NE(at, std::string::npos) << nts.body;
    EXPECT_GE(std::atoi(nts.body.c_str() + at + cookies.size()), 1);
    EXPECT_EQ(scraper.Get("/metrics?target=" + secure.KeServerText() + "&nts=2").status, 400);
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

} // namespace

HOROLAB_QT_TEST_MAIN()

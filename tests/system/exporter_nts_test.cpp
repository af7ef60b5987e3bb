// The exporter's NTS targets against the real chronyd serving NTS: gentle as
// an NTS client (a key exchange an hour, again after a NAK, one
// authenticated exchange a scrape) and showing time only from an
// authenticated answer after a verified key exchange to an allowed server.
// Fake monotonic time moves the hour; the exporter below its HTTP server.
#include "frontends/exporter/ExporterServer.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"

#include "fakes/FakeClock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

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

TEST(ExporterNts, OneKeyExchangeAnHourAndTimeOnlyFromTrustedAnswers)
{
    const std::string dir = ProcessTempDir("exporter_nts");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const NtsCertificates certs = MakeNtsCertificates(dir + "/certs");
    ASSERT_TRUE(certs.ok) << certs.error;
    CNtsChrony chrony(dir + "/chrony");
    NtsChronySetUp setUp{.cert = certs.good, .key = certs.goodKey, .ntsNtpServer = {}};
    ASSERT_TRUE(chrony.Start(setUp)) << chrony.Error();
    const std::string target = chrony.KeServerText();

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
    Rig rig({target}, {certs.ca});
    double lastAge = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        rig.clock.AdvanceMonotonic(step.advanceSeconds * 1000000);
        if (step.freshKeys) {
            ASSERT_TRUE(chrony.Restart(true)) << chrony.Error();
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
        setUp.ntsNtpServer = r.namesNtpServer ? "127.0.0.1" : "";
        CNtsChrony server(dir + "/refused" + std::to_string(++n));
        ASSERT_TRUE(server.Start(setUp)) << server.Error();
        std::vector<std::string> targets = {server.KeServerText()};
        if (r.ntpServerIsTarget)
            targets.push_back("127.0.0.1:" + std::to_string(server.NtpPort()));
        Rig other(targets, r.trustCa ? std::vector<std::string>{certs.ca} : std::vector<std::string>{});
        const std::string body = other.Scrape(server.KeServerText());
        EXPECT_TRUE(Has(body, r.reachable)) << body;
        EXPECT_EQ(Has(body, "horolab_ntp_offset_seconds "), Has(body, "horolab_ntp_reachable 1")) << body;
        EXPECT_EQ(other.cache.RequestsSent(), Has(body, "horolab_ntp_reachable 1") ? 1u : 0u);
    }
}

} // namespace

HOROLAB_QT_TEST_MAIN()

// The NTS check, run as the operator runs it, against hostile key-exchange
// servers on loopback: one table of {server, verdict, datagrams that may
// reach the NTP server its records name, longest run}. Whatever the server
// does, the check ends in time, follows its records only after a trusted key
// exchange and prints nothing but printable text.
#include "nts/NtsKeRecords.h"
#include "nts/NtsPacket.h"
#include "support/ChildProcess.h"
#include "support/HostileNtsKe.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/UdpResponder.h"

#include <chrono>
#include <memory>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

enum class NtpReply { None, Nak, NakOtherOrigin }; // of the NTP server the records name

struct HostileRow {
    const char* name;
    HostileKeMode mode;
    bool clientOnlyCertificate;
    bool trustCa;
    NtpReply ntp;
    const char* verdict;
    size_t datagrams; // per run, to the NTP server the records name
    int longestSeconds;
};

// The key exchange has 10 s, the whole check 16 s.
const HostileRow Rows[] = {
    {"trickle", HostileKeMode::Trickle, false, true, NtpReply::None, "ke-timeout", 0, 16},
    {"big cookies, untrusted", HostileKeMode::BigCookies, false, false, NtpReply::None, "certificate-untrusted", 0, 12},
    {"big cookies", HostileKeMode::BigCookies, false, true, NtpReply::None, "ke-cookie-too-long", 0, 12},
    {"no End of Message", HostileKeMode::NoEndOfMessage, false, true, NtpReply::None, "ke-incomplete", 0, 12},
    {"escape text, untrusted", HostileKeMode::EscapeText, false, false, NtpReply::None, "certificate-untrusted", 0, 12},
    {"escape text", HostileKeMode::EscapeText, false, true, NtpReply::None, "ke-bad-ntp-server", 0, 12},
    {"port 0", HostileKeMode::PortZero, false, true, NtpReply::None, "ke-ntp-port-zero", 0, 12},
    {"client-only certificate", HostileKeMode::Sound, true, true, NtpReply::None, "certificate-wrong-purpose", 0, 12},
    // Trusted: the NTS request (and the plain query after silence) follow the records.
    {"trusted, NTP server silent", HostileKeMode::Sound, false, true, NtpReply::None, "ntp-silent", 2, 16},
    {"trusted, NAK", HostileKeMode::Sound, false, true, NtpReply::Nak, "nak", 1, 12},
    {"trusted, NAK with another origin", HostileKeMode::Sound, false, true, NtpReply::NakOtherOrigin, "not-nts", 1, 12},
};

// A NAK: kiss code NTSN and the request's Unique Identifier field, no authenticator.
std::vector<CUdpResponder::Datagram> Reply(NtpReply reply, const CUdpResponder::Request& r)
{
    const size_t idEnd = NtpHeaderSize + 4 + NtsUniqueIdentifierSize;
    if (reply == NtpReply::None || r.bytes.size() < idEnd)
        return {};
    std::vector<uint8_t> nak = CUdpResponder::Message(CUdpResponder::KissReply(r, "NTSN")).bytes;
    if (reply == NtpReply::NakOtherOrigin)
        nak[31] ^= 1;
    nak.insert(nak.end(), r.bytes.begin() + NtpHeaderSize, r.bytes.begin() + idEnd);
    return {{nak}};
}

// The program started as an operator starts it, its output kept in a
// folder of its own so that two runs can go side by side.
class CHorolabRun {
public:
    CHorolabRun(const std::string& server, const std::string& ca, bool json)
        : m_dir(ProcessTempDir(json ? "nts-hostile-json" : "nts-hostile-text")), m_child(Args(server, ca, json), MadeDir())
    {
    }
    std::string Out(double& seconds)
    {
        m_child.Wait();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        return m_child.Out();
    }

private:
    static std::vector<std::string> Args(const std::string& server, const std::string& ca, bool json)
    {
        std::vector<std::string> args = {HOROLAB_PROGRAM, "--nts", server};
        if (!ca.empty())
            args.insert(args.end(), {"--nts-ca", ca});
        if (json)
            args.push_back("--json");
        return args;
    }
    const std::string& MadeDir() const
    {
        ::mkdir(m_dir.c_str(), 0755);
        return m_dir;
    }

    std::string m_dir;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    CChildProcess m_child;
};

// Printable ASCII and line feeds only: nothing a terminal would act on.
bool Printable(const std::string& text)
{
    for (unsigned char c : text)
        if ((c < 0x20 || c > 0x7E) && c != '\n')
            return false;
    return true;
}

TEST(NtsHostileServers, EndInTimeSendNothingUntrustedAndPrintOnlyText)
{
    const NtsCertificates certs = MakeNtsCertificates(ProcessTempDir("nts-hostile-certs"));
    ASSERT_TRUE(certs.ok) << certs.error;
    for (const HostileRow& row : Rows) {
        SCOPED_TRACE(row.name);
        CUdpResponder named([&](const CUdpResponder::Request& r) { return Reply(row.ntp, r); }, "127.0.0.2");
        ASSERT_TRUE(named.IsListening());
        CHostileNtsKe server(row.mode, row.clientOnlyCertificate ? certs.clientOnly : certs.good,
                             row.clientOnlyCertificate ? certs.clientOnlyKey : certs.goodKey, "127.0.0.2",
                             named.Port());
        ASSERT_TRUE(server.IsListening());
        const std::string ca = row.trustCa ? certs.ca : "";

        // Side by side, but the trickle once: it holds its server for the whole 10 s.
        const size_t runs = row.mode == HostileKeMode::Trickle ? 1 : 2;
        CHorolabRun jsonRun(server.ServerText(), ca, true);
        std::unique_ptr<CHorolabRun> textRun;
        if (runs == 2)
            textRun = std::make_unique<CHorolabRun>(server.ServerText(), ca, false);
        double seconds = 0;
        const std::string json = jsonRun.Out(seconds);
        EXPECT_LE(seconds, row.longestSeconds);
        EXPECT_TRUE(Printable(json)) << json;
        const nlohmann::json out = nlohmann::json::parse(json, nullptr, false);
        ASSERT_FALSE(out.is_discarded()) << json;
        EXPECT_EQ(out["verdict"]["code"], row.verdict) << out["verdict"]["text"];
        if (textRun) {
            const std::string text = textRun->Out(seconds);
            EXPECT_LE(seconds, row.longestSeconds);
            EXPECT_TRUE(Printable(text)) << text;
            EXPECT_NE(text.find("\nVerdict: " + out["verdict"]["text"].get<std::string>() + "\n"), std::string::npos)
                << text;
            const bool followed = row.datagrams > 0;
            EXPECT_EQ(text.find("NTS exchange 1 with 127.0.0.2:" + std::to_string(named.Port()) +
                                " (named by the server)") != std::string::npos,
                      followed);
            EXPECT_EQ(text.find("No NTS request sent") == std::string::npos, followed);
        }
        const std::vector<CUdpResponder::Request> sent = named.Requests();
        EXPECT_EQ(sent.size(), runs * row.datagrams);
        for (const CUdpResponder::Request& r : sent)
            // Header, identifier, the longest cookie and its placeholder, authenticator.
            EXPECT_LE(r.bytes.size(), 48 + 36 + 2 * (4 + NtsMaxCookieBytes) + 40);
    }
}

} // namespace

HOROLAB_QT_TEST_MAIN()

// The NTS check, run as the operator runs it, against hostile key-exchange
// servers on loopback: one table of {server, verdict, datagrams that may
// reach the NTP server its records name, longest run}. Whatever the server
// does, the check ends in time, follows its records only after a trusted key
// exchange and prints nothing but printable text.
#include "nts/NtsPacket.h"
#include "support/ChildProcess.h"
#include "support/HostileNtsKe.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/UdpResponder.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

enum class NtpReply { None, Nak, NakOtherOrigin }; // of the NTP server the records name

struct HostileRow {
    const char* name;
    HostileKeMode mode;
    bool clientOnlyCertificate, trustCa;
    NtpReply ntp;
    const char* verdict;
    size_t datagrams; // per run, to the NTP server the records name
    int longestSeconds;
};

// The key exchange has 10 s, the whole check 16 s. Only after a trusted key
// exchange do the NTS request (and the plain query after silence) follow the records.
const HostileRow Rows[] = {
    {"trickle", HostileKeMode::Trickle, false, true, NtpReply::None, "ke-timeout", 0, 16},
    {"big cookies, untrusted", HostileKeMode::BigCookies, false, false, NtpReply::None, "certificate-untrusted", 0, 12},
    {"big cookies", HostileKeMode::BigCookies, false, true, NtpReply::None, "ke-cookie-too-long", 0, 12},
    {"no End of Message", HostileKeMode::NoEndOfMessage, false, true, NtpReply::None, "ke-incomplete", 0, 12},
    {"escape text, untrusted", HostileKeMode::EscapeText, false, false, NtpReply::None, "certificate-untrusted", 0, 12},
    {"escape text", HostileKeMode::EscapeText, false, true, NtpReply::None, "ke-bad-ntp-server", 0, 12},
    {"port 0", HostileKeMode::PortZero, false, true, NtpReply::None, "ke-ntp-port-zero", 0, 12},
    {"client-only certificate", HostileKeMode::Sound, true, true, NtpReply::None, "certificate-wrong-purpose", 0, 12},
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

TEST(NtsHostileServers, EndInTimeSendNothingUntrustedAndPrintOnlyText)
{
    const std::string dir = ProcessTempDir("nts-hostile");
    const NtsCertificates certs = MakeNtsCertificates(dir);
    ASSERT_TRUE(certs.ok) << certs.error;
    for (const HostileRow& row : Rows) {
        SCOPED_TRACE(row.name);
        CUdpResponder named([&](const CUdpResponder::Request& r) { return Reply(row.ntp, r); }, "127.0.0.2");
        const bool client = row.clientOnlyCertificate;
        CHostileNtsKe server(row.mode, client ? certs.clientOnly : certs.good,
                             client ? certs.clientOnlyKey : certs.goodKey, "127.0.0.2", named.Port());
        ASSERT_TRUE(named.IsListening() && server.IsListening());
        std::vector<std::string> args = {HOROLAB_PROGRAM, "--nts", server.ServerText()};
        if (row.trustCa)
            args.insert(args.end(), {"--nts-ca", certs.ca});
        // Run as an operator runs it, text and JSON side by side (each output
        // in a folder of its own), but the trickle once: it holds its server for the whole 10 s.
        const size_t runs = row.mode == HostileKeMode::Trickle ? 1 : 2;
        const auto start = std::chrono::steady_clock::now();
        std::future<std::string> textRun = std::async(runs == 2 ? std::launch::async : std::launch::deferred,
                                                      [args, &dir] { return RunProgram(args, dir).out; });
        args.push_back("--json");
        const std::vector<std::string> outputs = {RunProgram(args, ::testing::TempDir()).out,
                                                  runs == 2 ? textRun.get() : ""};
        EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(row.longestSeconds));
        for (const std::string& output : outputs)
            // Printable ASCII and line feeds only: nothing a terminal would act on.
            EXPECT_TRUE(std::all_of(output.begin(), output.end(),
                                    [](unsigned char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); }))
                << output;
        const nlohmann::json json = nlohmann::json::parse(outputs[0], nullptr, false);
        ASSERT_FALSE(json.is_discarded()) << outputs[0];
        EXPECT_EQ(json["verdict"]["code"], row.verdict) << json["verdict"]["text"];
        const std::string& text = outputs[1];
        if (runs == 2) {
            EXPECT_NE(text.find("\nVerdict: " + json["verdict"]["text"].get<std::string>() + "\n"), std::string::npos)
                << text;
            const std::string ntp = "NTS exchange 1 with 127.0.0.2:" + std::to_string(named.Port());
            EXPECT_EQ(text.find(ntp + " (named by the server)") != std::string::npos, row.datagrams > 0);
            EXPECT_EQ(text.find("No NTS request sent") == std::string::npos, row.datagrams > 0);
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

// Bad and odd server texts typed by the operator, run through a whole query:
// very long texts, names that do not resolve, ports out of every range, and
// random texts. Each gets exactly the message or log line the operator is
// owed, nothing is sent where nothing may go, and the dialog stays usable.
// Look-ups are answered by the test, never by the system's resolver.
#include "query/ServerText.h"
#include "support/DialogRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <random>

namespace {
using Responder = CUdpResponder;

constexpr uint32_t Loopback = 0x0100007Fu; // 127.0.0.1 in network order

class FaultInputTest : public ::testing::Test, public DialogRig {
protected:
    void SetUp() override
    {
        dialog.OnInitDialog();
        // No name resolves unless a test says otherwise.
        sockets.SetResolver([](const std::string&, uint32_t&) { return false; });
    }

    void Query(const std::string& serverText)
    {
        window.SetText(IDC_SERVER, serverText);
        window.ClearRecords();
        window.SetText(IDC_LOG, "the previous report");
        dialog.OnCommand(IDC_GO);
    }

    void ExpectIdle()
    {
        for (int id : {IDC_SERVER, IDC_GO, IDC_SET_TIME, IDC_PORT123, IDCANCEL, IDC_CLEAR_LOG})
            EXPECT_TRUE(window.IsControlEnabled(id)) << "control " << id;
        EXPECT_TRUE(window.IsMenuBarItemEnabled(0));
        EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), sockets.Count(SocketCall::Close))
            << "every socket a query opened is closed again";
    }

    std::string OnlyMessageBox()
    {
        const auto boxes = window.MessageBoxes();
        return boxes.size() == 1 ? boxes[0].text : "(" + std::to_string(boxes.size()) + " message boxes)";
    }
};

std::string FirstLine(const std::string& host, const std::string& port)
{
    return "Querying host " + host + ":" + port + " from random port\r\n\r\n";
}

// --- A thousand characters -------------------------------------------------

TEST_F(FaultInputTest, ThousandCharacterTextsAreLookedUpWholeAndReportedUncut)
{
    const std::string letters(1000, 'a');
    std::string colons;
    for (int i = 0; i < 500; ++i)
        colons += "a:"; // 500 tokens: taken whole as an IPv6 address, never looked up
    for (const std::string& text : {letters, colons}) {
        Query(text);
        EXPECT_EQ(window.LogText(), "--Could not find host " + text + ".");
        EXPECT_TRUE(window.MessageBoxes().empty());
        ExpectIdle();
    }
    EXPECT_EQ(sockets.LookedUp(), std::vector<std::string>{letters});
    EXPECT_TRUE(sockets.Sends().empty());
}

TEST_F(FaultInputTest, ThousandCharacterNameThatResolvesGetsAWideReport)
{
    Responder server(Responder::NtpServer());
    const std::string port = std::to_string(server.Port());
    const std::string host = std::string(1000 - 1 - port.size(), 'n');
    sockets.SetResolver([host](const std::string& name, uint32_t& address) {
        address = Loopback;
        return name == host;
    });
    Query(host + ":" + port);
    const std::string log = window.LogText();
    EXPECT_EQ(log.rfind(FirstLine(host, port), 0), 0u);
    // The host line of the result box grows with the name; nothing is cut.
    EXPECT_NE(log.find("\r\n| " + host + " is online |\r\n| at Stratum   2"), std::string::npos);
    EXPECT_NE(log.find("Packet size: 48 bytes"), std::string::npos);
    EXPECT_EQ(server.Requests().size(), 1u);
    ExpectIdle();
}

// --- Names that do not resolve ------------------------------------------------

TEST_F(FaultInputTest, NamesThatDoNotResolveAreLoggedAndNothingIsSent)
{
    const std::pair<const char*, const char*> cases[] = {
        {"no-such-host.example", "no-such-host.example"},
        {"name with blanks", "name with blanks"},
        {"255.255.255.255", "255.255.255.255"}, // not an address to inet_addr
        {"256.1.1.1", "256.1.1.1"},
        {"1.2.3.4.5:123", "1.2.3.4.5"},
        {":124", ""},                         // the empty host goes to the look-up
        {"host.example:", "host.example:"},   // one token: the colon stays
        {"\xe4\xf6\xfc.example", "\xe4\xf6\xfc.example"},
    };
    for (const auto& [text, host] : cases) {
        SCOPED_TRACE(text);
        const int cleanups = sockets.Count(SocketCall::Cleanup);
        Query(text);
        EXPECT_EQ(window.LogText(), std::string("--Could not find host ") + host + ".");
        EXPECT_TRUE(window.MessageBoxes().empty());
        ASSERT_FALSE(sockets.LookedUp().empty());
        EXPECT_EQ(sockets.LookedUp().back(), host);
        // The query's one start-up is released once.
        EXPECT_EQ(sockets.Count(SocketCall::Cleanup) - cleanups, 1);
        ExpectIdle();
    }
    EXPECT_TRUE(sockets.Sends().empty());
}

// --- Ports ----------------------------------------------------------------------

TEST_F(FaultInputTest, PortsBelowOneShowInvalidPortBeforeAnything)
{
    for (const char* text : {"127.0.0.1:0", "127.0.0.1:-5", "127.0.0.1:abc", "127.0.0.1: ",
                             "127.0.0.1:-99999999999", "[::1]:0", "[::1]x"}) {
        SCOPED_TRACE(text);
        Query(text);
        EXPECT_EQ(OnlyMessageBox(), "Invalid Port.");
        EXPECT_EQ(window.LogText(), "");
        ExpectIdle();
    }
    EXPECT_TRUE(sockets.LookedUp().empty());
    EXPECT_TRUE(sockets.Sends().empty());
    EXPECT_TRUE(window.Control(IDC_SERVER).list.empty()) << "a rejected text is not remembered";
}

// A port number beyond 65535 is accepted: the log line shows it as read,
// the request goes to its low 16 bits. 99999999999 does not fit 32 bits and
// is held at 2147483647, whose low bits are 65535.
TEST_F(FaultInputTest, PortsAbove65535GoToTheirLowSixteenBits)
{
    Responder server(Responder::NtpServer(), "127.0.0.77", 65535);
    if (!server.IsListening())
        GTEST_SKIP() << "127.0.0.77:65535 is taken";
    const std::pair<const char*, const char*> cases[] = {
        {"127.0.0.77:99999999999", "2147483647"},
        {"127.0.0.77:131071", "131071"},
        {"127.0.0.77:2147483647", "2147483647"},
    };
    size_t requests = 0;
    for (const auto& [text, shown] : cases) {
        SCOPED_TRACE(text);
        Query(text);
        const std::string log = window.LogText();
        EXPECT_EQ(log.rfind(FirstLine("127.0.0.77", shown), 0), 0u) << log;
        EXPECT_NE(log.find("| 127.0.0.77 is online"), std::string::npos);
        EXPECT_EQ(server.Requests().size(), ++requests);
        ASSERT_FALSE(sockets.Sends().empty());
        EXPECT_EQ(sockets.Sends().back().to.port, htons(65535));
        ExpectIdle();
    }
}

// 65536 is accepted too, and its low 16 bits are 0: no datagram can go to
// port 0, so the send fails and says so.
TEST_F(FaultInputTest, Port65536IsAcceptedAndItsSendFails)
{
    for (const char* port : {"65536", "131072"}) {
        SCOPED_TRACE(port);
        Query(std::string("127.0.0.1:") + port);
        EXPECT_EQ(window.LogText(), FirstLine("127.0.0.1", port) + "Socket Error while sending.");
        EXPECT_TRUE(window.MessageBoxes().empty());
        ASSERT_FALSE(sockets.Sends().empty());
        EXPECT_EQ(sockets.Sends().back().to.port, 0);
        ExpectIdle();
    }
}

// --- Random texts -----------------------------------------------------------------

// Whatever the operator types, the query ends in the outcome the text calls
// for, with the controls back. Sends are refused here, so that a random text
// that happens to be a numeric address sends nothing off this machine.
TEST_F(FaultInputTest, RandomTextsEndInTheirOutcomeAndLeaveTheDialogUsable)
{
    sockets.FailNext(SocketCall::SendTo, 10051, -1);
    std::mt19937 random(4711);
    std::uniform_int_distribution<size_t> length(0, 1000);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> anyByte(1, 255);
    const std::string likely = "0123456789.:-+ \tabcx";
    std::uniform_int_distribution<size_t> likelyIndex(0, likely.size() - 1);

    int outcomes[4] = {};
    for (int n = 0; n < 300; ++n) {
        std::string text;
        const size_t size = n < 100 ? length(random) % 24 : length(random);
        for (size_t i = 0; i < size; ++i)
            text += kind(random) == 0 ? static_cast<char>(anyByte(random)) : likely[likelyIndex(random)];
        SCOPED_TRACE(text);
        Query(text);

        const ServerText parsed = ParseServerText(text);
        const std::string log = window.LogText();
        if (parsed.status == ServerTextStatus::NoHost) {
            ++outcomes[0];
            EXPECT_EQ(OnlyMessageBox(), "No host given.");
            EXPECT_EQ(log, "");
        } else if (parsed.status == ServerTextStatus::InvalidPort) {
            ++outcomes[1];
            EXPECT_EQ(OnlyMessageBox(), "Invalid Port.");
            EXPECT_EQ(log, "");
        } else if (in6_addr a6; parsed.ipv6Literal && ::inet_pton(AF_INET6, parsed.host.c_str(), &a6) == 1) {
            ++outcomes[2];
            EXPECT_EQ(log, "Querying host [" + parsed.host + "] from random port\r\n\r\nSocket Error while sending.");
        } else if (!parsed.ipv6Literal && ::inet_addr(parsed.host.c_str()) != INADDR_NONE) {
            ++outcomes[2];
            const std::string shown = parsed.port == 123 ? "Querying host " + parsed.host + " from random port\r\n\r\n"
                                                         : FirstLine(parsed.host, std::to_string(parsed.port));
            EXPECT_EQ(log, shown + "Socket Error while sending.");
        } else {
            ++outcomes[3];
            EXPECT_EQ(log, "--Could not find host " + parsed.host + ".");
        }
        ExpectIdle();
    }
    // The texts reached every outcome: no host, bad port, address, unknown name.
    for (int count : outcomes)
        EXPECT_GT(count, 0);
}

} // namespace

// The server text turned into the address the request goes to: splitting,
// the port check with its message box, the address check and the look-up.
// Look-ups are answered by the test, so no query leaves the machine.
#include "support/DialogRig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <climits>

namespace {

class ServerAddressTest : public ::testing::Test, public DialogRig {
protected:
    void SetUp() override
    {
        // Every name resolves to 198.51.100.7 (never sent to), except those ending in ".invalid".
        sockets.SetResolver([](const std::string& host, uint32_t& address) {
            if (host.size() >= 8 && host.compare(host.size() - 8, 8, ".invalid") == 0)
                return false;
            address = ::inet_addr("198.51.100.7");
            return true;
        });
        dialog.m_serverAddress.port = htons(4711); // an earlier server's, to see it kept
    }

    bool SetFromBox(const std::string& text)
    {
        window.SetText(IDC_SERVER, text);
        return dialog.SetServer("");
    }

    void ExpectAddress(const char* address, uint16_t port)
    {
        EXPECT_EQ(dialog.m_serverAddress.family, 2);
        EXPECT_EQ(dialog.m_serverAddress.address, ::inet_addr(address));
        EXPECT_EQ(dialog.m_serverAddress.port, htons(port));
    }

    void ExpectRejectedWith(const char* message)
    {
        ASSERT_EQ(window.MessageBoxes().size(), 1u);
        EXPECT_EQ(window.MessageBoxes()[0].text, message);
        EXPECT_EQ(window.MessageBoxes()[0].icon, MessageIcon::None);
        EXPECT_EQ(window.LogText(), "") << "the box comes before anything is logged";
        EXPECT_TRUE(sockets.LookedUp().empty());
        EXPECT_EQ(dialog.m_serverAddress.port, htons(4711)) << "the address is kept";
    }
};

// --- Splitting and the port --------------------------------------------------

TEST_F(ServerAddressTest, AddressWithAndWithoutPort)
{
    ASSERT_TRUE(SetFromBox("192.0.2.1:124"));
    EXPECT_EQ(dialog.m_host, "192.0.2.1");
    EXPECT_EQ(dialog.m_port, 124);
    ExpectAddress("192.0.2.1", 124);

    ASSERT_TRUE(SetFromBox("192.0.2.1"));
    EXPECT_EQ(dialog.m_port, 123);
    ExpectAddress("192.0.2.1", 123);
    EXPECT_TRUE(sockets.LookedUp().empty()) << "an address needs no look-up";
}

TEST_F(ServerAddressTest, PortIsReadLikeAtoiAndOnlyItsLowBitsReachTheAddress)
{
    const struct {
        const char* text;
        int32_t port;
        uint16_t wire;
    } cases[] = {
        {"192.0.2.1:12x", 12, 12},        {"192.0.2.1: 99", 99, 99},
        {"192.0.2.1:65536", 65536, 0},    {"192.0.2.1:65659", 65659, 123},
        {"192.0.2.1:99999999999", INT_MAX, 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(SetFromBox(c.text));
        EXPECT_EQ(dialog.m_port, c.port);
        ExpectAddress("192.0.2.1", c.wire);
    }
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(ServerAddressTest, PortBelowOneIsInvalid)
{
    const struct {
        const char* text;
        const char* host;
        int32_t port;
    } cases[] = {
        {"192.0.2.1:0", "192.0.2.1", 0},   {"192.0.2.1:-5", "192.0.2.1", -5},
        {"192.0.2.1:abc", "192.0.2.1", 0}, {"[::1]:0", "::1", 0},
        {"192.0.2.1:-99999999999", "192.0.2.1", INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        window.ClearRecords();
        EXPECT_FALSE(SetFromBox(c.text));
        ExpectRejectedWith("Invalid Port.");
        EXPECT_EQ(dialog.m_host, c.host) << "host and port keep what the split gave";
        EXPECT_EQ(dialog.m_port, c.port);
    }
}

TEST_F(ServerAddressTest, EmptyBoxIsNoHost)
{
    dialog.m_host = "earlier";
    dialog.m_port = 777;
    EXPECT_FALSE(SetFromBox(""));
    ExpectRejectedWith("No host given.");
    EXPECT_EQ(dialog.m_host, "");
    EXPECT_EQ(dialog.m_port, 777) << "the split never ran";
}

TEST_F(ServerAddressTest, GivenTextIsUsedInsteadOfTheBox)
{
    window.SetText(IDC_SERVER, "192.0.2.1");
    ASSERT_TRUE(dialog.SetServer("192.0.2.9:5"));
    EXPECT_EQ(dialog.m_host, "192.0.2.9");
    ExpectAddress("192.0.2.9", 5);
}

// --- Texts that go to the look-up whole ----------------------------------------

TEST_F(ServerAddressTest, TextsThatDoNotSplitInTwoAreLookedUpWhole)
{
    const char* texts[] = {"192.0.2.1:", "ntp.example.org:", "255.255.255.255"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(SetFromBox(text));
        EXPECT_EQ(dialog.m_host, text);
        EXPECT_EQ(dialog.m_port, 123);
        ASSERT_FALSE(sockets.LookedUp().empty());
        EXPECT_EQ(sockets.LookedUp().back(), text);
        ExpectAddress("198.51.100.7", 123);
    }
}

TEST_F(ServerAddressTest, EmptyHostPartGoesToTheLookUp)
{
    ASSERT_TRUE(SetFromBox(":124"));
    EXPECT_EQ(sockets.LookedUp(), std::vector<std::string>{""});
    EXPECT_EQ(dialog.m_host, "");
    EXPECT_EQ(dialog.m_port, 124);
    EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(ServerAddressTest, FailedLookUpIsLoggedAndKeepsTheAddress)
{
    window.SetText(IDC_LOG, "Querying host x\r\n");
    EXPECT_FALSE(SetFromBox("ntp.example.invalid:124"));
    EXPECT_EQ(window.LogText(), "Querying host x\r\n\r\n--Could not find host ntp.example.invalid.");
    EXPECT_EQ(sockets.Count(SocketCall::Cleanup), 0) << "the socket's owner releases";
    EXPECT_EQ(dialog.m_host, "ntp.example.invalid");
    EXPECT_EQ(dialog.m_port, 124);
    EXPECT_EQ(dialog.m_serverAddress.port, htons(4711));
    EXPECT_TRUE(window.MessageBoxes().empty());
}

// --- The system's resolver ---------------------------------------------------

// Only texts the resolver settles without asking a name server: malformed
// names, the empty name and numeric text.
TEST_F(ServerAddressTest, SystemResolverRefusesMalformedNamesAndTakesNumericText)
{
    sockets.SetResolver(FaultySockets::AddressResolver());
    EXPECT_FALSE(SetFromBox("no-such..host"));
    EXPECT_EQ(window.LogText(), "--Could not find host no-such..host.");

    window.SetText(IDC_LOG, "");
    EXPECT_FALSE(SetFromBox(":124"));
    EXPECT_EQ(window.LogText(), "--Could not find host .");

    ASSERT_TRUE(SetFromBox("255.255.255.255"));
    ExpectAddress("255.255.255.255", 123);
    EXPECT_EQ(sockets.LookedUp().back(), "255.255.255.255");
}

} // namespace

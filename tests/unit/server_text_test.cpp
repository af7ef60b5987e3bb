#include "query/ServerText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace {

TEST(ParsePortNumber, AgreesWithAtoiInsideTheRange)
{
    const char* texts[] = {"123", "  42", "\t\n-3", "+7", "12x", "x12", "", "-", "+", "00123",
                           "1 2", "2147483647", "-2147483648", "- 5", "65536", "0", "-0", " \v\f\r9"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParsePortNumber(text), std::atoi(text));
    }
}

TEST(ParsePortNumber, SaturatesBeyondTheRange)
{
    EXPECT_EQ(ParsePortNumber("2147483648"), INT_MAX);
    EXPECT_EQ(ParsePortNumber("99999999999"), INT_MAX);
    EXPECT_EQ(ParsePortNumber("99999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(ParsePortNumber("-2147483649"), INT_MIN);
    EXPECT_EQ(ParsePortNumber("-99999999999"), INT_MIN);
}

TEST(ParseServerText, SplitsOnlyATextOfExactlyTwoTokens)
{
    const struct {
        const char* text;
        const char* host;
        int32_t port;
        ServerTextStatus status;
        bool ipv6 = false;
    } cases[] = {
        {"192.0.2.1:124", "192.0.2.1", 124, ServerTextStatus::Ok},
        {"192.0.2.1", "192.0.2.1", 123, ServerTextStatus::Ok},
        {"192.0.2.1:", "192.0.2.1:", 123, ServerTextStatus::Ok},
        {":124", "", 124, ServerTextStatus::Ok},
        {"host:1:2", "host:1:2", 123, ServerTextStatus::Ok, true},
        {"fe80::1", "fe80::1", 123, ServerTextStatus::Ok, true},
        {"[2001:db8::1]", "2001:db8::1", 123, ServerTextStatus::Ok, true},
        {"[2001:db8::1]:124", "2001:db8::1", 124, ServerTextStatus::Ok, true},
        {"[::1]:", "::1", 0, ServerTextStatus::InvalidPort, true},
        {"[::1]124", "::1", 0, ServerTextStatus::InvalidPort, true},
        {"[::1", "::1", 123, ServerTextStatus::Ok, true},
        {"[]:124", "", 124, ServerTextStatus::NoHost, true},
        {"a::", "a::", 123, ServerTextStatus::Ok, true},
        {"a:-5", "a", -5, ServerTextStatus::InvalidPort},
        {"a:abc", "a", 0, ServerTextStatus::InvalidPort},
        {"a:99999999999", "a", INT_MAX, ServerTextStatus::Ok},
        {"", "", 123, ServerTextStatus::NoHost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ServerText parsed = ParseServerText(c.text);
        EXPECT_EQ(parsed.status, c.status);
        EXPECT_EQ(parsed.host, c.host);
        EXPECT_EQ(parsed.ipv6Literal, c.ipv6);
        if (c.status != ServerTextStatus::NoHost) {
            EXPECT_EQ(parsed.port, c.port);
        }
    }
}

} // namespace

// Text from the network: hosts a server names taken only when the whole
// text is an address or a host name, and every text shown printable.
#include "ntp/PrintableText.h"
#include "query/StrictHost.h"

#include <gtest/gtest.h>

namespace {

TEST(StrictHost, OnlyAWholeAddressOrHostNameIsTaken)
{
    const std::pair<std::string, bool> rows[] = {
        {"127.0.0.1", true}, {"::1", true}, {"2001:db8::17", true}, {"time.example.org", true},
        {"time.example.org.", true}, {"ntp-1.example", true}, {std::string(63, 'a') + ".example", true},
        {"127.0.0.1 junk", false}, // inet_addr would take the address
        {"time.example junk", false}, {"time.example:123", false}, {"[::1]", false}, {"fe80::1%eth0", false},
        {"", false}, {".example", false}, {"a..example", false}, {std::string(64, 'a') + ".example", false},
        {std::string(254, 'a'), false}, {"time_example", false}, {"\x1b]0;TITLE\x07", false},
        {std::string("127.0.0.1\0x", 11), false},
    };
    for (const auto& [text, taken] : rows)
        EXPECT_EQ(IsStrictHost(text), taken) << PrintableText(text);
}

TEST(PrintableText, KeepsPrintableAsciiAndEscapesEveryOtherByte)
{
    const std::pair<std::string, std::string> rows[] = {
        {"time.example 1-2", "time.example 1-2"}, {"\x1b]0;TITLE\x07", "\\x1b]0;TITLE\\x07"}, {"a\\b", "a\\\\b"},
        {std::string("\0\x7f\x80\xff", 4), "\\x00\\x7f\\x80\\xff"}, {"", ""},
    };
    for (const auto& [bytes, shown] : rows)
        EXPECT_EQ(PrintableText(bytes), shown) << shown;
}

} // namespace

// Key-exchange records: the client's request byte for byte, and one table of
// server streams, well formed and not, with what the parse and the reading
// make of them.
#include "nts/NtsKeRecords.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Record(bool critical, uint16_t type, const Bytes& body)
{
    Bytes out = {static_cast<uint8_t>((critical ? 0x80 : 0) | (type >> 8)), static_cast<uint8_t>(type),
                 static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    return out + body;
}

const Bytes Eom = Record(true, 0, {});
const Bytes NextNtpV4 = Record(true, 1, {0, 0});
const Bytes AeadSiv = Record(true, 4, {0, 15});
const Bytes Cookie = Record(false, 5, Bytes(100, 0xC5));

struct StreamRow {
    const char* name;
    Bytes stream;
    size_t records;
    bool endOfMessage;
    size_t consumed;
    std::vector<uint16_t> aead;
    size_t cookies;
    int ntpPort;
    std::string ntpServer;
    std::vector<uint16_t> errors;
    std::vector<uint16_t> unknownCritical;
    std::string fault; // the first one, "" for none
};

TEST(NtsKeRecords, ClientRequestIsNtpV4TheAeadAlgorithmsAndEndOfMessage)
{
    EXPECT_EQ(NtsKeClientRequest({15}), (Bytes{0x80, 1, 0, 2, 0, 0, 0x80, 4, 0, 2, 0, 15, 0x80, 0, 0, 0}));
    EXPECT_EQ(NtsKeClientRequest({15, 30}), NextNtpV4 + Record(true, 4, {0, 15, 0, 30}) + Eom);
    // The critical bit sits above the 15-bit type and never leaks into it.
    EXPECT_EQ(EncodeNtsKeRecord({true, 0xFFFF, {1}}), (Bytes{0xFF, 0xFF, 0, 1, 1}));
}

TEST(NtsKeRecords, ServerStreamsParseAndReadAsTheyShould)
{
    const Bytes full = NextNtpV4 + AeadSiv + Cookie + Cookie + Record(true, 7, {0x12, 0x34}) +
                       Record(false, 6, {'n', 't', 'p', '.', 'e', 'x'}) + Eom;
    const StreamRow rows[] = {
        {"a server's whole answer", full, 7, true, full.size(), {15}, 2, 0x1234, "ntp.ex", {}, {}, ""},
        {"bytes after End of Message stay unread", NextNtpV4 + Eom + Bytes{1, 2, 3}, 2, true, 10, {}, 0, -1, "", {},
         {}, ""},
        {"nothing yet", {}, 0, false, 0, {}, 0, -1, "", {}, {}, ""},
        {"half a header", {0x80, 1, 0}, 0, false, 0, {}, 0, -1, "", {}, {}, ""},
        {"a body still on its way", NextNtpV4 + Bytes{0x80, 4, 0, 2, 0}, 1, false, 6, {}, 0, -1, "", {}, {}, ""},
        {"an error record", Record(true, 2, {0, 1}) + Eom, 2, true, 10, {}, 0, -1, "", {1}, {}, ""},
        {"an unknown critical record", Record(true, 0x4321, {9}) + Eom, 2, true, 9, {}, 0, -1, "", {}, {0x4321},
         ""},
        {"an unknown record that may be skipped", Record(false, 0x4321, {9}) + Eom, 2, true, 9, {}, 0, -1, "", {},
         {}, ""},
        {"End of Message without its critical bit", NextNtpV4 + Record(false, 0, {}), 2, true, 10, {}, 0, -1, "",
         {}, {}, "End of Message without its critical bit"},
        {"End of Message with a body", Record(true, 0, {7}), 1, true, 5, {}, 0, -1, "", {}, {},
         "End of Message with a body of 1 bytes"},
        {"an odd next-protocol list", Record(true, 1, {0, 0, 1}) + Eom, 2, true, 11, {}, 0, -1, "", {}, {},
         "Next Protocol with a body of 3 bytes"},
        {"two AEAD algorithms chosen", Record(true, 4, {0, 15, 0, 16}) + Eom, 2, true, 12, {15, 16}, 0, -1, "", {},
         {}, "more than one AEAD algorithm chosen"},
        {"a critical cookie", Record(true, 5, {1, 2, 3, 4}) + Eom, 2, true, 12, {}, 1, -1, "", {}, {},
         "New Cookie with the critical bit"},
        {"an empty cookie", Record(false, 5, {}) + Eom, 2, true, 8, {}, 0, -1, "", {}, {},
         "New Cookie with a body of 0 bytes"},
        {"a port of three bytes", Record(true, 7, {0, 1, 2}) + Eom, 2, true, 11, {}, 0, -1, "", {}, {},
         "NTPv4 Port with a body of 3 bytes"},
        {"a warning without its critical bit", Record(false, 3, {0, 5}) + Eom, 2, true, 10, {}, 0, -1, "", {}, {},
         "Warning without its critical bit"},
    };
    for (const StreamRow& row : rows) {
        SCOPED_TRACE(row.name);
        const NtsKeParse parse = ParseNtsKeRecords(row.stream.data(), row.stream.size());
        EXPECT_EQ(parse.records.size(), row.records);
        EXPECT_EQ(parse.endOfMessage, row.endOfMessage);
        EXPECT_EQ(parse.consumed, row.consumed);
        const NtsKeResponse r = ReadNtsKeResponse(parse.records);
        EXPECT_EQ(r.aeadAlgorithms, row.aead);
        EXPECT_EQ(r.cookies.size(), row.cookies);
        EXPECT_EQ(r.ntpPort, row.ntpPort);
        EXPECT_EQ(r.ntpServer, row.ntpServer);
        EXPECT_EQ(r.errors, row.errors);
        EXPECT_EQ(r.unknownCritical, row.unknownCritical);
        EXPECT_EQ(r.faults.empty() ? "" : r.faults.front(), row.fault);
        // Whatever was read encodes back to the bytes it came from.
        Bytes again;
        for (const NtsKeRecord& record : parse.records)
            again = again + EncodeNtsKeRecord(record);
        EXPECT_EQ(again, Bytes(row.stream.begin(), row.stream.begin() + static_cast<long>(parse.consumed)));
    }
}

TEST(NtsKeRecords, RecordsAreNamedAsTheReportShowsThem)
{
    EXPECT_EQ(NtsKeRecordValue({true, 1, {0, 0}}), "NTPv4 (0)");
    EXPECT_EQ(NtsKeRecordValue({true, 4, {0, 15}}), "AEAD_AES_SIV_CMAC_256 (15)");
    EXPECT_EQ(NtsKeRecordValue({true, 4, {0, 30, 0x12, 0x34}}), "AEAD_AES_128_GCM_SIV (30), AEAD algorithm 4660");
    EXPECT_EQ(NtsKeRecordValue({true, 4, {}}), "none");
    EXPECT_EQ(NtsKeRecordValue({true, 2, {0, 2}}), "code 2 (Internal Server Error)");
    EXPECT_EQ(NtsKeRecordValue({true, 2, {0x01, 0x00}}), "code 256");
    EXPECT_EQ(NtsKeRecordValue({true, 7, {0, 123}}), "123");
    EXPECT_EQ(NtsKeRecordValue({false, 5, Bytes(104)}), "104 bytes");
    EXPECT_EQ(NtsKeRecordName(7), "NTPv4 Port");
    EXPECT_EQ(NtsKeRecordName(8), "Record type 8");
}

} // namespace

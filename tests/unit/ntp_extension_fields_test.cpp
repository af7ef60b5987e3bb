// NTP extension fields and the NTS Authenticator's body: padding as written,
// one table of field streams well formed and not, and the authenticator
// body's lengths.
#include "nts/NtpExtensionFields.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(NtpExtensionFields, BodiesArePaddedToWordsAndToTheMinimumLength)
{
    struct Row {
        size_t body, minimum, length;
    };
    const Row rows[] = {{0, 0, 4}, {1, 0, 8}, {4, 0, 8}, {5, 0, 12}, {32, 16, 36}, {0, 16, 16},
                        {3, 28, 28}, {40, 28, 44}, {1, 17, 20}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "body " << row.body << " minimum " << row.minimum);
        Bytes packet = {0xAA};
        AppendExtensionField(packet, 0x0104, Bytes(row.body, 0x55), row.minimum);
        ASSERT_EQ(packet.size(), 1 + row.length);
        EXPECT_EQ(packet[1], 0x01);
        EXPECT_EQ(packet[2], 0x04);
        EXPECT_EQ((packet[3] << 8) | packet[4], static_cast<int>(row.length));
        for (size_t i = 0; i < row.length - 4; ++i)
            EXPECT_EQ(packet[5 + i], i < row.body ? 0x55 : 0) << i;
    }
}

TEST(NtpExtensionFields, StreamsParseUpToTheFirstFieldThatDoesNotFit)
{
    struct Row {
        const char* name;
        Bytes bytes;
        size_t fields;
        bool wellFormed;
    };
    const Bytes field = {0x01, 0x04, 0, 8, 1, 2, 3, 4};
    const Bytes two = {0x01, 0x04, 0, 8, 1, 2, 3, 4, 0x01, 0x04, 0, 8, 1, 2, 3, 4};
    const Row rows[] = {
        {"none at all", {}, 0, true},
        {"one", field, 1, true},
        {"two", two, 2, true},
        {"a bare header", {0x02, 0x04, 0, 4}, 1, true},
        {"two bytes left over", {0x01, 0x04, 0, 4, 9, 9}, 1, false},
        {"a length below the header", {0x01, 0x04, 0, 2}, 0, false},
        {"a length of zero", {0x01, 0x04, 0, 0, 0, 0, 0, 0}, 0, false},
        {"a length not a multiple of four", {0x01, 0x04, 0, 6, 1, 2}, 0, false},
        {"a length beyond the end", {0x01, 0x04, 0, 12, 1, 2, 3, 4}, 0, false},
        {"a good field then a bad one", {0x01, 0x04, 0, 8, 1, 2, 3, 4, 0x04, 0x04, 0xFF, 0xFC}, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes packet(3 + row.bytes.size(), 0xEE); // a prefix the parse starts after
        std::copy(row.bytes.begin(), row.bytes.end(), packet.begin() + 3);
        const ExtensionFieldParse parse = ParseExtensionFields(packet.data(), packet.size(), 3);
        EXPECT_EQ(parse.fields.size(), row.fields);
        EXPECT_EQ(parse.wellFormed, row.wellFormed);
        size_t at = 3;
        for (const NtpExtensionField& f : parse.fields) {
            EXPECT_EQ(f.offset, at);
            at += 4 + f.body.size();
        }
    }
    const ExtensionFieldParse parse = ParseExtensionFields(two.data(), two.size(), 0);
    ASSERT_NE(FindExtensionField(parse, 0x0104), nullptr);
    EXPECT_EQ(FindExtensionField(parse, 0x0104)->body, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(FindExtensionField(parse, 0x0404), nullptr);
}

TEST(NtpExtensionFields, AuthenticatorBodiesCarryNonceAndCiphertextWordAligned)
{
    struct Row {
        size_t nonce, ciphertext, padding, size;
    };
    const Row rows[] = {{16, 16, 0, 36}, {12, 17, 4, 40}, {1, 0, 0, 8}, {0, 0, 0, 4}, {3, 5, 2, 18}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.nonce << "/" << row.ciphertext << "/" << row.padding);
        const NtsAuthenticatorBody in{Bytes(row.nonce, 0x11), Bytes(row.ciphertext, 0x22)};
        const Bytes body = EncodeAuthenticatorBody(in, row.padding);
        EXPECT_EQ(body.size(), row.size);
        NtsAuthenticatorBody out;
        ASSERT_TRUE(ParseAuthenticatorBody(body, out));
        EXPECT_EQ(out.nonce, in.nonce);
        EXPECT_EQ(out.ciphertext, in.ciphertext);
    }
    const Bytes malformed[] = {
        {},                     // no lengths
        {0, 1},                 // half of them
        {0, 4, 0, 0, 1, 2, 3},  // a nonce longer than what follows
        {0, 0, 0, 2, 1, 2},     // a ciphertext whose padding is missing
        {0xFF, 0xFF, 0, 0},     // lengths far beyond the body
    };
    for (const Bytes& body : malformed) {
        NtsAuthenticatorBody out;
        EXPECT_FALSE(ParseAuthenticatorBody(body, out)) << body.size();
    }
}

} // namespace

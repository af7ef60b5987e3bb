#include "ntp/NtpMsg.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Packet = std::array<uint8_t, NtpHeaderSize>;
constexpr uint8_t Guard = 0xAA;
constexpr int TimestampOffsets[] = {16, 24, 32, 40};

// A server answer with every field set and distinct bytes throughout.
Packet SampleAnswer()
{
    return {0x24, 0x02, 0x0A, 0xEC, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0x0C, 0x34,
            0xC0, 0xA8, 0x01, 0x01, 0xEE, 0xC1, 0x23, 0x45, 0x40, 0x00, 0x00, 0x00,
            0xEE, 0xC1, 0x23, 0x46, 0x12, 0x34, 0x56, 0x78, 0xEE, 0xC1, 0x23, 0x47,
            0x9A, 0xBC, 0xDE, 0xF0, 0x00, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF};
}

// Encodes into a guarded buffer and checks that nothing past the datagram is written.
std::vector<uint8_t> EncodeGuarded(const CNtpMsg& msg, bool withAuthenticator)
{
    const size_t size = withAuthenticator ? NtpAuthRequestSize : NtpHeaderSize;
    std::vector<uint8_t> buffer(size + 16, Guard);
    msg.Encode(buffer.data(), withAuthenticator);
    for (size_t i = size; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], Guard) << "written past the datagram at " << i;
    buffer.resize(size);
    return buffer;
}

// Encodes within one calendar second, so every noise byte is that second's.
std::vector<uint8_t> EncodeWithinOneSecond(const CNtpMsg& msg, bool withAuthenticator,
                                           time_t& second)
{
    for (;;) {
        second = std::time(nullptr);
        std::vector<uint8_t> bytes = EncodeGuarded(msg, withAuthenticator);
        if (std::time(nullptr) == second)
            return bytes;
    }
}

uint32_t WordAt(const std::vector<uint8_t>& b, size_t offset)
{
    return (uint32_t{b[offset]} << 24) | (uint32_t{b[offset + 1]} << 16) |
           (uint32_t{b[offset + 2]} << 8) | b[offset + 3];
}

TEST(CNtpMsgDefault, IsAClientRequestStampedNow)
{
    const NtpTimestamp before = CurrentNtpTime();
    const CNtpMsg request;
    const NtpTimestamp after = CurrentNtpTime();

    EXPECT_EQ(request.m_leap, 0);
    EXPECT_EQ(request.m_version, 3);
    EXPECT_EQ(request.m_mode, 3);
    EXPECT_EQ(request.m_stratum, 0);
    EXPECT_EQ(request.m_poll, 0);
    EXPECT_EQ(request.m_precision, 0);
    EXPECT_EQ(request.m_rootDelay, 0.0);
    EXPECT_EQ(request.m_rootDispersion, 0.0);
    EXPECT_EQ(std::vector<uint8_t>(request.m_refId, request.m_refId + 4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(request.m_reference, NtpTimestamp{});
    EXPECT_EQ(request.m_originate, NtpTimestamp{});
    EXPECT_EQ(request.m_receive, NtpTimestamp{});
    EXPECT_LE(NtpTimestampDiff(request.m_transmit, before).Seconds, 1u);
    EXPECT_LE(NtpTimestampDiff(after, request.m_transmit).Seconds, 1u);
}

TEST(CNtpMsgEncode, DefaultRequestLayout)
{
    CNtpMsg request;
    request.m_transmit = {0x12345678, MsToNtpFraction(250)};
    for (const bool auth : {false, true}) {
        time_t second = 0;
        const std::vector<uint8_t> bytes = EncodeWithinOneSecond(request, auth, second);
        ASSERT_EQ(bytes.size(), auth ? 68u : 48u);
        EXPECT_EQ(bytes[0], 0x1B);
        for (int i = 1; i < 16; ++i)
            EXPECT_EQ(bytes[i], 0) << i;
        for (int offset : {16, 24, 32})
            for (int i = offset; i < offset + 7; ++i)
                EXPECT_EQ(bytes[i], 0) << i;
        const std::vector<uint8_t> transmit(bytes.begin() + 40, bytes.begin() + 47);
        EXPECT_EQ(transmit, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x40, 0x00, 0x00}));
        for (size_t i = 48; i < bytes.size(); ++i)
            EXPECT_EQ(bytes[i], 0) << "authenticator byte " << i;
    }
}

TEST(CNtpMsgEncode, DefaultRequestCarriesTheCurrentTime)
{
    const NtpTimestamp before = CurrentNtpTime();
    const std::vector<uint8_t> bytes = EncodeGuarded(CNtpMsg(), false);
    const NtpTimestamp after = CurrentNtpTime();
    const NtpTimestamp sent{WordAt(bytes, 40), WordAt(bytes, 44) & 0xFFFFFF00u};
    EXPECT_LE(NtpTimestampDiff(sent, {before.Seconds, before.Fraction & 0xFFFFFF00u}).Seconds, 1u);
    EXPECT_LE(NtpTimestampDiff(after, sent).Seconds, 1u);
}

TEST(CNtpMsgEncode, NoiseByteIsTheSameWithinASecond)
{
    CNtpMsg msg(SampleAnswer().data());
    time_t second = 0;
    const std::vector<uint8_t> first = EncodeWithinOneSecond(msg, false, second);
    for (int offset : TimestampOffsets)
        EXPECT_EQ(first[offset + 7], NtpNoiseByte(second)) << offset;

    msg.m_transmit = {1, 2};
    time_t again = 0;
    const std::vector<uint8_t> withAuth = EncodeWithinOneSecond(msg, true, again);
    EXPECT_EQ(withAuth[47], NtpNoiseByte(again));
}

TEST(NtpNoiseByte, DependsOnlyOnTheSecond)
{
    EXPECT_EQ(NtpNoiseByte(1700000000), NtpNoiseByte(1700000000));
    // Consecutive seconds never draw the same byte.
    int distinct = 0;
    std::vector<bool> seen(256, false);
    for (int64_t s = 1700000000; s < 1700001000; ++s) {
        ASSERT_NE(NtpNoiseByte(s), NtpNoiseByte(s + 1)) << s;
        if (!seen[NtpNoiseByte(s)]) {
            seen[NtpNoiseByte(s)] = true;
            ++distinct;
        }
    }
    EXPECT_GT(distinct, 128);
}

TEST(CNtpMsgEncode, TwoThreadsEncodeAtOnce)
{
    auto worker = [](uint8_t stratum, bool& ok) {
        CNtpMsg msg(SampleAnswer().data());
        msg.m_stratum = stratum;
        ok = true;
        for (int i = 0; i < 20000 && ok; ++i) {
            uint8_t buffer[NtpHeaderSize];
            const time_t second = std::time(nullptr);
            msg.Encode(buffer, false);
            const bool sameSecond = std::time(nullptr) == second;
            ok = buffer[1] == stratum && buffer[0] == 0x24 && buffer[12] == 0xC0 &&
                 buffer[46] == 0xFF;
            for (int offset : TimestampOffsets)
                if (sameSecond && buffer[offset + 7] != NtpNoiseByte(second))
                    ok = false;
        }
    };
    bool okA = false;
    bool okB = false;
    std::thread a(worker, uint8_t{1}, std::ref(okA));
    std::thread b(worker, uint8_t{9}, std::ref(okB));
    a.join();
    b.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}

TEST(CNtpMsgDecode, ReadsEveryField)
{
    const Packet p = SampleAnswer();
    const CNtpMsg msg(p.data());
    EXPECT_EQ(msg.m_leap, 0);
    EXPECT_EQ(msg.m_version, 4);
    EXPECT_EQ(msg.m_mode, 4);
    EXPECT_EQ(msg.m_stratum, 2);
    EXPECT_EQ(msg.m_poll, 10);
    EXPECT_EQ(msg.m_precision, -20);
    EXPECT_EQ(msg.m_rootDelay, 1.5);
    EXPECT_EQ(msg.m_rootDispersion, (0x0C * 256.0 + 0x34) / 65536.0);
    EXPECT_EQ(std::vector<uint8_t>(msg.m_refId, msg.m_refId + 4),
              (std::vector<uint8_t>{0xC0, 0xA8, 0x01, 0x01}));
    EXPECT_EQ(msg.m_reference, (NtpTimestamp{0xEEC12345, 0x40000000}));
    EXPECT_EQ(msg.m_originate, (NtpTimestamp{0xEEC12346, 0x12345678}));
    EXPECT_EQ(msg.m_receive, (NtpTimestamp{0xEEC12347, 0x9ABCDEF0}));
    EXPECT_EQ(msg.m_transmit, (NtpTimestamp{5, 0xFFFFFFFF}));

    CNtpMsg decoded;
    decoded.Decode(p.data());
    EXPECT_EQ(decoded.m_transmit, msg.m_transmit);
    EXPECT_EQ(decoded.m_rootDispersion, msg.m_rootDispersion);
}

TEST(CNtpMsgDecode, BitFieldsAndSignedness)
{
    Packet p{};
    p[0] = 0xE3;
    p[2] = 0xFA;
    p[3] = 0x80;
    p[4] = p[5] = p[6] = p[7] = 0xFF;
    p[12] = 0x47, p[13] = 0x50, p[14] = 0x53, p[15] = 0x00;
    const CNtpMsg msg(p.data());
    EXPECT_EQ(msg.m_leap, 3);
    EXPECT_EQ(msg.m_version, 4);
    EXPECT_EQ(msg.m_mode, 3);
    EXPECT_EQ(msg.m_poll, 250);
    EXPECT_EQ(msg.m_precision, -128);
    EXPECT_EQ(msg.m_rootDelay, 65535.0 + 65535.0 / 65536.0);
    EXPECT_EQ(msg.m_rootDispersion, 0.0);
    EXPECT_EQ(std::vector<uint8_t>(msg.m_refId, msg.m_refId + 4),
              (std::vector<uint8_t>{0x47, 0x50, 0x53, 0x00}));
}

// Every field survives decode and encode, except the noise byte of each timestamp.
void ExpectRoundTrip(const Packet& p)
{
    const std::vector<uint8_t> bytes = EncodeGuarded(CNtpMsg(p.data()), false);
    for (int i = 0; i < NtpHeaderSize; ++i) {
        if (i >= 16 && i % 8 == 7)
            continue;
        EXPECT_EQ(bytes[i], p[i]) << "byte " << i;
    }
}

TEST(CNtpMsgEncode, ReproducesDecodedBytes)
{
    ExpectRoundTrip(SampleAnswer());
    Packet p = SampleAnswer();
    // Era 1 seconds, and delays of 32768 s and more, which the unsigned field holds.
    p[40] = p[41] = p[42] = 0, p[43] = 1;
    for (const std::array<uint8_t, 4> delay : {std::array<uint8_t, 4>{0x80, 0x00, 0x00, 0x00},
                                               std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF},
                                               std::array<uint8_t, 4>{0x7F, 0xFF, 0xFF, 0xFF},
                                               std::array<uint8_t, 4>{0x00, 0x00, 0x00, 0x01}}) {
        std::copy(delay.begin(), delay.end(), p.begin() + 4);
        std::copy(delay.rbegin(), delay.rend(), p.begin() + 8);
        ExpectRoundTrip(p);
    }
}

TEST(CNtpMsgEncode, FixedPointTruncatesAndSaturates)
{
    struct Case {
        double seconds;
        uint32_t expected;
    };
    const Case cases[] = {
        {0.0123, 806},          // 806.09 truncated
        {1.5, 0x00018000},
        {40000.0, 0x9C400000},  // above the signed limit, still exact
        {65536.0, 0xFFFFFFFF},  // saturates instead of wrapping
        {1e12, 0xFFFFFFFF},
        {-1.0, 0},              // the field cannot hold a negative value
        {std::nan(""), 0},
    };
    for (const Case& c : cases) {
        CNtpMsg msg;
        msg.m_rootDelay = c.seconds;
        msg.m_rootDispersion = c.seconds;
        const std::vector<uint8_t> bytes = EncodeGuarded(msg, false);
        EXPECT_EQ(WordAt(bytes, 4), c.expected) << c.seconds;
        EXPECT_EQ(WordAt(bytes, 8), c.expected) << c.seconds;
    }
}

TEST(CNtpMsgEncode, FirstByteIsComputedInEightBits)
{
    CNtpMsg msg;
    msg.m_leap = 3, msg.m_version = 4, msg.m_mode = 4;
    EXPECT_EQ(EncodeGuarded(msg, false)[0], 0xE4);
    msg.m_leap = 0x7, msg.m_version = 0, msg.m_mode = 0; // the high leap bit falls off
    EXPECT_EQ(EncodeGuarded(msg, false)[0], 0xC0);
    msg.m_precision = -20;
    EXPECT_EQ(EncodeGuarded(msg, false)[3], 0xEC);
}

} // namespace

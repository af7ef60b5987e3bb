// The tool's port under fire: while a query or a monitor run waits for its
// server, other loopback endpoints flood the port with datagrams of every
// size, some of them shaped like a perfect answer. Only the server's own
// answer may be taken, logged or handed to the clock. And every answer size
// the server itself can send gets the one line that belongs to it.
#include "query/ClockSetting.h"
#include "support/JitterRig.h"
#include "support/NtpSamples.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
using Responder = CUdpResponder;
using namespace std::chrono_literals;

constexpr int FloodCount = 10000;
constexpr size_t LargestJunk = 1500;
// 2001-01-01 00:00:00 UTC in NTP seconds.
constexpr uint32_t NewYear2001 = 3187296000u;

// A forged answer of the right size: another stratum, another reference and
// a transmit time years away, so that taking it would show everywhere.
std::vector<uint8_t> DecoyAnswer()
{
    std::vector<uint8_t> bytes = {0x24, 9, 6, 0xEC, 0, 0, 0, 0, 0, 0, 0, 0, 'L', 'O', 'S', 'T'};
    bytes.resize(NtpHeaderSize);
    PutTimestamp(&bytes[40], NewYear2001, 0);
    return bytes;
}

// The state of the local UDP socket bound to `port`, as /proc/net/udp (or
// udp6, for a socket of both families) shows it.
struct UdpSocketState {
    bool found = false;
    unsigned long queued = 0; // bytes waiting in the receive queue
    unsigned long drops = 0;  // datagrams the kernel threw away
};

UdpSocketState ReadUdpSocket(uint16_t port)
{
    UdpSocketState state;
    for (const char* path : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream table(path);
        std::string line;
        std::getline(table, line); // the heading
        while (std::getline(table, line)) {
            unsigned localPort = 0, remotePort = 0, st = 0, tr = 0, uid = 0;
            unsigned long tx = 0, rx = 0, drops = 0, when = 0, retransmits = 0, timeout = 0, inode = 0, ref = 0;
            char pointer[64];
            const int fields = std::sscanf(
                line.c_str(), " %*d: %*[0-9A-Fa-f]:%x %*[0-9A-Fa-f]:%x %x %lx:%lx %x:%lx %lx %u %lu %lu %lu %63s %lu",
                &localPort, &remotePort, &st, &tx, &rx, &tr, &when, &retransmits, &uid, &timeout, &inode, &ref,
                pointer, &drops);
            if (fields == 14 && localPort == port) {
                state.found = true;
                state.queued = rx;
                state.drops = drops;
            }
        }
    }
    return state;
}

// Junk senders on other loopback endpoints than the server's: the server's
// address at other ports, other addresses at random ports, and another
// address at the server's very port.
class CFlood {
public:
    explicit CFlood(uint16_t serverPort)
    {
        Open("127.0.0.1", 0);
        for (int host = 3; host <= 9; ++host)
            Open("127.0.0." + std::to_string(host), 0);
        Open("127.0.0.10", serverPort);
    }
    ~CFlood()
    {
        for (int fd : m_sockets)
            ::close(fd);
    }
    CFlood(const CFlood&) = delete;
    CFlood& operator=(const CFlood&) = delete;

    size_t Sources() const { return m_sockets.size(); }

    // Sends `count` datagrams to 127.0.0.1:`port`: every tenth a decoy answer
    // of 48 bytes, the rest random bytes of a random size from 0 to 1500.
    // The target's queue is kept short, so the kernel drops none of them and
    // each one really reaches the tool.
    int Run(uint16_t port, int count)
    {
        std::mt19937 random(20261207);
        std::uniform_int_distribution<size_t> size(0, LargestJunk);
        std::uniform_int_distribution<int> byte(0, 255);
        const std::vector<uint8_t> decoy = DecoyAnswer();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        std::vector<uint8_t> junk(LargestJunk);
        int sent = 0;
        for (int n = 0; n < count; ++n) {
            if (n % 16 == 0 && !WaitForRoom(port))
                break;
            const uint8_t* data = decoy.data();
            size_t length = decoy.size();
            if (n % 10 != 0) {
                length = size(random);
                for (size_t i = 0; i < length; ++i)
                    junk[i] = static_cast<uint8_t>(byte(random));
                data = junk.data();
            }
            const int from = m_sockets[static_cast<size_t>(n) % m_sockets.size()];
            if (::sendto(from, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(length))
                ++sent;
        }
        return sent;
    }

private:
    void Open(const std::string& address, uint16_t port)
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr(address.c_str());
        a.sin_port = htons(port);
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            m_sockets.push_back(fd);
        else if (fd >= 0)
            ::close(fd);
    }

    // Waits until less than 64 KiB wait in the target's queue (well below
    // the default receive buffer); false when it never drains.
    static bool WaitForRoom(uint16_t port)
    {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        for (;;) {
            const UdpSocketState state = ReadUdpSocket(port);
            if (!state.found)
                return false;
            if (state.queued < 64 * 1024)
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(100us);
        }
    }

    std::vector<int> m_sockets;
};

// The clock setting from a server's answer that carries `arrival` as its
// transmit time; the encoder puts noise into the fraction's last byte, which
// may move the time across a millisecond.
bool IsArrivalTime(const SystemTime& setting, NtpTimestamp arrival)
{
    for (uint32_t lastByte : {0x00u, 0xFFu}) {
        arrival.Fraction = (arrival.Fraction & ~0xFFu) | lastByte;
        if (setting == TransmitTimeToSystemTime(arrival))
            return true;
    }
    return false;
}

// The report a query writes for `answer` from `host` at `port`.
std::string ExpectedReport(const CTikkaraDlg& dialog, const std::string& host, int port,
                           const CNtpMsg& answer)
{
    return "Querying host " + host + ":" + std::to_string(port) + " from random port\r\n" + "\r\n" +
           dialog.FormatResultBox(answer) + "\r\n" + "Packet size: 48 bytes\r\n" + "\r\n" +
           answer.GetPacketContent() + "\r\n" + "\r\nTimestamps shown in local time zone:" + "\r\n" +
           answer.GetTimeZoneText();
}

// --- A query under a flood -------------------------------------------------

class HostileQueryTest : public ::testing::Test, public DialogRig {
protected:
    void SetUp() override { dialog.OnInitDialog(); }
};

class FloodedQueryTest : public HostileQueryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FloodedQueryTest, OnlyTheServersAnswerIsTakenAndReported)
{
    const bool setTime = GetParam();
    const std::vector<uint8_t> genuine = GpsAnswerBytes();
    struct Observed {
        int floodSent = 0;
        UdpSocketState afterFlood;
        uint16_t toolPort = 0;
    } observed;
    std::unique_ptr<CFlood> flood;
    // Runs on the responder's own thread: the request shows the tool's port;
    // the flood goes there first, the genuine answer after it.
    Responder server([&](const Responder::Request& request) {
        observed.toolPort = ntohs(request.from.port);
        observed.floodSent = flood->Run(observed.toolPort, FloodCount);
        for (int i = 0; i < 2000 && ReadUdpSocket(observed.toolPort).queued != 0; ++i)
            std::this_thread::sleep_for(100us);
        observed.afterFlood = ReadUdpSocket(observed.toolPort);
        Responder::Datagram answer;
        answer.bytes = genuine;
        Responder::EchoOriginate(answer.bytes, request);
        return std::vector<Responder::Datagram>{answer};
    });
    ASSERT_TRUE(server.IsListening());
    flood = std::make_unique<CFlood>(server.Port());
    ASSERT_EQ(flood->Sources(), 9u) << "every junk source is bound";

    window.SetChecked(IDC_SET_TIME, setTime);
    window.SetText(IDC_SERVER, server.ServerText());
    const double taken = SecondsTaken([&] { dialog.OnCommand(IDC_GO); });

    RecordProperty("junk_datagrams", observed.floodSent);
    EXPECT_EQ(observed.floodSent, FloodCount);
    EXPECT_TRUE(observed.afterFlood.found);
    EXPECT_EQ(observed.afterFlood.drops, 0u) << "the kernel dropped junk: the flood did not reach the tool whole";
    // Every junk datagram and the answer were read one by one, and only the
    // answer was kept.
    EXPECT_EQ(sockets.Count(SocketCall::RecvFrom), FloodCount + 1);
    EXPECT_LT(taken, 2.0) << "the answer came in time despite the flood";

    CNtpMsg answer(genuine.data());
    answer.m_originate = dialog.LastExchange().requestTransmit; // echoed by the server
    EXPECT_EQ(window.LogText(), ExpectedReport(dialog, "127.0.0.1", server.Port(), answer));
    EXPECT_EQ(window.SelectionStart(), 0) << "a successful report is shown from its first line";
    EXPECT_TRUE(window.MessageBoxes().empty());
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(sockets.Sends().size(), 1u);

    const std::vector<SystemTime> settings = clock.Settings();
    if (setTime) {
        ASSERT_EQ(settings.size(), 1u) << "only the server's answer reaches the clock";
        EXPECT_EQ(settings[0], TransmitTimeToSystemTime(answer.m_transmit));
        EXPECT_EQ(settings[0], (SystemTime{2024, 1, 1, 1, 0, 0, 2, 250}));
    } else {
        EXPECT_TRUE(settings.empty());
    }
}
INSTANTIATE_TEST_SUITE_P(SetSystemTime, FloodedQueryTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Checked" : "Unchecked"; });

TEST_F(HostileQueryTest, FloodWithoutAnAnswerEndsInTheTimeOutAndSetsNothing)
{
    int floodSent = 0;
    std::unique_ptr<CFlood> flood;
    Responder server([&](const Responder::Request& request) {
        floodSent = flood->Run(ntohs(request.from.port), FloodCount);
        return std::vector<Responder::Datagram>{};
    });
    flood = std::make_unique<CFlood>(server.Port());
    window.SetChecked(IDC_SET_TIME, true);
    window.SetText(IDC_SERVER, server.ServerText());
    const double taken = ClockSecondsTaken([&] { dialog.OnCommand(IDC_GO); });

    EXPECT_EQ(floodSent, FloodCount);
    EXPECT_GE(taken, 1.99);
    EXPECT_LT(taken, 2.5) << "junk does not stretch the wait";
    EXPECT_EQ(window.LogText(), "Querying host 127.0.0.1:" + std::to_string(server.Port()) +
                                    " from random port\r\n\r\n--No answer from Server. timed out.");
    EXPECT_TRUE(clock.Settings().empty());
}

// A burst of forged answers from another loopback address, sent as fast as
// the sender can, just before the genuine answer: the tool must read them
// out faster than they fill its receive buffer, or the kernel drops the
// answer. HOROLAB_BURST overrides the size, to find the largest one survived.
TEST_F(HostileQueryTest, BurstOfForgedAnswersJustBeforeTheAnswerIsSurvived)
{
    const char* given = std::getenv("HOROLAB_BURST");
    const int burst = given != nullptr ? std::atoi(given) : 2000;
    const int forger = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in other{AF_INET, 0, {::inet_addr("127.0.0.2")}, {}};
    ASSERT_EQ(::bind(forger, reinterpret_cast<const sockaddr*>(&other), sizeof other), 0);
    const std::vector<uint8_t> decoy = DecoyAnswer();
    int forged = 0;
    Responder server([&](const Responder::Request& request) {
        sockaddr_in tool{AF_INET, request.from.port, {request.from.address}, {}};
        iovec bytes{const_cast<uint8_t*>(decoy.data()), decoy.size()};
        std::vector<mmsghdr> batch(64);
        for (mmsghdr& m : batch)
            m.msg_hdr = msghdr{&tool, sizeof tool, &bytes, 1, nullptr, 0, 0};
        // In batches, as a flooding sender would: faster than one by one.
        while (forged < burst) {
            const int sent = ::sendmmsg(forger, batch.data(), std::min<unsigned>(64, burst - forged), 0);
            if (sent <= 0)
                break;
            forged += sent;
        }
        Responder::Datagram answer;
        answer.bytes = GpsAnswerBytes();
        return std::vector<Responder::Datagram>{answer};
    });
    window.SetText(IDC_SERVER, server.ServerText());
    dialog.OnCommand(IDC_GO);
    ::close(forger);

    EXPECT_EQ(forged, burst);
    const CNtpMsg answer(GpsAnswerBytes().data());
    EXPECT_EQ(window.LogText(), ExpectedReport(dialog, "127.0.0.1", server.Port(), answer)) << "burst " << burst;
}

// --- Every answer size from the server itself --------------------------------

TEST_F(HostileQueryTest, EveryAnswerSizeFromTheServerGetsItsLine)
{
    constexpr size_t Largest = 600;
    // The n-th request is answered with n bytes: the genuine answer cut
    // short, or followed by filler.
    const std::vector<uint8_t> genuine = GpsAnswerBytes();
    auto served = std::make_shared<size_t>(0);
    Responder server([&genuine, served](const Responder::Request& request) {
        Responder::Datagram d;
        d.bytes = genuine;
        Responder::EchoOriginate(d.bytes, request);
        d.bytes.resize((*served)++, 0xA5);
        return std::vector<Responder::Datagram>{d};
    });
    window.SetChecked(IDC_SET_TIME, true);
    const std::string first = "Querying host 127.0.0.1:" + std::to_string(server.Port()) + " from random port\r\n\r\n";
    CNtpMsg answer(genuine.data());

    for (size_t size = 0; size <= Largest; ++size) {
        SCOPED_TRACE(size);
        window.SetText(IDC_SERVER, server.ServerText());
        dialog.OnCommand(IDC_GO);
        const std::string log = window.LogText();
        if (size < NtpHeaderSize)
            ASSERT_EQ(log, first + "--Received " + std::to_string(size) + " bytes, need exactly 48.");
        else if (size > NtpHeaderSize)
            ASSERT_EQ(log, first + "*receive error no. 10040 (Message too long)");
        else {
            answer.m_originate = dialog.LastExchange().requestTransmit; // echoed by the server
            ASSERT_EQ(log, ExpectedReport(dialog, "127.0.0.1", server.Port(), answer));
        }
        ASSERT_TRUE(window.IsControlEnabled(IDC_GO));
    }
    EXPECT_EQ(server.Requests().size(), Largest + 1);
    EXPECT_TRUE(window.MessageBoxes().empty());
    ASSERT_EQ(clock.Settings().size(), 1u) << "only the 48-byte answer sets the clock";
    EXPECT_EQ(clock.Settings()[0], TransmitTimeToSystemTime(answer.m_transmit));
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), sockets.Count(SocketCall::Close))
        << "no query leaves its socket open";
}

// --- A monitor run under a flood ------------------------------------------------

class HostileJitterTest : public ::testing::Test, public JitterRig {};

TEST_F(HostileJitterTest, MonitorPollsThroughAFloodAndRecordsOnlyGenuinePolls)
{
    // Removed again however the test ends.
    struct TempFile {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("horolab_flood_" + std::to_string(::getpid()) + ".csv");
        ~TempFile() { std::filesystem::remove(path); }
    } file;
    const std::filesystem::path& csv = file.path;
    std::filesystem::remove(csv);
    ChooseFile(csv.string());
    window.SetChecked(IDC_SET_TIME, true);

    Responder server(Responder::NtpServer());
    CFlood flood(server.Port());
    std::atomic<bool> floodDone{false};
    std::atomic<int> refreshesAfterFlood{0};
    onRefresh = [&](int, uint32_t) {
        if (floodDone && ++refreshesAfterFlood == 3)
            dialog.OnCommand(IDC_GO);
    };
    Start(server.ServerText());

    // The first request tells the port of the run's socket.
    ASSERT_TRUE(server.WaitForRequests(1, 5s));
    const uint16_t toolPort = ntohs(server.Requests()[0].from.port);
    const int sent = flood.Run(toolPort, FloodCount);
    const UdpSocketState afterFlood = ReadUdpSocket(toolPort);
    floodDone = true;
    ASSERT_TRUE(FinishRun(30s));

    EXPECT_EQ(sent, FloodCount);
    EXPECT_TRUE(afterFlood.found);
    EXPECT_EQ(afterFlood.drops, 0u) << "the kernel dropped junk: the flood did not reach the tool whole";

    const std::vector<Responder::Request> requests = server.Requests();
    RecordProperty("junk_datagrams", sent);
    RecordProperty("polls", static_cast<int>(requests.size()));
    const auto stats = Stats();
    ASSERT_GE(stats.size(), 4u);
    EXPECT_EQ(stats.back().bad, 0) << "no poll failed because of the junk";
    EXPECT_EQ(stats.back().good, stats.back().total);
    // The last poll is counted but not shown.
    EXPECT_EQ(static_cast<size_t>(stats.back().total) + 1, requests.size());
    EXPECT_EQ(sockets.Count(SocketCall::CreateUdpSocket), 1) << "no recovery was needed";

    // Nothing but the statistics was ever shown: no read error, no size line.
    for (const std::string& text : LogTexts())
        EXPECT_TRUE(text == "Jitter Monitor" || IsJitterStatsText(text)) << text;

    // One CSV line and one clock setting per request, each from the genuine
    // answer to it: the server's transmit time is its arrival time.
    const std::string lines = ReadWholeFile(csv.string());
    size_t count = 0;
    for (size_t at = 0; (at = lines.find("\r\n", at)) != std::string::npos; at += 2)
        ++count;
    EXPECT_EQ(count, requests.size());
    const std::vector<SystemTime> settings = clock.Settings();
    ASSERT_EQ(settings.size(), requests.size());
    for (size_t i = 0; i < settings.size(); ++i)
        ASSERT_TRUE(IsArrivalTime(settings[i], requests[i].received)) << "poll " << i + 1;
    EXPECT_TRUE(IsIdle());
}

} // namespace

// A monitor run against a real chronyd on loopback that goes away in the
// middle of the run and comes back on the same port: the polls made while it
// is gone are counted bad, polling picks up again by itself once it is back,
// and every good poll, before and after, has its line in the CSV file.
// The chronyd is a private one, so the shared fixture's server stays up for
// the other system tests.
#include "support/JitterRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const ReadError10054 = "*receive error no. 10054 (Connection reset by peer)";

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// True when 127.0.0.1:port answers one client request with 48 bytes.
bool ChronyAnswers(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    uint8_t request[NtpHeaderSize];
    CNtpMsg().Encode(request, false);
    uint8_t answer[64];
    ssize_t got = -1;
    if (::sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
        static_cast<ssize_t>(sizeof request)) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 500) == 1)
            got = ::recv(fd, answer, sizeof answer, 0);
    }
    ::close(fd);
    return got == NtpHeaderSize;
}

// The source tree; __FILE__ is relative when the build tree lies inside it.
fs::path SourceDir()
{
    return HOROLAB_SOURCE_DIR;
}

class ChronyOutageJitterTest : public ::testing::Test, public JitterRig {
protected:
    void SetUp() override
    {
        if (!fs::exists(HOROLAB_CHRONYD))
            GTEST_SKIP() << "needs chronyd";
        m_fixture = SourceDir() / "scripts" / "chronyd-fixture.sh";
        ASSERT_TRUE(fs::exists(m_fixture)) << m_fixture;
        m_dir = fs::temp_directory_path() / ("horolab_outage_" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        ASSERT_EQ(Fixture("start"), 0) << "the private chronyd did not start";
        std::ifstream portFile(m_dir / "port");
        int port = 0;
        portFile >> port;
        ASSERT_GT(port, 0);
        m_port = static_cast<uint16_t>(port);
    }

    void TearDown() override
    {
        if (!m_dir.empty()) {
            Fixture("stop");
            fs::remove_all(m_dir);
        }
    }

    int Fixture(const std::string& command)
    {
        return std::system(("CHRONYD=" + Quoted(HOROLAB_CHRONYD) + " " + Quoted(m_fixture.string()) + " " + command + " " + Quoted(m_dir.string()) +
                            " >/dev/null 2>&1").c_str());
    }

    // The fixture picks a new port at every start; the run polls the old one.
    // So chronyd is started again by hand with the configuration the fixture
    // wrote, which names the same port and the pidfile that its stop reads.
    bool RestartOnTheSamePort()
    {
        // As the fixture does: as root chronyd keeps root (so it can remove
        // its pidfile), otherwise it runs as the caller.
        const std::string user = ::getuid() == 0 ? "-u root" : "-U -u \"$(id -un)\"";
        const std::string command = "setsid " + Quoted(HOROLAB_CHRONYD) + " -x -d " + user + " -f " +
                                    Quoted((m_dir / "chrony.conf").string()) + " </dev/null >>" +
                                    Quoted((m_dir / "chronyd.log").string()) + " 2>&1 &";
        if (std::system(command.c_str()) != 0)
            return false;
        for (int i = 0; i < 40; ++i) {
            if (ChronyAnswers(m_port))
                return true;
            std::this_thread::sleep_for(250ms);
        }
        return false;
    }

    fs::path m_fixture;
    fs::path m_dir;
    uint16_t m_port = 0;
};

TEST_F(ChronyOutageJitterTest, BadPollsWhileChronyIsDownAndRecoveryWhenItIsBack)
{
    constexpr int OutageAt = 4;   // chronyd goes away at this refresh
    constexpr int BackAt = 10;    // and is back at this one
    constexpr int StopAt = 16;
    const fs::path csv = m_dir / "jitter.csv";
    ChooseFile(csv.string());

    bool stopped = false, restarted = false;
    // On the worker, between two polls: nothing is in flight while chronyd
    // is taken away or brought back.
    onRefresh = [&](int refresh, uint32_t) {
        if (refresh == OutageAt)
            stopped = Fixture("stop") == 0 && !ChronyAnswers(m_port);
        if (refresh == BackAt)
            restarted = RestartOnTheSamePort();
        if (refresh == StopAt)
            dialog.OnCommand(IDC_GO);
    };
    Start("127.0.0.1:" + std::to_string(m_port));
    ASSERT_TRUE(FinishRun(60s));
    ASSERT_TRUE(stopped);
    ASSERT_TRUE(restarted);

    const auto stats = Stats();
    ASSERT_EQ(stats.size(), static_cast<size_t>(StopAt));
    for (size_t i = 0; i < stats.size(); ++i) {
        SCOPED_TRACE(i + 1);
        const int refresh = static_cast<int>(i) + 1;
        ASSERT_TRUE(stats[i].valid);
        EXPECT_EQ(stats[i].total, refresh - 1);
        EXPECT_EQ(stats[i].total, stats[i].good + stats[i].bad);
        // Up to the outage every poll is good; while chronyd is gone every
        // poll is bad; once it is back every poll is good again.
        const int expectedBad = std::clamp(refresh - OutageAt, 0, BackAt - OutageAt);
        EXPECT_EQ(stats[i].bad, expectedBad);
    }
    // chronyd's closed port is reported at once, not after the time-out.
    EXPECT_TRUE(LoggedSomewhere(Refreshes()[OutageAt - 1] + "\r\n" + ReadError10054));
    EXPECT_FALSE(LoggedSomewhere("--No answer from Server. timed out."));
    EXPECT_TRUE(IsIdle());

    // Every good poll has its line, the final (unshown) one included.
    const std::string lines = ReadWholeFile(csv.string());
    int count = 0;
    for (size_t at = 0; (at = lines.find("\r\n", at)) != std::string::npos; at += 2)
        ++count;
    EXPECT_EQ(count, stats.back().good + 1) << lines;
    EXPECT_TRUE(clock.Settings().empty()) << "the clock is never set without \"Set System &Time\"";
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

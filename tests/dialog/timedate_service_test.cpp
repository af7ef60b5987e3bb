// Setting the clock as an ordinary user: through the time-and-date service on
// a private system bus, with python3-dbusmock's timedated template standing
// in for the service. The direct setter always answers EPERM here, so the
// real clock is never set, whoever runs the test.
#include "platform/posix/PosixClock.h"
#include "platform/posix/TimedateService.h"
#include "query/ClockSetting.h"
#include "support/DialogRig.h"
#include "support/NtpSamples.h"
#include "support/PrivateSystemBus.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <unistd.h>

namespace {

int NotPermitted(int64_t) { return EPERM; }

class TimedateServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.IsRunning()) << "dbus-daemon did not start"; }

    // A query of `through` with "Set System &Time" checked, answered soundly
    // with the transmit time {NewYear2024, fraction}; returns the log.
    std::string Query(uint32_t fraction) { return Query(dialog, fraction); }
    std::string Query(CTikkaraDlg& through, uint32_t fraction)
    {
        CUdpResponder server([fraction](const CUdpResponder::Request& request) {
            CNtpMsg answer = CUdpResponder::ServerReply(request);
            answer.m_transmit = NtpTimestamp{NewYear2024, fraction};
            return std::vector<CUdpResponder::Datagram>{CUdpResponder::Message(answer)};
        });
        window.SetChecked(IDC_SET_TIME, true);
        window.SetText(IDC_SERVER, server.ServerText());
        through.OnCommand(IDC_GO);
        return window.LogText();
    }

    CPrivateSystemBus bus;
    FakeWindow window;
    FaultySockets sockets;
    CPosixClock clock{ClockSetters{NotPermitted, SetTimeThroughService}};
    CTikkaraDlg dialog{window, sockets, clock};
};

TEST_F(TimedateServiceTest, UnprivilegedSettingGoesThroughSetTime)
{
    ASSERT_TRUE(bus.StartTimedated());
    const std::string log = Query(0xFFFFFFFFu);
    EXPECT_EQ(log.find("--System"), std::string::npos) << log;
    EXPECT_NE(log.find("+--Result"), std::string::npos);
    // Milliseconds held at 999; absolute, not relative; the user may be asked.
    EXPECT_EQ(bus.Calls("SetTime"), std::vector<std::string>{"SetTime 1704067200999000 False True"});
}

TEST_F(TimedateServiceTest, RefusalIsLoggedWithTheServiceMessage)
{
    ASSERT_TRUE(bus.StartTimedated());
    // timedated's answer while automatic synchronisation is on (the
    // template's NTP property starts true).
    ASSERT_TRUE(bus.ReplaceSetTime(
        "if self.Get('org.freedesktop.timedate1', 'NTP'):\n"
        "    raise dbus.exceptions.DBusException('Automatic time synchronization is enabled',\n"
        "        name='org.freedesktop.timedate1.AutomaticTimeSyncEnabled')\n"));
    const std::string log = Query(0x80000000u);
    EXPECT_NE(log.find("\r\n--System time not set: Automatic time synchronization is enabled\r\n\r\n+--Result"),
              std::string::npos)
        << log;
    EXPECT_EQ(bus.Calls("SetTime"), std::vector<std::string>{"SetTime 1704067200500000 False True"});
}

TEST_F(TimedateServiceTest, MissingServiceIsLogged)
{
    const std::string log = Query(0);
    EXPECT_NE(log.find("\r\n--System time not set: The name org.freedesktop.timedate1 was not provided by any "
                       ".service files\r\n\r\n+--Result"),
              std::string::npos)
        << log;
}

// Whether this process may set the real clock: root, or CAP_SYS_TIME (bit 25)
// among its effective capabilities.
bool MaySetTheClock()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("CapEff:", 0) == 0)
            return ::geteuid() == 0 || ((std::stoull(line.substr(7), nullptr, 16) >> 25) & 1) != 0;
    return true;
}

// The real clock as an ordinary user has it (run the test as one, e.g.
// runuser -u nobody): clock_settime is refused, and the service is asked.
TEST_F(TimedateServiceTest, RealClockOfAnOrdinaryUserAsksTheService)
{
    if (MaySetTheClock())
        GTEST_SKIP() << "this process may set the real clock; run the test as an ordinary user";
    ASSERT_TRUE(bus.StartTimedated());
    CTikkaraDlg ordinary(window, sockets, SystemClock());
    const std::string log = Query(ordinary, 0x80000000u);
    EXPECT_EQ(log.find("--System"), std::string::npos) << log;
    EXPECT_EQ(bus.Calls("SetTime"), std::vector<std::string>{"SetTime 1704067200500000 False True"});
}

} // namespace

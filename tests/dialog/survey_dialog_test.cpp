// The window's survey against the in-memory window and loopback servers, on
// a clock whose pauses pass at once: the busy controls, the faults of the
// server text, and the table of a name that is an address.
#include "fakes/FakeClock.h"
#include "fakes/FakeWindow.h"
#include "support/LoopbackResponder.h"
#include "support/UdpResponder.h"

#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <sys/resource.h>
#include <thread>

namespace {

struct SurveyRig {
    FakeWindow window;
    FakeClock clock;
    CTikkaraDlg dialog{window, PosixSockets(), clock};

    SurveyRig() { dialog.OnInitDialog(); }
    ~SurveyRig()
    {
        dialog.m_surveyRunning = 0;
        if (!m_finished)
            Finish();
    }

    // Runs what the worker posts at its end (joining it); false when nothing came.
    bool Finish()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (window.RunPosted() == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_finished = true;
        return true;
    }

    bool Idle() { return window.Control(IDC_GO).text == "&Go" && window.Control(IDC_SERVER).enabled; }
    bool m_finished = false;
};

TEST(SurveyDialog, FaultsOfTheServerTextAreToldAsTheQueryTellsThem)
{
    const struct {
        const char* text;
        const char* box;
    } cases[] = {{"", "No host given."}, {"127.0.0.1:0", "Invalid Port."}, {"127.0.0.1:abc", "Invalid Port."}};
    for (const auto& c : cases) {
        SurveyRig rig;
        rig.window.SetText(IDC_LOG, "an earlier report");
        rig.window.SetText(IDC_SERVER, c.text);
        rig.dialog.OnCommand(ID_FILE_SURVEY);
        ASSERT_TRUE(rig.Finish()) << c.text;
        ASSERT_EQ(rig.window.MessageBoxes().size(), 1u) << c.text;
        EXPECT_EQ(rig.window.MessageBoxes()[0].text, c.box);
        EXPECT_EQ(rig.window.LogText(), "") << c.text;
        EXPECT_TRUE(rig.Idle()) << c.text;
        EXPECT_TRUE(rig.window.Control(IDC_SERVER).list.empty()) << "nothing to remember";
    }
}

TEST(SurveyDialog, AnAddressIsItsOwnOnlyAddressAndTheControlsWaitForTheEnd)
{
    CUdpResponder server(CUdpResponder::NtpServer());
    SurveyRig rig;
    rig.window.SetText(IDC_SERVER, server.ServerText());
    bool busyDuringTheRun = false;
    rig.window.onSetText = [&](int id, const std::string& text) {
        if (id == IDC_LOG && text.find("+--Survey") != std::string::npos)
            busyDuringTheRun = !rig.window.Control(IDC_SERVER).enabled && rig.window.Control(IDC_GO).enabled;
    };
    rig.dialog.OnCommand(ID_FILE_SURVEY);
    EXPECT_EQ(rig.window.Control(IDC_GO).text, "&Stop");
    EXPECT_FALSE(rig.window.IsMenuBarItemEnabled(0));
    rig.dialog.OnCommand(ID_FILE_JITTER_MONITOR); // no monitor beside a survey
    EXPECT_EQ(rig.dialog.m_monitorRunning, 0);
    ASSERT_TRUE(rig.Finish());

    EXPECT_TRUE(busyDuringTheRun);
    EXPECT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.window.IsMenuBarItemEnabled(0));
    const std::string log = rig.window.LogText();
    const std::string address = server.ServerText();
    EXPECT_EQ(log.rfind("Surveying 1 address of 127.0.0.1\r\n\r\n+--Survey", 0), 0u) << log;
    EXPECT_NE(log.find("| " + address + "  truechimer "), std::string::npos) << log;
    EXPECT_NE(log.find("| 1 of 1 answers agree"), std::string::npos) << log;
    EXPECT_EQ(server.Requests().size(), 4u);
    EXPECT_EQ(rig.window.SelectionStart(), 0) << "the table is read from its top";
    EXPECT_EQ(rig.window.Control(IDC_SERVER).list, std::vector<std::string>{address});
    const SurveyAddress& surveyed = rig.dialog.LastSurvey().addresses.at(0);
    EXPECT_EQ(surveyed.usable, 4);
    EXPECT_TRUE(surveyed.jitter.has_value());
}

size_t Entries(const char* folder)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Hundreds of addresses, far more than descriptors left: a few threads and
// sockets sample them all, politely, and every one answers every time.
TEST(SurveyAtScale, ManyAddressesShareAFewThreadsAndSockets)
{
    CLoopbackResponder responder;
    ASSERT_NE(responder.Port(), 0);
    std::vector<std::string> texts;
    for (int n = 0; n < 300; ++n)
        texts.push_back("127.2." + std::to_string(n / 200) + "." + std::to_string(n % 200 + 1) + ":" +
                        std::to_string(responder.Port()));
    CExchangeEngine engine(PosixSockets(), SystemClock());
    SurveyResult survey = ResolveSurvey(engine, texts);
    ASSERT_EQ(survey.addresses.size(), texts.size());

    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit low{Entries("/proc/self/fd") + 16, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const size_t threadsBefore = Entries("/proc/self/task");
    size_t threads = 0;
    std::mutex threadsLock; // every lane asks whether to go on
    RunSurvey(engine, survey, 2, [&] {
        const std::lock_guard<std::mutex> hold(threadsLock);
        threads = std::max(threads, Entries("/proc/self/task"));
        return true;
    });
    setrlimit(RLIMIT_NOFILE, &saved);
    // The lanes but the caller's; one more for ThreadSanitizer's own, started with the first.
    EXPECT_LE(threads, threadsBefore + SurveyLanes);
    EXPECT_TRUE(survey.selection.majority);
    for (const SurveyAddress& a : survey.addresses) {
        EXPECT_EQ(a.state, SurveyState::Truechimer) << a.addressText << " " << a.why;
        ASSERT_EQ(a.samples.size(), 2u) << a.addressText;
        EXPECT_EQ(a.usable, 2) << a.addressText;
        EXPECT_GE(NtpSecondsBetween(a.samples[1].sentAt, a.samples[0].sentAt), SurveySpacingMs / 1000.0);
    }
}

} // namespace

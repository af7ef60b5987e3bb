// The monitor against a server that answers with kiss codes: RATE stretches
// the interval between poll starts (and the statistics show it), DENY and
// RSTR end the run with a line naming the code, a kiss that does not echo
// the request is no kiss. Fake ticks, so the long intervals take no time.
#include "jitter/JitterRun.h"
#include "support/JitterRig.h"
#include "support/NtpSamples.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {
using Responder = CUdpResponder;

enum class Reply { Time, Rate, Deny, Restrict, ForgedRate };

// Answers the n-th request as the script's n-th entry says, then with the time.
Responder::Answer Scripted(std::vector<Reply> script)
{
    auto count = std::make_shared<size_t>(0);
    return [script, count](const Responder::Request& request) {
        const Reply reply = *count < script.size() ? script[*count] : Reply::Time;
        ++*count;
        const char* code = reply == Reply::Deny ? "DENY" : reply == Reply::Restrict ? "RSTR" : "RATE";
        CNtpMsg answer = reply == Reply::Time ? Responder::ServerReply(request) : Responder::KissReply(request, code);
        // A stranger knows the request's millisecond, not the bits below it.
        if (reply == Reply::ForgedRate)
            answer.m_originate.Fraction ^= 0x5A5A;
        return std::vector<Responder::Datagram>{Responder::Message(answer)};
    };
}

struct KissScenario {
    const char* name;
    std::vector<Reply> script;
    int stopAtRefresh; // "&Stop" then; 0: the server ends the run
    std::vector<int> shownIntervals; // the "Poll interval" of every refresh
    std::vector<std::string> kisses; // the kiss code of every poll ("" none)
    size_t csvLines;
    const char* endLine; // the run's last line, or null
};

const KissScenario Scenarios[] = {
    {"RATE doubles the interval, answers after it keep it",
     {Reply::Rate, Reply::Time, Reply::Rate, Reply::Time, Reply::Time}, 5, {1, 2, 2, 4, 4},
     {"RATE", "", "RATE", "", ""}, 3, nullptr},
    {"RATE after RATE, up to 64 s",
     std::vector<Reply>(8, Reply::Rate), 8, {1, 2, 4, 8, 16, 32, 64, 64},
     std::vector<std::string>(8, "RATE"), 0, nullptr},
    {"DENY ends the run", {Reply::Time, Reply::Deny}, 0, {1, 1}, {"", "DENY"}, 1,
     "--Server sent kiss code DENY (access denied by the server): monitor stopped."},
    {"RSTR ends the run", {Reply::Restrict}, 0, {1}, {"RSTR"}, 0,
     "--Server sent kiss code RSTR (access denied due to local policy): monitor stopped."},
    {"a kiss that does not echo the request is none", {Reply::ForgedRate, Reply::ForgedRate, Reply::Time},
     3, {1, 1, 1}, {"", "", ""}, 3, nullptr},
};

// The deviations of a CSV file's lines "hh:mm:ss; deviation".
std::vector<double> CsvDeviations(const std::string& text)
{
    std::vector<double> deviations;
    for (size_t at = text.find("; "); at != std::string::npos; at = text.find("; ", at + 1))
        deviations.push_back(std::atof(text.c_str() + at + 2));
    return deviations;
}

TEST(JitterKissCode, ServerSaysSlowDownOrStop)
{
    for (const KissScenario& s : Scenarios) {
        SCOPED_TRACE(s.name);
        JitterRig rig;
        Responder server(Scripted(s.script));
        const std::string csv = ::testing::TempDir() + "jitter_kiss.csv";
        rig.ChooseFile(csv);
        std::vector<uint32_t> ticks;
        rig.onRefresh = [&](int refresh, uint32_t tick) {
            ticks.push_back(tick);
            if (refresh == s.stopAtRefresh)
                rig.dialog.OnCommand(IDC_GO);
        };
        std::vector<JitterPoll> polls;
        rig.dialog.SetPollObserver([&](const JitterPoll& poll) { polls.push_back(poll); });
        rig.Start(server.ServerText());
        ASSERT_TRUE(rig.FinishRun(std::chrono::seconds(30)));

        std::vector<int> shown;
        for (const JitterStatsView& view : rig.Stats())
            shown.push_back(view.interval);
        EXPECT_EQ(shown, s.shownIntervals);
        // The shown interval is the one the polls keep to.
        for (size_t i = 1; i < ticks.size() && i < shown.size(); ++i)
            EXPECT_EQ(ticks[i] - ticks[i - 1], static_cast<uint32_t>(shown[i]) * 1000u) << "refresh " << i + 1;

        std::vector<std::string> kisses;
        for (const JitterPoll& poll : polls) {
            kisses.push_back(poll.kissCode);
            EXPECT_EQ(poll.good, poll.kissCode.empty()) << "a kiss is a bad poll";
        }
        EXPECT_EQ(kisses, s.kisses);
        EXPECT_EQ(server.Requests().size(), s.kisses.size()) << "a denied run sends nothing more";
        const std::vector<double> recorded = CsvDeviations(ReadWholeFile(csv));
        EXPECT_EQ(recorded.size(), s.csvLines) << "kisses are never recorded";
        // The chart: every poll, the kisses marked, the CSV file's numbers.
        const std::vector<ChartView> charts = rig.window.Charts(IDC_CHART);
        ASSERT_FALSE(charts.empty());
        std::vector<double> charted;
        size_t marked = 0;
        for (const ChartPoint& p : charts.back().points) {
            if (p.marked)
                ++marked;
            else
                charted.push_back(p.y);
        }
        EXPECT_EQ(charts.back().points.size(), polls.size());
        EXPECT_EQ(marked, polls.size() - s.csvLines);
        EXPECT_EQ(charted, recorded);
        EXPECT_TRUE(rig.window.Control(IDC_CHART).visible) << "the chart stays after the run";
        if (!polls.empty()) {
            EXPECT_EQ(polls.back().stats.bad, static_cast<int>(std::count_if(
                                                  kisses.begin(), kisses.end(), [](auto& k) { return !k.empty(); })));
        }
        const std::string pane = rig.window.LogText();
        if (s.endLine) {
            EXPECT_TRUE(pane.size() > std::strlen(s.endLine) &&
                        pane.compare(pane.size() - std::strlen(s.endLine), std::string::npos, s.endLine) == 0)
                << pane;
        } else {
            EXPECT_EQ(pane.find("kiss code"), std::string::npos) << pane;
        }
        EXPECT_TRUE(rig.IsIdle());
    }
}

} // namespace

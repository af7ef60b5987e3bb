// The jitter monitor in the terminal against chronyd: the built program
// prints a line per poll, ends after --polls or at SIGINT with the final
// statistics, and records every good poll in the CSV file.
#include "support/ChildProcess.h"
#include "support/QtTestMain.h"
#include "support/TestPaths.h"
#include "support/TextLines.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace {

const std::regex PollLine(R"(Jitter Monitor -+ Poll interval: 1 s Polls good: (\d+) bad: (\d+) total: (\d+) )"
                          R"(Deviation Last: -?\d+ Min: -?\d+ Max: -?\d+ Delta: \d+ Average: -?\d+\.\d\d)");

} // namespace

TEST(JitterTerminal, PrintsAPollLineEachAndTheFinalStatisticsAndTheCsvLines)
{
    const std::string port = ChronyPort();
    if (port.empty())
        GTEST_SKIP() << "the chronyd fixture is not running";
    const std::string csv = ::testing::TempDir() + "/jitter-terminal.csv";
    std::remove(csv.c_str());
    const ProgramRun run = RunProgram({HOROLAB_PROGRAM, "--monitor", "127.0.0.1:" + port, "--polls", "3",
                                       "--csv", csv},
                                      ::testing::TempDir());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out, "\n");
    ASSERT_GE(lines.size(), 3u) << run.out;
    for (int n = 0; n < 3; ++n) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[n], match, PollLine)) << lines[n];
        EXPECT_EQ(match[1], std::to_string(n + 1));
        EXPECT_EQ(match[3], std::to_string(n + 1));
    }
    EXPECT_NE(run.out.find(" Jitter Monitor\n -----"), std::string::npos) << "the pane's text at the end";
    EXPECT_NE(run.out.find("           good: 3\n            bad: 0\n          total: 3\n"), std::string::npos)
        << run.out;

    // --polls 3 is three polls, every good one recorded.
    const ProgramRun file = RunProgram({"/bin/cat", csv}, ::testing::TempDir());
    const std::regex csvLine(R"((\d\d:\d\d:\d\d; -?\d+\r\n){3})");
    EXPECT_TRUE(std::regex_match(file.out, csvLine)) << file.out;
}

TEST(JitterTerminal, SigintEndsTheRunWithItsStatistics)
{
    const std::string port = ChronyPort();
    if (port.empty())
        GTEST_SKIP() << "the chronyd fixture is not running";
    CChildProcess child({HOROLAB_PROGRAM, "--monitor", "127.0.0.1:" + port}, ::testing::TempDir());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Lines(child.Out(), "\n").size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 0) << child.Err();
    const std::string out = child.Out();
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n          total: [2-9]\n)"))) << out;
    EXPECT_NE(out.find("        Average: "), std::string::npos) << out;
}

HOROLAB_QT_TEST_MAIN()

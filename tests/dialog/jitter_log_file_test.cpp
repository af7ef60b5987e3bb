// The jitter monitor's CSV file: the save-file dialog's proposal, the
// creation of the file, the lines of good polls, and silent failures.
#include "jitter/JitterLogFile.h"
#include "support/JitterRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Responder = CUdpResponder;

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// A fresh, empty folder of this test's own.
std::string MakeFolder(const std::string& name)
{
    const std::string dir = ::testing::TempDir() + "horolab_jitter_" + name + "_" + std::to_string(::getpid());
    std::remove((dir + "/log.csv").c_str());
    ::rmdir(dir.c_str());
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

std::vector<std::string> CsvLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
    return lines;
}

class JitterLogFileTest : public ::testing::Test, public JitterRig {};

// --- Choosing the file ---------------------------------------------------------

TEST_F(JitterLogFileTest, ProposesANameFromTheServerBoxAsItStands)
{
    std::string path;
    for (const char* server : {"abc", "", "abc:124"}) {
        window.SetText(IDC_SERVER, server);
        EXPECT_FALSE(dialog.ChooseJitterLogFile(path)) << "the fake dialog is cancelled";
    }
    const std::vector<std::string> expected = {"JitterMonitor abc.csv", "JitterMonitor .csv",
                                               "JitterMonitor abc:124.csv"};
    EXPECT_EQ(window.SaveFileRequests(), expected);

    std::string filter;
    window.saveFileAnswer = [&](const std::string&, const std::string& f, std::string&) {
        filter = f;
        return false;
    };
    dialog.ChooseJitterLogFile(path);
    EXPECT_EQ(filter, "Comma Separated File (*.csv)|*.csv||");
}

TEST_F(JitterLogFileTest, ConfirmingCreatesOrEmptiesTheFile)
{
    const std::string dir = MakeFolder("choose");
    const std::string file = dir + "/log.csv";
    std::string path;

    window.saveFileAnswer = [&](const std::string&, const std::string&, std::string& p) {
        p = file;
        return false;
    };
    EXPECT_FALSE(dialog.ChooseJitterLogFile(path));
    EXPECT_FALSE(Exists(file)) << "a cancelled choice creates nothing";

    ChooseFile(file);
    ASSERT_TRUE(dialog.ChooseJitterLogFile(path));
    EXPECT_EQ(path, file);
    EXPECT_TRUE(Exists(file));
    EXPECT_EQ(ReadWholeFile(file), "");

    WriteFile(file, "12:00:00; 5\r\n");
    ASSERT_TRUE(dialog.ChooseJitterLogFile(path));
    EXPECT_EQ(ReadWholeFile(file), "") << "an existing file is emptied without a question";

    ChooseFile(dir + "/missing/log.csv");
    EXPECT_TRUE(dialog.ChooseJitterLogFile(path)) << "a file that cannot be created is still chosen";
    EXPECT_EQ(path, dir + "/missing/log.csv");
    std::remove(file.c_str());
    ::rmdir(dir.c_str());
}

// --- The lines -----------------------------------------------------------------------

TEST_F(JitterLogFileTest, LineFormat)
{
    EXPECT_EQ(FormatJitterLine(14, 5, 9, 12), "14:05:09; 12\r\n");
    EXPECT_EQ(FormatJitterLine(14, 5, 10, -3), "14:05:10; -3\r\n");
    EXPECT_EQ(FormatJitterLine(9, 5, 3, 0), "09:05:03; 0\r\n");
    EXPECT_EQ(FormatJitterLine(0, 0, 0, 1000), "00:00:00; 1000\r\n");
    EXPECT_EQ(FormatJitterLine(-1, -1, -1, -2147483647 - 1), "-1:-1:-1; -2147483648\r\n");
}

TEST_F(JitterLogFileTest, AppendsOneStampedLinePerCall)
{
    const std::string dir = MakeFolder("append");
    const std::string file = dir + "/log.csv";
    // Two seconds of the calendar, stamped in local time of day.
    const int64_t first = 1704067200 + 14 * 3600 + 5 * 60 + 9;
    AppendJitterLine(file, 12, first);
    AppendJitterLine(file, -3, first + 1);

    auto localLine = [](int64_t when, int deviation) {
        const std::time_t t = static_cast<std::time_t>(when);
        std::tm local{};
        localtime_r(&t, &local);
        return FormatJitterLine(local.tm_hour, local.tm_min, local.tm_sec, deviation);
    };
    EXPECT_EQ(ReadWholeFile(file), localLine(first, 12) + localLine(first + 1, -3));

    // A folder that is gone loses the line silently.
    AppendJitterLine(dir + "/missing/log.csv", 7, first);
    EXPECT_FALSE(Exists(dir + "/missing"));
    std::remove(file.c_str());
    ::rmdir(dir.c_str());
}

// --- During a run -------------------------------------------------------------------------

TEST_F(JitterLogFileTest, RunWritesTheDeviationOfEveryGoodPoll)
{
    const std::string dir = MakeFolder("run");
    const std::string file = dir + "/log.csv";
    WriteFile(file, "old content\r\n");
    Responder server(Responder::NtpServer());
    ChooseFile(file);
    StopAfterRefreshes(5);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());

    // Refresh n + 1 shows as Last the deviation that poll n wrote.
    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 5u);
    const std::vector<std::string> lines = CsvLines(ReadWholeFile(file));
    ASSERT_EQ(lines.size(), 5u) << "the last poll is written though not shown";
    const std::regex shape(R"(\d\d:\d\d:\d\d; (-?\d+))");
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        if (i + 1 < stats.size()) {
            EXPECT_EQ(std::stoi(m[1].str()), stats[i + 1].last);
        }
    }
    std::remove(file.c_str());
    ::rmdir(dir.c_str());
}

TEST_F(JitterLogFileTest, RunWithoutAGoodPollLeavesAnEmptyFile)
{
    const std::string dir = MakeFolder("bad");
    const std::string file = dir + "/log.csv";
    WriteFile(file, "old content\r\n");
    Responder server(Responder::Always({Responder::Bytes(47)}));
    ChooseFile(file);
    StopAfterRefreshes(4);
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());
    EXPECT_EQ(Stats().back().bad, 3);
    EXPECT_TRUE(Exists(file));
    EXPECT_EQ(ReadWholeFile(file), "");
    std::remove(file.c_str());
    ::rmdir(dir.c_str());
}

TEST_F(JitterLogFileTest, FolderRemovedMidRunLosesLinesAndTheRunGoesOn)
{
    const std::string dir = MakeFolder("gone");
    const std::string file = dir + "/log.csv";
    Responder server(Responder::NtpServer());
    ChooseFile(file);
    std::string beforeRemoval;
    onRefresh = [&](int refresh, uint32_t) {
        if (refresh == 3) {
            beforeRemoval = ReadWholeFile(file);
            std::remove(file.c_str());
            ::rmdir(dir.c_str());
        }
        if (refresh == 6)
            dialog.OnCommand(IDC_GO);
    };
    Start(server.ServerText());
    ASSERT_TRUE(FinishRun());

    EXPECT_EQ(CsvLines(beforeRemoval).size(), 2u);
    EXPECT_FALSE(Exists(dir)) << "nothing recreates the folder";
    const auto stats = Stats();
    ASSERT_EQ(stats.size(), 6u);
    EXPECT_EQ(stats.back().good, 5) << "polls after the removal still count as good";
    EXPECT_EQ(stats.back().bad, 0);
    for (const auto& text : LogTexts())
        EXPECT_TRUE(text == "Jitter Monitor" || IsJitterStatsText(text)) << "nothing is reported: " << text;
    EXPECT_TRUE(IsIdle());
}

} // namespace

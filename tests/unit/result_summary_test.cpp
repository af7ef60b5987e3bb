#include "query/ResultSummary.h"

#include "fakes/FakeWindow.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(GetQuickDescription, KnownIdentifiers)
{
    const std::pair<const char*, const char*> cases[] = {
        {"INIT", "No telegram received since startup."},
        {"NVAL", "Telegram available, but no valid time."},
        {"GPS ", "NTP Server is running and synced."},
        {"NSYN", "NTP Server is running, but not synced."},
        {"NLGL", "NTP Server running, but invalid time."},
        {"LOST", "No telegram received since > 1 hour."},
        // Comparisons are exact and case-sensitive.
        {"GPS", "no description available"},
        {"init", "no description available"},
        {"lost", "no description available"},
        {"    ", "no description available"},
        {"71.80.83.0", "no description available"},
        {"", "no description available"},
    };
    for (const auto& [refId, description] : cases)
        for (int stratum : {0, 1, 12, 16})
            EXPECT_EQ(GetQuickDescription(refId, stratum), description) << refId << " " << stratum;
}

TEST(GetQuickDescription, AllZeroIdentifierByStratum)
{
    const std::pair<int, const char*> cases[] = {
        {10, "No telegram received since > 5 sec"},
        {11, "No telegram received since > 10 min"},
        {12, "No telegram received since > 20 min"},
        {13, "No telegram received since > 30 min"},
        {14, "No telegram received since > 40 min"},
        {15, "No telegram received since > 50 min"},
        {2, " no description available"},
        {3, " no description available"},
        {9, " no description available"},
        {16, " no description available"},
        {0, " no description available"},
        {255, " no description available"},
    };
    for (const auto& [stratum, description] : cases)
        EXPECT_EQ(GetQuickDescription("0.0.0.0", stratum), description) << stratum;
}

class ResultBox : public ::testing::Test {
protected:
    std::string Box(const std::string& host, uint8_t stratum, std::vector<uint8_t> refId)
    {
        CNtpMsg reply;
        reply.m_stratum = stratum;
        std::copy(refId.begin(), refId.end(), reply.m_refId);
        m_dialog.m_host = host;
        return m_dialog.FormatResultBox(reply);
    }

    FakeWindow m_window;
    CTikkaraDlg m_dialog{m_window};
};

TEST_F(ResultBox, IsTheWholeBox)
{
    EXPECT_EQ(Box("192.0.2.1", 1, {'G', 'P', 'S', 0}),
              "+--Result--------------------------------+\r\n"
              "|                                        |\r\n"
              "| 192.0.2.1 is online                    |\r\n"
              "| at Stratum   1                         |\r\n"
              "| Reference is GPS                       |\r\n"
              "|                                        |\r\n"
              "| Quick Description:                     |\r\n"
              "| NTP Server is running and synced.      |\r\n"
              "|                                        |\r\n"
              "+----------------------------------------+\r\n");
}

// The text between "| " and " |" of the line that follows "Quick Description:".
std::string DescriptionLine(const std::string& box)
{
    const size_t start = box.find("Quick Description:");
    const size_t line = box.find("\r\n", start) + 2;
    return box.substr(line, box.find("\r\n", line) - line);
}

TEST_F(ResultBox, EveryStratumBranchOfTheZeroIdentifier)
{
    EXPECT_EQ(DescriptionLine(Box("h", 12, {0, 0, 0, 0})),
              "| No telegram received since > 20 min    |");
    EXPECT_EQ(DescriptionLine(Box("h", 3, {0, 0, 0, 0})),
              "|  no description available              |");
    EXPECT_EQ(DescriptionLine(Box("h", 0, {0, 0, 0, 0})),
              "| no description available               |");
    EXPECT_EQ(DescriptionLine(Box("h", 16, {0, 0, 0, 0})),
              "| no description available               |");
    EXPECT_EQ(DescriptionLine(Box("h", 2, {'G', 'P', 'S', 0})),
              "| no description available               |");
    for (uint8_t stratum = 10; stratum <= 15; ++stratum)
        EXPECT_EQ(DescriptionLine(Box("h", stratum, {0, 0, 0, 0})).size(), 42u);
}

TEST_F(ResultBox, IdentifierAndStratumLines)
{
    const std::string box = Box("h", 2, {'G', 'P', 'S', 0});
    EXPECT_NE(box.find("| Reference is 71.80.83.0                |\r\n"), std::string::npos);
    const std::string high = Box("h", 200, {'L', 'O', 'S', 'T'});
    EXPECT_NE(high.find("| at Stratum   200                       |\r\n"), std::string::npos);
    EXPECT_NE(high.find("| No telegram received since > 1 hour.   |\r\n"), std::string::npos);
}

TEST_F(ResultBox, LongHostPushesOnlyItsLine)
{
    const std::string host28(28, 'x');
    const std::string host29(29, 'y');
    EXPECT_NE(Box(host28, 1, {'I', 'N', 'I', 'T'}).find("| " + host28 + " is online |\r\n"),
              std::string::npos);
    const std::string box = Box(host29, 1, {'I', 'N', 'I', 'T'});
    size_t start = 0;
    int longLines = 0;
    for (size_t end; (end = box.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const size_t width = end - start;
        EXPECT_TRUE(width == 42 || width == 43) << box.substr(start, width);
        longLines += width == 43;
    }
    EXPECT_EQ(longLines, 1);
    EXPECT_NE(box.find("| " + host29 + " is online |\r\n"), std::string::npos);
}

} // namespace

// The survey's verdicts without a network: Marzullo's intersection over
// interval sets, the figures and state of one address from its samples, and
// the table that shows them.
#include "support/NtpSamples.h"
#include "support/TextLines.h"

#include "survey/Intersection.h"
#include "survey/Survey.h"
#include "survey/SurveyTable.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(SurveyIntersection, FindsTheLargestSetSharingAPoint)
{
    struct Case {
        const char* what;
        std::vector<CorrectnessInterval> intervals;
        std::vector<bool> agrees; // all false without a majority
        bool majority;
        int agreeing;
        double low, high;
    };
    const Case cases[] = {
        {"nothing to compare", {}, {}, false, 0, 0, 0},
        {"one clock is its own majority", {{-1, 1}}, {true}, true, 1, -1, 1},
        {"three agree, one far off", {{-1, 1}, {0, 2}, {-0.5, 0.5}, {10, 11}}, {true, true, true, false}, true, 3, 0, 0.5},
        {"nested intervals", {{0, 10}, {2, 3}, {2.5, 8}}, {true, true, true}, true, 3, 2.5, 3},
        {"touching intervals share their end", {{0, 1}, {1, 2}}, {true, true}, true, 2, 1, 1},
        {"the far one is listed first", {{100, 101}, {0, 2}, {1, 3}}, {false, true, true}, true, 2, 1, 2},
        {"two that disagree", {{0, 1}, {2, 3}}, {false, false}, false, 1, 0, 0},
        {"half is no majority", {{0, 1}, {0.5, 1.5}, {5, 6}, {10, 11}}, {false, false, false, false}, false, 2, 0, 0},
        {"three of five", {{0, 2}, {1, 3}, {1.5, 4}, {7, 8}, {-9, -8}}, {true, true, true, false, false}, true, 3, 1.5, 2},
        {"two equal sets that do not meet", {{0, 10}, {1, 2}, {5, 6}}, {false, false, false}, false, 2, 0, 0},
    };
    for (const Case& c : cases) {
        const IntersectionResult r = Intersect(c.intervals);
        EXPECT_EQ(r.majority, c.majority) << c.what;
        EXPECT_EQ(r.agreeing, c.agreeing) << c.what;
        EXPECT_EQ(r.agrees, c.agrees) << c.what;
        EXPECT_DOUBLE_EQ(r.low, c.low) << c.what;
        EXPECT_DOUBLE_EQ(r.high, c.high) << c.what;
    }
}

constexpr NtpTimestamp Start{NewYear2024, 0};

// An answer that measures `offsetMs` and `delayMs` (whole milliseconds, the
// delay even), as a server with the given root delay and dispersion sends it.
NtpExchange Answer(int offsetMs, int delayMs, double rootDelay = 0, double rootDispersion = 0)
{
    NtpExchange e;
    e.outcome = ExchangeOutcome::Answered;
    e.requestTransmit = e.sentAt = Start;
    e.arrivedAt = ShiftedMs(Start, delayMs);
    e.reply = GpsAnswer();
    e.reply.m_leap = NtpLeapNoWarning;
    e.reply.m_originate = Start;
    e.reply.m_receive = e.reply.m_transmit = ShiftedMs(Start, delayMs / 2 + offsetMs);
    e.reply.m_rootDelay = rootDelay;
    e.reply.m_rootDispersion = rootDispersion;
    return e;
}

NtpExchange Kiss(const char* code)
{
    NtpExchange e = Answer(0, 2);
    e.reply.m_stratum = NtpStratumKiss;
    std::copy(code, code + 4, e.reply.m_refId);
    return e;
}

// A request that went unanswered, or failed here: with no socket it never left.
NtpExchange Failed(ExchangeOutcome outcome = ExchangeOutcome::TimedOut, int error = 0)
{
    NtpExchange e;
    e.outcome = outcome;
    e.error = error;
    if (outcome != ExchangeOutcome::SocketFailed)
        e.request.assign(NtpHeaderSize, 0);
    return e;
}
NtpExchange Silence() { return Failed(); }

TEST(SurveyJudgement, TheBestSampleTheSpreadAndTheState)
{
    NtpExchange unsynchronised = Answer(0, 2);
    unsynchronised.reply.m_leap = NtpLeapNotSynchronised;
    NtpExchange stratum16 = Answer(0, 2);
    stratum16.reply.m_stratum = NtpStratumUnsynchronised;
    NtpExchange foreign = Answer(0, 2);
    foreign.reply.m_originate = ShiftedMs(Start, 1); // the answer to another request

    struct Case {
        const char* what;
        std::vector<NtpExchange> samples;
        SurveyState state;
        double offsetMs, delayMs, distanceMs;
        double jitterMs; // NAN: none
        std::string why;
    };
    const Case cases[] = {
        {"the least delay wins; RMS about its offset",
         {Answer(10, 40), Answer(4, 8), Answer(6, 20), Answer(1, 12)}, SurveyState::Undecided, 4, 8, 4,
         std::sqrt((36.0 + 4 + 9) / 3), ""},
        {"one answer has no jitter; root delay and dispersion widen the interval",
         {Silence(), Answer(-3, 6, 0.010, 0.002)}, SurveyState::Undecided, -3, 6, 3 + 5 + 2, NAN, ""},
        {"nothing came", {Silence(), Silence()}, SurveyState::Unreachable, 0, 0, 0, NAN,
         "--No answer from Server. timed out."},
        {"no socket: nothing was sent", {Failed(ExchangeOutcome::SocketFailed, 10024)}, SurveyState::NotSent, 0, 0,
         0, NAN, "--Error at socket creation: 10024"},
        {"every send failed", {Failed(ExchangeOutcome::SendFailed, 10051), Failed(ExchangeOutcome::SendFailed, 10051)},
         SurveyState::NotSent, 0, 0, 0, NAN, "Socket Error while sending."},
        {"one request left before the sends failed", {Silence(), Failed(ExchangeOutcome::SendFailed, 10051)},
         SurveyState::Unreachable, 0, 0, 0, NAN, "Socket Error while sending."},
        {"stopped before the first request", {}, SurveyState::NotSent, 0, 0, 0, NAN,
         "stopped before the first request"},
        {"a kiss ends it, whatever came before", {Answer(1, 2), Kiss("RATE")}, SurveyState::KissCode, 0, 0, 0, NAN,
         "rate exceeded: the server asks the client to slow down"},
        {"leap 3", {unsynchronised}, SurveyState::Unsynchronised, 0, 0, 0, NAN,
         "server not synchronised (leap indicator 3)"},
        {"stratum 16", {stratum16, Silence()}, SurveyState::Unsynchronised, 0, 0, 0, NAN, "unusable stratum 16"},
        {"stratum 0 without a code of ours", {foreign}, SurveyState::Unsynchronised, 0, 0, 0, NAN,
         "Originate Timestamp is not this request's Transmit Timestamp"},
    };
    for (const Case& c : cases) {
        SurveyAddress a;
        a.samples = c.samples;
        JudgeSamples(a);
        EXPECT_EQ(a.state, c.state) << c.what;
        EXPECT_EQ(a.why, c.why) << c.what;
        EXPECT_EQ(a.jitter.has_value(), !std::isnan(c.jitterMs)) << c.what;
        if (!a.Usable())
            continue;
        EXPECT_NEAR(a.offset * 1000, c.offsetMs, 1e-6) << c.what;
        EXPECT_NEAR(a.delay * 1000, c.delayMs, 1e-6) << c.what;
        EXPECT_NEAR(a.rootDistance * 1000, c.distanceMs, 1e-6) << c.what;
        if (a.jitter) {
            EXPECT_NEAR(*a.jitter * 1000, c.jitterMs, 1e-6) << c.what;
        }
    }
}

SurveyAddress Judged(const std::string& text, uint16_t family, std::vector<NtpExchange> samples)
{
    SurveyAddress a;
    a.names = {"pool.example"};
    a.addressText = text;
    a.address.family = family;
    a.address.address6[15] = static_cast<uint8_t>(text.size()); // distinct endpoints
    a.samples = std::move(samples);
    JudgeSamples(a);
    return a;
}

// The box fits the window's log pane at its default size (64 columns):
// each address on two lines, the second left out when it never answered,
// names only when there are several, notes folded; the server's bytes shown
// as text.
TEST(SurveyTable, FitsTheDefaultPaneAndNamesTheFalseTicker)
{
    const std::string longIPv6 = "[2001:db8:1234:5678:9abc::1234:5678]:10123";
    SurveyResult survey;
    survey.samples = 2;
    survey.addresses = {
        Judged("192.0.2.1", AddressFamilyIPv4, {Answer(1, 4), Answer(2, 6)}),
        Judged("192.0.2.2", AddressFamilyIPv4, {Answer(500, 4)}),
        Judged(longIPv6, AddressFamilyIPv6, {Answer(0, 2), Silence()}),
        Judged("192.0.2.3", AddressFamilyIPv4, {Silence(), Silence()}),
        Judged("192.0.2.4", AddressFamilyIPv4, {Kiss("\x1b[2J")}),
        Judged("192.0.2.5", AddressFamilyIPv4, {Failed(ExchangeOutcome::SendFailed, 10051)}),
    };
    SelectTruechimers(survey);
    EXPECT_EQ(survey.addresses[0].state, SurveyState::Truechimer);
    EXPECT_EQ(survey.addresses[1].state, SurveyState::FalseTicker);
    EXPECT_EQ(survey.addresses[2].state, SurveyState::Truechimer);
    ASSERT_EQ(survey.selection.disagreements.size(), 1u) << "the false ticker is IPv4, the other IPv6";
    EXPECT_EQ(survey.selection.disagreements[0].ipv4, 1u);
    EXPECT_EQ(survey.selection.disagreements[0].ipv6, 2u);

    for (const bool severalNames : {false, true}) {
        if (severalNames)
            survey.addresses[1].names.push_back("other.example");
        const std::string table = FormatSurveyTable(survey);
        ASSERT_EQ(table.substr(table.size() - 2), "\r\n");
        std::vector<std::string> lines = Lines(table, "\n");
        lines.pop_back(); // after the last line end
        const size_t width = lines.front().size();
        EXPECT_LE(width, 64u + 1) << table; // with its CR
        for (const std::string& line : lines) {
            EXPECT_EQ(line.size(), width) << line;
            EXPECT_EQ(line.back(), '\r');
        }
        EXPECT_EQ(lines.front().substr(0, 10), "+--Survey-");
        const size_t state = lines[2].find("State");
        EXPECT_EQ(lines[2].find("| Address"), 0u) << lines[2];
        EXPECT_NE(lines[3].find("  Offset"), std::string::npos) << lines[3];
        // Each address's lines: who and state (under the header's), then its figures.
        size_t at = severalNames ? 5 : 4;
        const struct {
            std::string who, state, figures; // no figures: never answered
        } rows[] = {{"192.0.2.1", "truechimer", "GPS"}, {"192.0.2.2", "false ticker", "+500.000"},
                    {longIPv6, "truechimer", "GPS"},    {"192.0.2.3", "unreachable", ""},
                    {"192.0.2.4", "kiss code \\x1b[2J", "27 91 50 74"}, {"192.0.2.5", "not sent", ""}};
        for (const auto& row : rows) {
            ASSERT_LT(at + 2, lines.size());
            EXPECT_EQ(lines[at].find("| " + row.who + " "), 0u) << lines[at];
            at += row.who == longIPv6 ? 1 : 0; // too long to share its line with the state
            EXPECT_EQ(lines[at].substr(state, row.state.size()), row.state) << lines[at];
            if (!row.figures.empty()) {
                EXPECT_NE(lines[++at].find(row.figures), std::string::npos) << lines[at];
            }
            if (severalNames) {
                const std::string names = row.who == "192.0.2.2" ? "pool.example, other.example" : "pool.example";
                EXPECT_EQ(lines[++at].find("|   " + names + " "), 0u) << lines[at];
            }
            ++at;
        }
        EXPECT_EQ(table.find("pool.example") != std::string::npos, severalNames) << "one name says nothing";
        EXPECT_EQ(table.find('\x1b'), std::string::npos) << "the server's bytes are never sent to the pane";
        const std::string notes = Unwrapped(table);
        for (const std::string& note :
             {std::string("2 of 3 answers agree: the time lies within -1.000 .. +1.000 ms."),
              "IPv4 192.0.2.2 and IPv6 " + longIPv6 + " disagree beyond their intervals.",
              std::string("192.0.2.3: --No answer from Server. timed out."),
              std::string("192.0.2.4: kiss code \\x1b[2J, a code of its own."),
              std::string("192.0.2.5: Socket Error while sending.")})
            EXPECT_NE(notes.find(note), std::string::npos) << note << "\n" << table;
    }
}

} // namespace

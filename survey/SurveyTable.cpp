#include "survey/SurveyTable.h"

#include "ntp/Format.h"
#include "ntp/NtpMsg.h"
#include "ntp/PrintableText.h"

#include <algorithm>

namespace {

// Widest line inside the box: with its frame it fits the window's log pane
// at its default size (64 columns), as the query's and the NTS check's boxes do.
constexpr size_t InnerWidth = 60;

enum class Align { Left, Right };

struct Column {
    const char* title;
    size_t width; // the least; a longer value widens the whole column
    Align align;
};
using Cells = std::vector<std::string>;

// Each address takes two lines: who it is and what it is, then what it
// measured; a third names its names when the survey has more than one.
constexpr Column WhoColumns[] = {{"Address", 15, Align::Left}, {"State", 14, Align::Left}, {"Stratum", 7, Align::Right}};
constexpr Column FigureColumns[] = {{"Offset", 8, Align::Right},
                                    {"Delay", 7, Align::Right},
                                    {"Jitter", 7, Align::Right},
                                    {"Root dist.", 10, Align::Right},
                                    {"Reference", 0, Align::Left}};
const std::string Indent = "  ";

std::string Ms(const char* format, double seconds) { return Format(format, seconds * 1000); }

std::string Join(const std::vector<std::string>& parts, const char* separator)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

std::string StateText(const SurveyAddress& a)
{
    if (a.state == SurveyState::KissCode)
        return Format("kiss code %s", a.kissCode.c_str());
    return SurveyStateName(a.state);
}

Cells WhoOf(const SurveyAddress& a)
{
    return {a.addressText, StateText(a), a.Answered() ? Format("%i", a.best.reply.m_stratum) : "-"};
}

Cells FiguresOf(const SurveyAddress& a)
{
    const std::string reference = PrintableText(a.best.reply.GetRefIdText());
    if (!a.Usable())
        return {"-", "-", "-", "-", reference};
    return {Ms("%+.3f", a.offset), Ms("%.3f", a.delay), a.jitter ? Ms("%.3f", *a.jitter) : "-",
            Ms("%.3f", a.rootDistance), reference};
}

std::string PadLeft(const std::string& text, size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// The columns' widths: each the widest of its title, its least width and its cells.
template <size_t N>
std::vector<size_t> Widths(const Column (&columns)[N], const std::vector<Cells>& rows)
{
    std::vector<size_t> widths;
    for (size_t c = 0; c < N; ++c) {
        size_t width = std::max(columns[c].width, std::string(columns[c].title).size());
        for (const Cells& row : rows)
            width = std::max(width, row[c].size());
        widths.push_back(width);
    }
    return widths;
}

template <size_t N>
std::string Line(const Column (&columns)[N], const Cells& cells, const std::vector<size_t>& widths)
{
    std::string line;
    for (size_t c = 0; c < N; ++c) {
        const bool last = c + 1 == N;
        line += columns[c].align == Align::Right ? PadLeft(cells[c], widths[c])
                : last                           ? cells[c]
                                                 : PadRight(cells[c], widths[c]);
        line += last ? "" : "  ";
    }
    return line;
}

template <size_t N>
Cells Titles(const Column (&columns)[N])
{
    Cells titles;
    for (const Column& column : columns)
        titles.push_back(column.title);
    return titles;
}

// The addresses' lines under the titles' two.
std::vector<std::string> TableLines(const SurveyResult& survey)
{
    std::vector<Cells> who = {Titles(WhoColumns)};
    std::vector<Cells> figures = {Titles(FigureColumns)};
    std::vector<std::string> names;
    for (const SurveyAddress& a : survey.addresses) {
        who.push_back(WhoOf(a));
        figures.push_back(FiguresOf(a));
        for (const std::string& name : a.names)
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
    }
    std::vector<size_t> whoWidths = Widths(WhoColumns, who);
    // An address too long to leave room for its state takes a line of its own.
    const size_t rest = whoWidths[1] + whoWidths[2] + 4;
    whoWidths[0] = std::min(whoWidths[0], std::max(InnerWidth, rest + WhoColumns[0].width) - rest);
    const std::vector<size_t> figureWidths = Widths(FigureColumns, figures);
    std::vector<std::string> lines;
    for (size_t n = 0; n < who.size(); ++n) {
        if (who[n][0].size() > whoWidths[0]) {
            lines.push_back(who[n][0]);
            who[n][0].clear();
        }
        lines.push_back(Line(WhoColumns, who[n], whoWidths));
        // Nothing to show for an address that never answered.
        if (n == 0 || survey.addresses[n - 1].Answered())
            lines.push_back(Indent + Line(FigureColumns, figures[n], figureWidths));
        // The one name of every address carries nothing.
        if (names.size() > 1)
            lines.push_back(Indent + (n == 0 ? "Names" : Join(survey.addresses[n - 1].names, ", ")));
    }
    return lines;
}

// A note in lines of at most InnerWidth, broken at blanks, the later lines
// indented; a word longer than a line is never cut.
void AddWrapped(std::vector<std::string>& lines, const std::string& note)
{
    std::string line;
    size_t at = 0;
    while (at < note.size()) {
        const size_t end = std::min(note.find(' ', at), note.size());
        const std::string word = note.substr(at, end - at);
        at = end + 1;
        const bool fresh = line.empty() || line == Indent;
        if (!fresh && line.size() + 1 + word.size() > InnerWidth) {
            lines.push_back(line);
            line = Indent + word;
        } else {
            line += (fresh ? "" : " ") + word;
        }
    }
    lines.push_back(line);
}

std::string SelectionLine(const SurveySelection& s)
{
    if (s.candidates == 0)
        return "No answer to compare.";
    if (s.majority)
        return Format("%i of %i answers agree: the time lies within %+.3f .. %+.3f ms.", s.agreeing, s.candidates,
                      s.low * 1000, s.high * 1000);
    if (2 * s.agreeing > s.candidates)
        return Format("No majority: two sets of %i answers each agree, not with each other.", s.agreeing);
    return Format("No majority: at most %i of %i answers agree on the time.", s.agreeing, s.candidates);
}

std::vector<std::string> Notes(const SurveyResult& survey)
{
    std::vector<std::string> notes = {
        SelectionLine(survey.selection),
    };
    for (const FamilyDisagreement& d : survey.selection.disagreements) {
        const SurveyAddress& v4 = survey.addresses[d.ipv4];
        const SurveyAddress& v6 = survey.addresses[d.ipv6];
        notes.push_back(Format("IPv4 %s and IPv6 %s disagree beyond their intervals.", v4.addressText.c_str(),
                               v6.addressText.c_str()));
    }
    for (const SurveyAddress& a : survey.addresses) {
        if (a.state == SurveyState::KissCode)
            notes.push_back(Format("%s: kiss code %s, %s.", a.addressText.c_str(), a.kissCode.c_str(),
                                   a.why.empty() ? "a code of its own" : a.why.c_str()));
        else if (a.state == SurveyState::Unreachable || a.state == SurveyState::NotSent ||
                 a.state == SurveyState::Unsynchronised)
            notes.push_back(Format("%s: %s", a.addressText.c_str(), a.why.c_str()));
    }
    if (survey.stopped)
        notes.push_back("Stopped before every sample was taken.");
    const std::string asked = survey.samples == 1 ? "1 sample per address."
                                                  : Format("%i samples per address, %u s apart.", survey.samples,
                                                           SurveySpacingMs / 1000);
    notes.push_back(asked + " Times in ms: offset and delay of the answer with the least delay; jitter, "
                            "the RMS of the other offsets about its offset; root distance, delay/2 + "
                            "root delay/2 + root dispersion.");
    return notes;
}

} // namespace

std::string FormatSurveyStart(const SurveyResult& survey)
{
    std::string text;
    for (const NtpExchange& failure : survey.unresolved)
        text += ExchangeFailureText(failure) + "\r\n";
    if (survey.addresses.empty())
        return text;
    std::vector<std::string> names;
    for (const SurveyAddress& a : survey.addresses)
        for (const std::string& name : a.names)
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
    const size_t count = survey.addresses.size();
    return text + Format("Surveying %zu address%s of %s\r\n", count, count == 1 ? "" : "es", Join(names, ", ").c_str());
}

std::string FormatSurveyTable(const SurveyResult& survey)
{
    std::vector<std::string> lines = TableLines(survey);
    lines.push_back("");
    for (const std::string& note : Notes(survey))
        AddWrapped(lines, note);

    size_t inner = 0;
    for (const std::string& line : lines)
        inner = std::max(inner, line.size());
    const std::string title = "--Survey";
    std::string box = "+" + title + std::string(inner + 2 - title.size(), '-') + "+\r\n";
    box += "|" + std::string(inner + 2, ' ') + "|\r\n";
    for (const std::string& line : lines)
        box += "| " + PadRight(line, inner) + " |\r\n";
    box += "|" + std::string(inner + 2, ' ') + "|\r\n";
    box += "+" + std::string(inner + 2, '-') + "+\r\n";
    return box;
}

#include "survey/SurveyTable.h"

#include "ntp/Format.h"
#include "ntp/NtpMsg.h"

#include <algorithm>

namespace {

enum class Align { Left, Right };

struct Column {
    const char* title;
    size_t width; // the least; a longer value widens the whole column
    Align align;
};

// What tells the addresses apart first, so that a narrow pane shows it.
constexpr Column Columns[] = {
    {"Address", 15, Align::Left}, {"State", 14, Align::Left},      {"Offset", 8, Align::Right},
    {"Delay", 6, Align::Right},   {"Jitter", 6, Align::Right},     {"Root dist.", 10, Align::Right},
    {"Stratum", 7, Align::Right}, {"Reference", 11, Align::Left},  {"Name", 4, Align::Left},
};
constexpr size_t ColumnCount = sizeof Columns / sizeof Columns[0];
using Row = std::vector<std::string>;

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

Row RowOf(const SurveyAddress& a)
{
    Row row = {a.addressText, StateText(a), "-", "-", "-", "-", "-", "-", Join(a.names, ",")};
    if (a.state == SurveyState::Unreachable)
        return row;
    row[6] = Format("%i", a.best.reply.m_stratum);
    row[7] = a.best.reply.GetRefIdText();
    if (!a.Usable())
        return row;
    row[2] = Ms("%+.3f", a.offset);
    row[3] = Ms("%.3f", a.delay);
    row[4] = a.jitter ? Ms("%.3f", *a.jitter) : "-";
    row[5] = Ms("%.3f", a.rootDistance);
    return row;
}

std::string PadLeft(const std::string& text, size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Line(const Row& row, const std::vector<size_t>& widths)
{
    std::string line;
    for (size_t c = 0; c < ColumnCount; ++c) {
        const bool last = c + 1 == ColumnCount;
        const std::string cell = Columns[c].align == Align::Right ? PadLeft(row[c], widths[c])
                                 : last                           ? row[c]
                                                                  : PadRight(row[c], widths[c]);
        line += cell + (last ? "" : "  ");
    }
    return line;
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
        else if (a.state == SurveyState::Unreachable || a.state == SurveyState::Unsynchronised)
            notes.push_back(Format("%s: %s", a.addressText.c_str(), a.why.c_str()));
    }
    if (survey.stopped)
        notes.push_back("Stopped before every sample was taken.");
    const std::string asked = survey.samples == 1 ? "1 sample per address."
                                                  : Format("%i samples per address, %u s apart.", survey.samples,
                                                           SurveySpacingMs / 1000);
    notes.push_back(asked + " Times in ms: offset and delay of the");
    notes.push_back("answer with the least delay; jitter, the RMS of the other offsets about its");
    notes.push_back("offset; root distance, delay/2 + root delay/2 + root dispersion.");
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
    std::vector<Row> rows = {{}};
    for (const Column& column : Columns)
        rows[0].push_back(column.title);
    for (const SurveyAddress& a : survey.addresses)
        rows.push_back(RowOf(a));

    std::vector<size_t> widths;
    for (size_t c = 0; c < ColumnCount; ++c) {
        size_t width = Columns[c].width;
        for (const Row& row : rows)
            width = std::max(width, row[c].size());
        widths.push_back(width);
    }
    std::vector<std::string> lines;
    for (const Row& row : rows)
        lines.push_back(Line(row, widths));
    lines.push_back("");
    for (const std::string& note : Notes(survey))
        lines.push_back(note);

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

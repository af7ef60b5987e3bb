#include "audit/AuditText.h"

#include "audit/AuditChecks.h"

#include "ntp/Format.h"
#include "ntp/PrintableText.h"

namespace {
constexpr size_t CheckNameWidth = 15;
const std::string EvidenceIndent(7, ' ');

// `text` after `first`, broken at blanks into lines of AuditTextWidth, the
// following lines indented by `indent`; a word longer than a line is cut.
std::string Wrapped(const std::string& first, const std::string& text, const std::string& indent)
{
    std::string out;
    std::string line = first;
    bool bare = true; // no word on this line yet
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(at, end - at);
        at = end + 1;
        if (!bare && line.size() + 1 + word.size() > AuditTextWidth) {
            out += line + "\r\n";
            line = indent;
            bare = true;
        }
        if (!bare)
            line += ' ';
        while (line.size() + word.size() > AuditTextWidth) {
            const size_t room = AuditTextWidth - line.size();
            out += line + word.substr(0, room) + "\r\n";
            word = word.substr(room);
            line = indent;
        }
        line += word;
        bare = false;
    }
    return out + line + "\r\n";
}

std::string CheckLines(const AuditCheck& check)
{
    std::string out = Wrapped(Format("  %-4s %s ", AuditResultName(check.result),
                                     PadRight(AuditCheckName(check.id), CheckNameWidth).c_str()),
                              check.summary, std::string(7 + CheckNameWidth, ' '));
    for (const std::string& fact : check.evidence)
        out += Wrapped(EvidenceIndent, fact, EvidenceIndent + "  ");
    return out;
}

std::string AddressLines(const AuditAddress& a)
{
    std::string out = Wrapped("", a.addressText + ": grade " + AuditGradeName(a.grade), "  ");
    out += Format("  sent: %i datagrams, %i TCP connection%s; %.1f s\r\n", a.traffic.datagrams,
                  a.traffic.connections, a.traffic.connections == 1 ? "" : "s", a.seconds);
    for (const AuditCheck& check : a.checks)
        out += CheckLines(check);
    for (const AuditCheck& check : a.checks) {
        if (check.cap == AuditGrade::APlus)
            continue;
        out += Wrapped(Format("  Deduction to %s: ", AuditGradeName(check.cap)),
                       Format("%s, %s", AuditCheckName(check.id), check.summary.c_str()), "    ");
    }
    return out;
}
} // namespace

std::string FormatAuditStart(const AuditReport& report)
{
    if (!report.failure.empty())
        return report.failure + "\r\n";
    return Wrapped("", Format("Auditing %s: %zu address(es), a burst of up to %i requests each",
                              PrintableText(report.host).c_str(), report.addresses.size(), BurstRequests),
                   "");
}

std::string FormatAuditReport(const AuditReport& report)
{
    std::string out;
    for (const AuditAddress& a : report.addresses)
        out += AddressLines(a) + "\r\n";
    if (report.addressesLeftOut > 0)
        out += Wrapped("", Format("%i more address(es) not audited: audit them one by one", report.addressesLeftOut), "");
    out += Wrapped("", Format("Grade for %s: %s (%.1f s)", PrintableText(report.host).c_str(),
                              AuditGradeName(report.grade), report.seconds),
                   "");
    return out;
}

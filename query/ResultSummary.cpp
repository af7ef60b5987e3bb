#include "query/ResultSummary.h"

#include "ntp/Format.h"
#include "ui/TikkaraDlg.h"

namespace {

struct Description {
    const char* key;
    const char* text;
};

// Reference identifiers of servers fed by a time telegram; first match wins.
constexpr Description Descriptions[] = {
    {"INIT", "No telegram received since startup."},
    {"NVAL", "Telegram available, but no valid time."},
    {"GPS ", "NTP Server is running and synced."},
    {"NSYN", "NTP Server is running, but not synced."},
    {"NLGL", "NTP Server running, but invalid time."},
    {"LOST", "No telegram received since > 1 hour."},
};

// An all-zero identifier at strata 10 to 15 tells how long the telegram has
// been missing.
const char* DescribeByStratum(int stratum)
{
    static const char* const texts[] = {
        "No telegram received since > 5 sec",  "No telegram received since > 10 min",
        "No telegram received since > 20 min", "No telegram received since > 30 min",
        "No telegram received since > 40 min", "No telegram received since > 50 min",
    };
    if (stratum >= 10 && stratum <= 15)
        return texts[stratum - 10];
    return " no description available";
}

} // namespace

std::string GetQuickDescription(const std::string& refIdText, int stratum)
{
    for (const Description& entry : Descriptions) {
        if (refIdText == entry.key)
            return entry.text;
    }
    if (refIdText == "0.0.0.0")
        return DescribeByStratum(stratum);
    return "no description available";
}

std::string CTikkaraDlg::FormatResultBox(const CNtpMsg& reply) const { return ::FormatResultBox(m_host, reply); }

std::string FormatResultBox(const std::string& host, const CNtpMsg& reply)
{
    const std::string online = PadRight(Format("%s is online", host.c_str()), 38);
    const std::string stratum = PadRight(Format("%i", reply.m_stratum), 26);
    const std::string refId = reply.GetRefIdText();
    const std::string reference = PadRight(refId, 26);
    const std::string description = PadRight(GetQuickDescription(refId, reply.m_stratum), 38);
    return Format("+--Result--------------------------------+\r\n"
                  "|                                        |\r\n"
                  "| %s |\r\n"
                  "| at Stratum   %s|\r\n"
                  "| Reference is %s|\r\n"
                  "|                                        |\r\n"
                  "| Quick Description:                     |\r\n"
                  "| %s |\r\n"
                  "|                                        |\r\n"
                  "+----------------------------------------+\r\n",
                  online.c_str(), stratum.c_str(), reference.c_str(), description.c_str());
}

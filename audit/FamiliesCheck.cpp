#include "audit/AuditChecks.h"

#include "ntp/Format.h"
#include "survey/Survey.h"

#include <algorithm>

namespace {
// The audit's answers as a survey of one sample per address, so that the
// survey's judgement and intersection decide.
SurveyResult AsSurvey(const std::vector<AuditAddress>& addresses)
{
    SurveyResult survey;
    survey.samples = 1;
    for (const AuditAddress& a : addresses) {
        SurveyAddress s;
        s.names = {"name"};
        s.address = a.address;
        s.addressText = a.addressText;
        s.samples = {a.answer};
        JudgeSamples(s);
        survey.addresses.push_back(s);
    }
    SelectTruechimers(survey);
    return survey;
}
} // namespace

AuditCheck JudgeFamilies(const std::vector<AuditAddress>& addresses)
{
    AuditCheck check;
    check.id = AuditCheckId::Families;
    const bool v4 = std::any_of(addresses.begin(), addresses.end(), [](const AuditAddress& a) { return !a.IsIPv6(); });
    const bool v6 = std::any_of(addresses.begin(), addresses.end(), [](const AuditAddress& a) { return a.IsIPv6(); });
    if (!v4 || !v6) {
        check.summary = v4 ? "IPv4 only" : "IPv6 only";
        return check;
    }
    const SurveyResult survey = AsSurvey(addresses);
    check.result = AuditResult::Pass;
    for (const SurveyAddress& a : survey.addresses) {
        if (!a.Usable()) {
            check.evidence.push_back(a.addressText + ": no usable answer");
            check.result = AuditResult::Fail;
            check.summary = "not every address answers";
            continue;
        }
        check.evidence.push_back(Format("%s: offset %+.3f ms, interval %+.3f .. %+.3f ms", a.addressText.c_str(),
                                        a.offset * 1000, a.Low() * 1000, a.High() * 1000));
    }
    for (const FamilyDisagreement& d : survey.selection.disagreements) {
        check.evidence.push_back(survey.addresses[d.ipv4].addressText + " and " + survey.addresses[d.ipv6].addressText +
                                 ": intervals do not meet");
        check.result = AuditResult::Fail;
        check.summary = "IPv4 and IPv6 disagree on the time";
    }
    if (check.result == AuditResult::Pass)
        check.summary = "IPv4 and IPv6 answer, their intervals meet";
    else
        check.cap = AuditGrade::C;
    return check;
}

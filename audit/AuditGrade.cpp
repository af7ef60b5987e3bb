#include "audit/Audit.h"

#include <algorithm>
#include <cctype>
#include <iterator>

const char* AuditResultName(AuditResult result)
{
    switch (result) {
    case AuditResult::Pass: return "pass";
    case AuditResult::Warn: return "warn";
    case AuditResult::Fail: return "fail";
    case AuditResult::NotApplicable: return "n/a";
    }
    return "";
}

const char* AuditCheckName(AuditCheckId id)
{
    switch (id) {
    case AuditCheckId::Answers: return "Answers";
    case AuditCheckId::LeapIndicator: return "Leap indicator";
    case AuditCheckId::Exposure: return "Exposure";
    case AuditCheckId::RateLimiting: return "Rate limiting";
    case AuditCheckId::Nts: return "NTS";
    case AuditCheckId::Families: return "Families";
    }
    return "";
}

namespace {
constexpr const char* GradeNames[] = {"A+", "A", "B", "C", "F"};
} // namespace

const char* AuditGradeName(AuditGrade grade) { return GradeNames[static_cast<int>(grade)]; }

bool ParseAuditGrade(const std::string& text, AuditGrade& grade)
{
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    for (size_t n = 0; n < std::size(GradeNames); ++n) {
        if (upper == GradeNames[n]) {
            grade = static_cast<AuditGrade>(n);
            return true;
        }
    }
    return false;
}

const AuditCheck* AuditAddress::Find(AuditCheckId id) const
{
    for (const AuditCheck& check : checks)
        if (check.id == id)
            return &check;
    return nullptr;
}

// The rubric: each check caps the grade (F for an amplifier, for time
// outside its root distance and for no usable answer; C for another
// failure; B for a warning; A without NTS), and the address gets the lowest
// cap; A+ is what is left with NTS working.
void GradeAudit(AuditReport& report)
{
    report.grade = report.addresses.empty() ? AuditGrade::F : AuditGrade::APlus;
    for (AuditAddress& a : report.addresses) {
        a.grade = AuditGrade::APlus;
        for (const AuditCheck& check : a.checks)
            a.grade = WorseGrade(a.grade, check.cap);
        report.grade = WorseGrade(report.grade, a.grade);
    }
}

#include "frontends/terminal/AuditJson.h"

namespace {
nlohmann::json CheckJson(const AuditCheck& c)
{
    return {
        {"check", AuditCheckName(c.id)},
        {"result", AuditResultName(c.result)},
        {"summary", c.summary},
        {"evidence", c.evidence},
        {"caps_grade_at", c.cap == AuditGrade::APlus ? nlohmann::json() : nlohmann::json(AuditGradeName(c.cap))},
    };
}

nlohmann::json AddressJson(const AuditAddress& a)
{
    nlohmann::json checks = nlohmann::json::array();
    for (const AuditCheck& c : a.checks)
        checks.push_back(CheckJson(c));
    return {
        {"address", a.addressText},
        {"family", a.IsIPv6() ? "IPv6" : "IPv4"},
        {"grade", AuditGradeName(a.grade)},
        {"datagrams_sent", a.traffic.datagrams},
        {"tcp_connections", a.traffic.connections},
        {"seconds", a.seconds},
        {"checks", checks},
    };
}
} // namespace

bool AuditReaches(const AuditReport& report, AuditGrade minGrade)
{
    return !report.addresses.empty() && report.grade <= minGrade;
}

nlohmann::json AuditJson(const AuditReport& report, AuditGrade minGrade)
{
    nlohmann::json addresses = nlohmann::json::array();
    for (const AuditAddress& a : report.addresses)
        addresses.push_back(AddressJson(a));
    return {
        {"server", report.serverText},
        {"host", report.host},
        {"error", report.failure.empty() ? nlohmann::json() : nlohmann::json(report.failure)},
        {"grade", report.addresses.empty() ? nlohmann::json() : nlohmann::json(AuditGradeName(report.grade))},
        {"min_grade", AuditGradeName(minGrade)},
        {"passed", AuditReaches(report, minGrade)},
        {"addresses", addresses},
        {"addresses_left_out", report.addressesLeftOut},
        {"seconds", report.seconds},
    };
}

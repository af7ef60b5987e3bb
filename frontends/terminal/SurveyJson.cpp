#include "frontends/terminal/SurveyJson.h"

#include "ntp/PrintableText.h"

namespace {
nlohmann::json Ms(double seconds) { return seconds * 1000; }

nlohmann::json AddressJson(const SurveyAddress& a)
{
    const bool answered = a.Answered();
    const bool usable = a.Usable();
    auto measured = [&](double seconds) { return usable ? Ms(seconds) : nlohmann::json(); };
    return {
        {"address", a.addressText},
        {"family", a.IsIPv6() ? "IPv6" : "IPv4"},
        {"names", a.names},
        {"state", SurveyStateName(a.state)},
        {"stratum", answered ? nlohmann::json(a.best.reply.m_stratum) : nlohmann::json()},
        {"reference_id", answered ? nlohmann::json(PrintableText(a.best.reply.GetRefIdText())) : nlohmann::json()},
        {"offset_ms", measured(a.offset)},
        {"delay_ms", measured(a.delay)},
        {"jitter_ms", usable && a.jitter ? Ms(*a.jitter) : nlohmann::json()},
        {"root_distance_ms", measured(a.rootDistance)},
        {"interval_ms", usable ? nlohmann::json{Ms(a.Low()), Ms(a.High())} : nlohmann::json()},
        {"samples_sent", a.samples.size()},
        {"samples_usable", a.usable},
        {"kiss_code", a.kissCode.empty() ? nlohmann::json() : nlohmann::json(a.kissCode)},
        {"reason", a.why.empty() ? nlohmann::json() : nlohmann::json(a.why)},
    };
}

nlohmann::json SelectionJson(const SurveyResult& survey)
{
    const SurveySelection& s = survey.selection;
    nlohmann::json disagreements = nlohmann::json::array();
    for (const FamilyDisagreement& d : s.disagreements)
        disagreements.push_back({{"ipv4", survey.addresses[d.ipv4].addressText},
                                 {"ipv6", survey.addresses[d.ipv6].addressText}});
    return {
        {"candidates", s.candidates},
        {"agreeing", s.agreeing},
        {"majority", s.majority},
        {"intersection_ms", s.majority ? nlohmann::json{Ms(s.low), Ms(s.high)} : nlohmann::json()},
        {"ipv4_ipv6_disagreements", disagreements},
    };
}
} // namespace

nlohmann::json SurveyJson(const SurveyResult& survey)
{
    nlohmann::json addresses = nlohmann::json::array();
    for (const SurveyAddress& a : survey.addresses)
        addresses.push_back(AddressJson(a));
    nlohmann::json unresolved = nlohmann::json::array();
    for (const NtpExchange& failure : survey.unresolved)
        unresolved.push_back({{"host", failure.host}, {"error", ExchangeFailureText(failure)}});
    return {
        {"addresses", addresses},
        {"selection", SelectionJson(survey)},
        {"unresolved", unresolved},
        {"samples_per_address", survey.samples},
        {"spacing_s", SurveySpacingMs / 1000.0},
        {"stopped", survey.stopped},
        {"jitter_formula", "sqrt(sum((offset_j - offset_best)^2) / (n - 1)) over the usable samples"},
        {"root_distance_formula", "delay / 2 + root_delay / 2 + root_dispersion"},
    };
}

#include "frontends/terminal/ExchangeJson.h"

#include "query/ResultSummary.h"

#include <cstdio>
#include <ctime>

namespace {
// ISO 8601 in UTC with milliseconds, as the report converts the timestamp.
std::string IsoUtc(const NtpTimestamp& t)
{
    const std::time_t seconds = static_cast<std::time_t>(NtpSecondsToTime(t.Seconds));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, MulHigh32(1000u, t.Fraction));
    return text;
}
} // namespace

nlohmann::json TimestampJson(const NtpTimestamp& t)
{
    return {{"seconds", t.Seconds},
            {"fraction", t.Fraction},
            {"iso8601_utc", t.Seconds == 0 ? nlohmann::json() : nlohmann::json(IsoUtc(t))}};
}

nlohmann::json AnswerJson(const NtpExchange& exchange)
{
    const CNtpMsg& reply = exchange.reply;
    const std::string refId = reply.GetRefIdText();
    const std::string untrusted = UntrustedReason(exchange);
    const ExchangeTimes times = MeasuredTimes(exchange);
    auto trusted = [&](double seconds) { return IsTrustedAnswer(exchange) ? nlohmann::json(seconds * 1000) : nlohmann::json(); };
    return {
        {"leap", reply.m_leap},
        {"version", reply.m_version},
        {"mode", reply.m_mode},
        {"stratum", reply.m_stratum},
        {"poll", reply.m_poll},
        {"precision", reply.m_precision},
        {"root_delay_s", reply.m_rootDelay},
        {"root_dispersion_s", reply.m_rootDispersion},
        {"reference_id", refId},
        {"reference_timestamp", TimestampJson(reply.m_reference)},
        {"originate_timestamp", TimestampJson(reply.m_originate)},
        {"receive_timestamp", TimestampJson(reply.m_receive)},
        {"transmit_timestamp", TimestampJson(reply.m_transmit)},
        {"request_transmit_timestamp_t1", TimestampJson(exchange.requestTransmit)},
        {"sent_timestamp_t1", TimestampJson(exchange.sentAt)},
        {"arrival_timestamp_t4", TimestampJson(exchange.arrivedAt)},
        {"quick_description", GetQuickDescription(refId, reply.m_stratum)},
        {"packet_size_bytes", exchange.receivedBytes},
        {"untrusted_reason", untrusted.empty() ? nlohmann::json() : nlohmann::json(untrusted)},
        {"offset_ms", trusted(ClockOffsetSeconds(exchange))},
        {"delay_ms", trusted(RoundTripSeconds(exchange))},
        {"t1_source", TimeSourceName(times.t1Source)},
        {"t4_source", TimeSourceName(times.t4Source)},
        {"exchange_mode", ExchangeModeName(exchange.mode)},
        {"offset_ms_formula", "((T2 - T1) + (T3 - T4)) / 2"},
        {"delay_ms_formula", "(T4 - T1) - (T3 - T2)"},
        {"formula_terms", "T1 sent_timestamp_t1, T2 receive_timestamp, "
                          "T3 transmit_timestamp, T4 arrival_timestamp_t4"},
    };
}

nlohmann::json ClockJson(const CTikkaraDlg::ClockSetting& clock)
{
    return {{"asked", clock.asked},
            {"set", clock.set},
            {"reason", clock.asked && !clock.set ? nlohmann::json(clock.reason) : nlohmann::json()}};
}

std::string JsonText(const nlohmann::json& value)
{
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

#pragma once
// Exchanges as JSON, for the terminal's --json. Dates come from the same
// integer conversions as the text report, NTP eras included.
#include "query/Exchange.h"
#include "ui/TikkaraDlg.h"

#include <nlohmann/json.hpp>

// {"seconds", "fraction", "iso8601_utc"}; the ISO text is null for a
// timestamp that is not set (Seconds 0), as the report shows "0".
nlohmann::json TimestampJson(const NtpTimestamp& timestamp);
// The answer's header fields, the four timestamps, T1 and T4, and the offset
// and delay from the precise send and arrival times (null when the answer
// is not one to trust, with the reason why).
nlohmann::json AnswerJson(const NtpExchange& exchange);
// Whether the clock was to be set, whether it was, and why not.
nlohmann::json ClockJson(const CTikkaraDlg::ClockSetting& clock);
// The JSON text with a final line feed. Bytes that are not UTF-8 (a host
// name typed as Latin-1, a stray identifier) come out as U+FFFD.
std::string JsonText(const nlohmann::json& value);

#include "frontends/terminal/DialogSetUp.h"
#include "frontends/terminal/RecordingSockets.h"
#include "frontends/terminal/TerminalModes.h"
#include "frontends/terminal/TerminalWindow.h"
#include "frontends/terminal/TerminalText.h"
#include "ntp/NtpMsg.h"
#include "query/ResultSummary.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>

namespace {

constexpr double FractionUnit = 4294967296.0; // 2^32
constexpr int64_t UnixToNtpSeconds = 2208988800;

double ToSeconds(const NtpTimestamp& t) { return t.Seconds + t.Fraction / FractionUnit; }

// ISO 8601 in UTC with milliseconds; NTP era 0 (1900-2036).
std::string IsoUtc(const NtpTimestamp& t)
{
    const int64_t ms = static_cast<int64_t>(ToSeconds(t) * 1000.0) - UnixToNtpSeconds * 1000;
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms - static_cast<int64_t>(seconds) * 1000));
    return text;
}

nlohmann::json TimestampJson(const NtpTimestamp& t)
{
    return {{"seconds", t.Seconds}, {"fraction", t.Fraction}, {"iso8601_utc", IsoUtc(t)}};
}

nlohmann::json AnswerJson(const CRecordingSockets& sockets)
{
    const CNtpMsg request(sockets.m_sent.data());
    const CNtpMsg reply(sockets.m_received.data());
    const double t1 = ToSeconds(request.m_transmit), t2 = ToSeconds(reply.m_receive);
    const double t3 = ToSeconds(reply.m_transmit), t4 = ToSeconds(sockets.m_arrival);
    const std::string refId = reply.GetRefIdText();
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
        {"request_transmit_timestamp_t1", TimestampJson(request.m_transmit)},
        {"arrival_timestamp_t4", TimestampJson(sockets.m_arrival)},
        {"quick_description", GetQuickDescription(refId, reply.m_stratum)},
        {"packet_size_bytes", sockets.m_received.size()},
        {"offset_ms", ((t2 - t1) + (t3 - t4)) / 2.0 * 1000.0},
        {"delay_ms", ((t4 - t1) - (t3 - t2)) * 1000.0},
        {"offset_ms_formula", "((T2 - T1) + (T3 - T4)) / 2"},
        {"delay_ms_formula", "(T4 - T1) - (T3 - T2)"},
        {"formula_terms", "T1 request_transmit_timestamp_t1, T2 receive_timestamp, "
                          "T3 transmit_timestamp, T4 arrival_timestamp_t4"},
    };
}

// The log's last line: the reason a failed query gave.
std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r'))
        trimmed.pop_back();
    const size_t at = trimmed.find_last_of('\n');
    return at == std::string::npos ? trimmed : trimmed.substr(at + 1);
}

} // namespace

int RunTerminalQuery(const CommandLine& line)
{
    CTerminalWindow window;
    CRecordingSockets sockets(PosixSockets());
    CTikkaraDlg dialog(window, sockets);
    SetUpDialog(window, dialog, line);
    dialog.OnOK();
    if (line.port123 && window.IsChecked(IDC_PORT123))
        dialog.CloseSocket();

    const std::string log = ToLfLines(window.GetText(IDC_LOG));
    // The report's last part appears only when an answer arrived.
    const bool answered = log.find("Timestamps shown in local time zone:") != std::string::npos &&
                          sockets.m_received.size() >= NtpHeaderSize;
    if (line.json) {
        const nlohmann::json out = answered ? AnswerJson(sockets)
                                            : nlohmann::json{{"error", LastLine(log)}};
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        std::fputs(log.c_str(), stdout);
        if (!log.empty() && log.back() != '\n')
            std::fputc('\n', stdout);
    }
    return answered ? 0 : 1;
}

#include "query/ClockSetting.h"

#include "ntp/Format.h"
#include "ui/TikkaraDlg.h"

#include <algorithm>
#include <ctime>

namespace {
constexpr uint32_t FractionPerMillisecond = 4294967u;
} // namespace

SystemTime TransmitTimeToSystemTime(const NtpTimestamp& transmit)
{
    const time_t unixSeconds = static_cast<uint32_t>(transmit.Seconds + NtpToUnixEraShift);
    tm fields{};
    ::gmtime_r(&unixSeconds, &fields);
    SystemTime utc;
    utc.wYear = static_cast<uint16_t>(fields.tm_year + 1900);
    utc.wMonth = static_cast<uint16_t>(fields.tm_mon + 1);
    utc.wDayOfWeek = static_cast<uint16_t>(fields.tm_wday);
    utc.wDay = static_cast<uint16_t>(fields.tm_mday);
    utc.wHour = static_cast<uint16_t>(fields.tm_hour);
    utc.wMinute = static_cast<uint16_t>(fields.tm_min);
    utc.wSecond = static_cast<uint16_t>(fields.tm_sec);
    // Dividing by 4294967 rather than 4294967.296 reaches 1000 in the last
    // 0.07 ms of a second, a value no clock accepts.
    utc.wMilliseconds = static_cast<uint16_t>(std::min<uint32_t>(transmit.Fraction / FractionPerMillisecond, 999u));
    return utc;
}

std::string UnsoundAnswerReason(const CNtpMsg& reply, const NtpTimestamp& requestTransmit)
{
    if (reply.m_originate != requestTransmit)
        return "Originate Timestamp is not this request's Transmit Timestamp";
    if (reply.m_leap == NtpLeapNotSynchronised)
        return "server not synchronised (leap indicator 3)";
    if (reply.m_stratum == NtpStratumKiss || reply.m_stratum >= NtpStratumUnsynchronised)
        return Format("unusable stratum %i", reply.m_stratum);
    if (reply.m_transmit.Seconds == 0)
        return "no Transmit Timestamp in the answer";
    return "";
}

// Sets the clock to the server's transmit time as it stands, without any
// correction for the path, when the answer can be trusted. When the clock is
// not set the operator is told why, in the log where the transport's lines go.
void CTikkaraDlg::SetClockFromReply(const NtpExchange& answer, bool logErrors)
{
    m_clockSetting.asked = true;
    std::string reason = UntrustedReason(answer);
    m_clockSetting.set =
        reason.empty() && m_clock.SetSystemTime(TransmitTimeToSystemTime(answer.reply.m_transmit), reason);
    m_clockSetting.reason = reason;
    if (m_clockSetting.set)
        return;
    // A block of its own, like the report's blocks that follow it.
    if (logErrors)
        AppendLog(Format("--System time not set: %s\r\n", reason.c_str()));
}

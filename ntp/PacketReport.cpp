#include "ntp/Format.h"
#include "ntp/NtpMsg.h"

#include <cstdlib>
#include <ctime>

namespace {

constexpr size_t FieldWidth = 25;
constexpr size_t DateBufferSize = 128;

// strftime into the fixed buffer; a failure leaves the empty text.
std::string FormatBrokenDown(const char* format, const tm& broken)
{
    char buffer[DateBufferSize];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &broken);
    return std::string(buffer, length);
}

// Exact in double precision: repeated squaring over the exponent's bits.
double PowerOfTwo(int exponent)
{
    unsigned magnitude = static_cast<unsigned>(std::abs(exponent));
    double result = 1.0;
    double square = 2.0;
    while (magnitude != 0) {
        if (magnitude & 1u)
            result *= square;
        square *= square;
        magnitude >>= 1;
    }
    return exponent < 0 ? 1.0 / result : result;
}

const char* LeapName(uint8_t leap)
{
    static const char* const names[] = {"no warning", "add 1 second", "remove 1 second",
                                        "alarm condition"};
    return leap < 4 ? names[leap] : "unknown";
}

const char* ModeName(uint8_t mode)
{
    static const char* const names[] = {"reserved",  "symmetric active", "symmetric passive",
                                        "client",    "server",           "broadcast",
                                        "NTP control message", "private use"};
    return mode < 8 ? names[mode] : "unknown";
}

bool IsPrintableOrZero(uint8_t byte)
{
    return byte == 0 || (byte >= 0x20 && byte <= 0x7E);
}

// Whole days from the calendar date of `b` to that of `a`.
int DaysBetween(const tm& a, const tm& b)
{
    return JulianDayNumber(a.tm_year + 1900, a.tm_mon + 1, a.tm_mday) -
           JulianDayNumber(b.tm_year + 1900, b.tm_mon + 1, b.tm_mday);
}

} // namespace

std::string PadRight(const std::string& text, size_t width)
{
    if (text.size() >= width)
        return text;
    return text + std::string(width - text.size(), ' ');
}

std::string FormatLocalDate(int64_t calendarSeconds)
{
    const time_t t = static_cast<time_t>(calendarSeconds);
    tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return "";
    return FormatBrokenDown("%d.%m.%Y %H:%M:%S", local);
}

std::string FormatNtpTimestamp(const NtpTimestamp& timestamp)
{
    if (timestamp.Seconds == 0)
        return "0";
    const std::string date = FormatLocalDate(NtpSecondsToTime(timestamp.Seconds));
    return Format("%s.%03i", date.c_str(), static_cast<int>(MulHigh32(1000, timestamp.Fraction)));
}

std::string CNtpMsg::GetRefIdText() const
{
    const uint8_t* id = m_refId;
    if (m_stratum >= 2 && m_stratum <= 15)
        return Format("%i.%i.%i.%i", id[0], id[1], id[2], id[3]);
    if (IsPrintableOrZero(id[0]) && IsPrintableOrZero(id[1]) && IsPrintableOrZero(id[2]) &&
        IsPrintableOrZero(id[3])) {
        // Up to four characters, ending early at a zero byte.
        size_t length = 0;
        while (length < 4 && id[length] != 0)
            ++length;
        return PadRight(std::string(reinterpret_cast<const char*>(id), length), 4);
    }
    return Format("%i %i %i %i", id[0], id[1], id[2], id[3]);
}

std::string CNtpMsg::GetPacketContent() const
{
    auto field = [](const std::string& text) { return PadRight(text, FieldWidth); };
    const std::string leap = field(Format("%i (%s)", m_leap, LeapName(m_leap)));
    const std::string mode = field(Format("%i (%s)", m_mode, ModeName(m_mode)));
    const std::string stratum = field(Format("%i", m_stratum));
    const std::string poll = field(Format("%i (%.2f s)", m_poll, PowerOfTwo(m_poll)));
    const std::string precision =
        field(Format("%i (%.3f ms)", m_precision, PowerOfTwo(m_precision) * 1000.0));
    const std::string delay = field(Format("%.2f", m_rootDelay));
    const std::string dispersion = field(Format("%.2f", m_rootDispersion));
    const std::string refId = field(GetRefIdText());
    const std::string reference = field(FormatNtpTimestamp(m_reference));
    const std::string originate = field(FormatNtpTimestamp(m_originate));
    const std::string receive = field(FormatNtpTimestamp(m_receive));
    const std::string transmit = field(FormatNtpTimestamp(m_transmit));

    return Format("+--Packet Content--------------------------------+\r\n"
                  "|                                                |\r\n"
                  "| Leap Indicator:       %s|\r\n"
                  "| Version:              %-2i                       |\r\n"
                  "| Mode:                 %s|\r\n"
                  "| Stratum:              %s|\r\n"
                  "| Poll Interval:        %s|\r\n"
                  "| Precision:            %s|\r\n"
                  "| Root Delay:           %s|\r\n"
                  "| Root Dispersion:      %s|\r\n"
                  "| Reference Identifier: %s|\r\n"
                  "| Reference Timestamp:  %s|\r\n"
                  "| Originate Timestamp:  %s|\r\n"
                  "| Receive Timestamp:    %s|\r\n"
                  "| Transmit Timestamp:   %s|\r\n"
                  "|                                                |\r\n"
                  "+------------------------------------------------+",
                  leap.c_str(), m_version, mode.c_str(), stratum.c_str(), poll.c_str(),
                  precision.c_str(), delay.c_str(), dispersion.c_str(), refId.c_str(),
                  reference.c_str(), originate.c_str(), receive.c_str(), transmit.c_str());
}

std::string CNtpMsg::GetTimeZoneText() const
{
    return GetTimeZoneText(static_cast<int64_t>(std::time(nullptr)));
}

std::string CNtpMsg::GetTimeZoneText(int64_t calendarTime) const
{
    const time_t now = static_cast<time_t>(calendarTime);
    tm local{};
    tm utc{};
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);

    const int offset = DaysBetween(local, utc) * 1440 + (local.tm_hour * 60 + local.tm_min) -
                       (utc.tm_hour * 60 + utc.tm_min);
    const char sign = offset >= 0 ? '+' : '-';
    const int magnitude = std::abs(offset);
    const std::string name = FormatBrokenDown("%Z", local);
    return Format("%s (UTC %c%d:%02d)", name.c_str(), sign, magnitude / 60, magnitude % 60);
}

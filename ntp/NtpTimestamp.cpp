#include "ntp/NtpTimestamp.h"

#include "ntp/NtpConstants.h"

#include <ctime>

int32_t JulianDayNumber(int32_t year, int32_t month, int32_t day)
{
    // Count from March so that the leap day falls at the end of the year.
    const int32_t m = month > 2 ? month - 3 : month + 9;
    const int32_t y = month > 2 ? year : year - 1;
    const int32_t c = y / 100;
    const int32_t ya = y - 100 * c;
    return (146097 * c) / 4 + (1461 * ya) / 4 + (153 * m + 2) / 5 + day + 1721119;
}

UtcTime UtcTimeFromUnix(int64_t unixSeconds, int milliseconds)
{
    const time_t seconds = static_cast<time_t>(unixSeconds);
    tm broken{};
    gmtime_r(&seconds, &broken);

    UtcTime utc;
    utc.year = broken.tm_year + 1900;
    utc.month = broken.tm_mon + 1;
    utc.day = broken.tm_mday;
    utc.hour = broken.tm_hour;
    utc.minute = broken.tm_min;
    utc.second = broken.tm_sec;
    utc.milliseconds = milliseconds;
    return utc;
}

UtcTime CurrentUtcTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return UtcTimeFromUnix(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000));
}

NtpTimestamp UtcToNtpTimestamp(const UtcTime& utc)
{
    const int32_t days = JulianDayNumber(utc.year, utc.month, utc.day) - JulianDayNumber(1900, 1, 1);
    // Unsigned on purpose: the count wraps into the next NTP era.
    uint32_t seconds = static_cast<uint32_t>(days);
    seconds = seconds * 24u + static_cast<uint32_t>(utc.hour);
    seconds = seconds * 60u + static_cast<uint32_t>(utc.minute);
    seconds = seconds * 60u + static_cast<uint32_t>(utc.second);

    NtpTimestamp timestamp;
    timestamp.Seconds = seconds;
    timestamp.Fraction = MsToNtpFraction(static_cast<uint32_t>(utc.milliseconds));
    return timestamp;
}

NtpTimestamp CurrentNtpTime()
{
    return UtcToNtpTimestamp(CurrentUtcTime());
}

NtpTimestamp NtpMillisecondTime(int64_t unixSeconds, uint32_t nanoseconds)
{
    return UtcToNtpTimestamp(UtcTimeFromUnix(unixSeconds, static_cast<int>(nanoseconds / 1000000)));
}

NtpTimestamp NtpPreciseTime(int64_t unixSeconds, uint32_t nanoseconds)
{
    NtpTimestamp timestamp;
    timestamp.Seconds = static_cast<uint32_t>(unixSeconds + NtpToUnixSeconds); // modulo 2^32: eras wrap
    timestamp.Fraction = static_cast<uint32_t>((static_cast<uint64_t>(nanoseconds) << 32) / 1000000000u);
    return timestamp;
}

NtpTimestamp WithRandomSubMillisecond(const NtpTimestamp& timestamp, uint32_t random)
{
    // The fractions that show millisecond m are [ceil(m * 2^32 / 1000), ceil((m + 1) * 2^32 / 1000)).
    auto firstOf = [](uint64_t m) { return (m * 4294967296u + 999u) / 1000u; };
    const uint64_t shown = MulHigh32(1000u, timestamp.Fraction);
    const uint64_t first = firstOf(shown);
    const uint64_t width = firstOf(shown + 1) - first;
    NtpTimestamp result = timestamp;
    result.Fraction = static_cast<uint32_t>(first + random % width);
    return result;
}

uint32_t MsToNtpFraction(uint32_t milliseconds)
{
    // Long division by 1000, one fraction bit per step, most significant first.
    uint64_t remainder = milliseconds;
    uint32_t fraction = 0;
    for (int bit = 31; bit >= 0; --bit) {
        remainder *= 2;
        if (remainder >= 1000) {
            remainder -= 1000;
            fraction |= 1u << bit;
        }
    }
    return fraction;
}

uint32_t MulHigh32(uint32_t a, uint32_t b)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(a) * b) >> 32);
}

NtpTimestamp NtpTimestampDiff(const NtpTimestamp& a, const NtpTimestamp& b)
{
    const uint32_t borrow = a.Fraction < b.Fraction ? 1u : 0u;
    NtpTimestamp result;
    result.Fraction = a.Fraction - b.Fraction;
    result.Seconds = a.Seconds - b.Seconds - borrow;
    return result;
}

NtpTimestamp NtpTimestampSum(const NtpTimestamp& a, const NtpTimestamp& b)
{
    NtpTimestamp result;
    result.Fraction = a.Fraction + b.Fraction;
    const uint32_t carry = result.Fraction < a.Fraction ? 1u : 0u;
    result.Seconds = a.Seconds + b.Seconds + carry;
    return result;
}

int32_t NtpTimestampToMs(const NtpTimestamp& value)
{
    // Unsigned arithmetic wraps where a signed product would overflow; the
    // conversion back to signed is modular.
    const uint32_t ms = value.Seconds * 1000u + MulHigh32(1000u, value.Fraction);
    return static_cast<int32_t>(ms);
}

double NtpSecondsBetween(const NtpTimestamp& a, const NtpTimestamp& b)
{
    const NtpTimestamp difference = NtpTimestampDiff(a, b);
    return static_cast<int32_t>(difference.Seconds) + difference.Fraction / NtpFractionUnit;
}

int64_t NtpSecondsToTime(uint32_t seconds)
{
    return static_cast<int64_t>(static_cast<uint32_t>(seconds + NtpToUnixEraShift));
}

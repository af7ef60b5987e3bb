#pragma once
#include <cstdint>

// Seconds since 1900-01-01 00:00:00 UTC (modulo 2^32) and a fraction in units
// of 2^-32 s, in host order. The same pair carries signed differences: then
// Seconds is two's complement and Fraction the non-negative part.
struct NtpTimestamp {
    uint32_t Seconds = 0;
    uint32_t Fraction = 0;
    bool operator==(const NtpTimestamp&) const = default;
};

// Julian Day Number of a Gregorian date (month 1..12, day 1..31).
int32_t JulianDayNumber(int32_t year, int32_t month, int32_t day);

// A UTC calendar time broken down to milliseconds.
struct UtcTime {
    int year = 1900;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// Seconds since 1970-01-01 UTC broken down to a UTC calendar time.
UtcTime UtcTimeFromUnix(int64_t unixSeconds, int milliseconds);
// The platform's current UTC time (the C library's realtime clock).
UtcTime CurrentUtcTime();
// A UTC calendar time as an NTP timestamp with millisecond resolution; the
// seconds wrap modulo 2^32 (NTP era 1 begins 2036-02-07 06:28:16 UTC).
NtpTimestamp UtcToNtpTimestamp(const UtcTime& utc);
// The current UTC time as an NTP timestamp.
NtpTimestamp CurrentNtpTime();

// A moment of the wall clock (seconds since 1970, nanoseconds) as the
// millisecond timestamp a request is stamped with, and as a precise one.
NtpTimestamp NtpMillisecondTime(int64_t unixSeconds, uint32_t nanoseconds);
NtpTimestamp NtpPreciseTime(int64_t unixSeconds, uint32_t nanoseconds);

// `timestamp` with every fraction bit below its millisecond replaced from
// `random`: the millisecond it shows (MulHigh32(1000, Fraction)) stays, the
// rest cannot be guessed from the time of day.
NtpTimestamp WithRandomSubMillisecond(const NtpTimestamp& timestamp, uint32_t random);

// Milliseconds 0..999 to a fraction: floor(ms * 2^32 / 1000).
uint32_t MsToNtpFraction(uint32_t milliseconds);
// The upper 32 bits of the 64-bit product a * b.
uint32_t MulHigh32(uint32_t a, uint32_t b);

NtpTimestamp NtpTimestampDiff(const NtpTimestamp& a, const NtpTimestamp& b);
NtpTimestamp NtpTimestampSum(const NtpTimestamp& a, const NtpTimestamp& b);

// A signed timestamp value floored to whole milliseconds, wrapping in 32 bits.
int32_t NtpTimestampToMs(const NtpTimestamp& value);
// a - b in seconds, for timestamps less than 68 years apart (eras included).
double NtpSecondsBetween(const NtpTimestamp& a, const NtpTimestamp& b);

// NTP seconds to seconds since 1970-01-01 UTC: era 0 from 1970 on, and
// seconds below 2208988800 as era 1; never before 1970.
int64_t NtpSecondsToTime(uint32_t seconds);

// Event times and day-file names from wall-clock seconds.
//
// Event lines use the date-time format "c": the locale's short date, a blank, the long
// time. That is what the C library gives for "%x %X" in the process's LC_TIME locale;
// headless tools stay in the C locale and read "12/07/26 14:03:05".
#pragma once

#include <optional>
#include <string>

namespace raid {

// `wallSeconds`: seconds since the Unix epoch (fractions are dropped), shown as local time.
std::string formatDateTimeC(double wallSeconds);
// Two-digit year, month, day of the local date: "261207".
std::string formatYymmdd(double wallSeconds);
// The wall seconds of a local date and time (month and day from 1); nothing for a
// date that does not exist (31 February, hour 24, a year before 1970).
std::optional<double> localWallSeconds(int year, int month, int day, int hour, int minute, int second);

// The local date and time of `wallSeconds` in parts, with the local offset from UTC
// (east positive) in effect at that moment; what a mail's "Date" header is made of.
struct LocalTimeParts {
    int year = 1970;
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int weekday = 4;  // 0 = Sunday
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffsetMinutes = 0;
};
std::optional<LocalTimeParts> localTimeParts(double wallSeconds);

// A moment (seconds since the Unix epoch) as a UTC date and time, for every year the
// program meets (the C library of Windows stops at the year 3000).
struct UtcParts {
    int year = 1970, month = 1, day = 1, weekday = 4, hour = 0, minute = 0, second = 0;
};
UtcParts utcParts(long long seconds);

}  // namespace raid

#include "monitor/TimeFormat.h"

#include <cmath>
#include <ctime>

namespace raid {
namespace {

std::time_t clampedTime(double wallSeconds) {
    // A clock that reports garbage must not turn into undefined behaviour here.
    if (!std::isfinite(wallSeconds)) wallSeconds = 0;
    constexpr double kLimit = 253402300799.0;  // 9999-12-31 23:59:59
    if (wallSeconds < 0) wallSeconds = 0;
    if (wallSeconds > kLimit) wallSeconds = kLimit;
    return static_cast<std::time_t>(std::floor(wallSeconds));
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
long long daysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

long long secondsOf(const std::tm& tm) {
    return daysFromCivil(tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday) * 86400 + tm.tm_hour * 3600LL +
           tm.tm_min * 60LL + tm.tm_sec;
}

// The Gregorian calendar repeats every 400 years, weekdays included, and so do the
// summer-time rules a time zone states by weekday: a moment past what the C library
// converts has the offset of the same moment whole cycles earlier. Windows' runtime
// stops at the year 3000; glibc needs no folding.
constexpr long long k400Years = 146097LL * 86400;
constexpr long long kFoldFrom = 32503680000LL - 2 * 86400;  // two days before 3000-01-01 UTC

// The local offset from UTC (east positive, seconds) in effect at `t`.
long long localOffset(long long t) {
    while (t >= kFoldFrom) t -= k400Years;
    const auto folded = static_cast<std::time_t>(t);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &folded) != 0) return 0;
#else
    if (localtime_r(&folded, &local) == nullptr) return 0;
#endif
    return secondsOf(local) - t;
}

}  // namespace

UtcParts utcParts(long long t) {
    const long long days = (t >= 0 ? t : t - 86399) / 86400;
    const long long rest = t - days * 86400;
    // Civil date from days since the epoch (the inverse of daysFromCivil).
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    UtcParts p;
    p.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    p.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    p.year = static_cast<int>(yoe + era * 400 + (p.month <= 2 ? 1 : 0));
    p.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    p.hour = static_cast<int>(rest / 3600);
    p.minute = static_cast<int>(rest / 60 % 60);
    p.second = static_cast<int>(rest % 60);
    return p;
}

namespace {

std::tm localTm(std::time_t t) {
    const UtcParts p = utcParts(static_cast<long long>(t) + localOffset(t));
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_wday = p.weekday;
    tm.tm_yday = static_cast<int>(daysFromCivil(p.year, p.month, p.day) - daysFromCivil(p.year, 1, 1));
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_isdst = -1;
    return tm;
}

std::string format(double wallSeconds, const char* pattern) {
    const std::tm tm = localTm(clampedTime(wallSeconds));
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, pattern, &tm);
    return std::string(buffer, n);
}

}  // namespace

std::string formatDateTimeC(double wallSeconds) { return format(wallSeconds, "%x %X"); }

std::string formatYymmdd(double wallSeconds) { return format(wallSeconds, "%y%m%d"); }

std::optional<LocalTimeParts> localTimeParts(double wallSeconds) {
    const std::time_t t = clampedTime(wallSeconds);
    const long long offset = localOffset(t);
    const UtcParts local = utcParts(static_cast<long long>(t) + offset);
    LocalTimeParts parts;
    parts.year = local.year;
    parts.month = local.month;
    parts.day = local.day;
    parts.weekday = local.weekday;
    parts.hour = local.hour;
    parts.minute = local.minute;
    parts.second = local.second;
    parts.utcOffsetMinutes = static_cast<int>(offset / 60);
    return parts;
}

std::optional<double> localWallSeconds(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    const long long asUtc = daysFromCivil(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + second;
    // A day past the month's end would roll into the next month: such a date does not exist.
    const UtcParts check = utcParts(asUtc);
    if (check.day != day || check.month != month) return std::nullopt;
    // The offset at the moment itself, found in two steps: a time near a change of
    // summer time takes the offset in effect on its own side of the change.
    const long long first = asUtc - localOffset(asUtc);
    const long long t = asUtc - localOffset(first);
    if (t < 0) return std::nullopt;
    return static_cast<double>(t);
}

}  // namespace raid

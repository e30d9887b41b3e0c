#include "monitor/TimeFormat.h"

#include <cmath>
#include <ctime>
#include <mutex>

namespace raid {
namespace {

// std::localtime hands out one shared buffer; the engine thread is the main user, but
// nothing stops a tool from formatting on another thread.
std::mutex localTimeMutex;

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

std::string format(double wallSeconds, const char* pattern) {
    const std::time_t t = clampedTime(wallSeconds);
    char buffer[128];
    std::size_t n = 0;
    {
        std::lock_guard<std::mutex> lock(localTimeMutex);
        const std::tm* tm = std::localtime(&t);
        if (tm == nullptr) return {};
        n = std::strftime(buffer, sizeof buffer, pattern, tm);
    }
    return std::string(buffer, n);
}

}  // namespace

std::string formatDateTimeC(double wallSeconds) { return format(wallSeconds, "%x %X"); }

std::string formatYymmdd(double wallSeconds) { return format(wallSeconds, "%y%m%d"); }

std::optional<LocalTimeParts> localTimeParts(double wallSeconds) {
    const std::time_t t = clampedTime(wallSeconds);
    std::tm local{}, utc{};
    {
        std::lock_guard<std::mutex> lock(localTimeMutex);
        const std::tm* l = std::localtime(&t);
        if (l == nullptr) return std::nullopt;
        local = *l;
        const std::tm* u = std::gmtime(&t);
        if (u == nullptr) return std::nullopt;
        utc = *u;
    }
    LocalTimeParts parts;
    parts.year = local.tm_year + 1900;
    parts.month = local.tm_mon + 1;
    parts.day = local.tm_mday;
    parts.weekday = local.tm_wday;
    parts.hour = local.tm_hour;
    parts.minute = local.tm_min;
    parts.second = local.tm_sec;
    // Both views of the same instant: their difference is the offset, summer time included.
    parts.utcOffsetMinutes = static_cast<int>((secondsOf(local) - secondsOf(utc)) / 60);
    return parts;
}

std::optional<double> localWallSeconds(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;  // the local rules decide whether summer time applies
    const std::time_t t = std::mktime(&tm);
    // mktime rolls a day past the month's end into the next month: such a date does not exist.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) return std::nullopt;
    return static_cast<double>(t);
}

}  // namespace raid

#include "monitor/TimeFormat.h"

#include <cmath>
#include <ctime>
#include <mutex>

namespace raid {
namespace {

// std::localtime hands out one shared buffer; the engine thread is the main user, but
// nothing stops a tool from formatting on another thread.
std::mutex localTimeMutex;

std::string format(double wallSeconds, const char* pattern) {
    // A clock that reports garbage must not turn into undefined behaviour here.
    if (!std::isfinite(wallSeconds)) wallSeconds = 0;
    constexpr double kLimit = 253402300799.0;  // 9999-12-31 23:59:59
    if (wallSeconds < 0) wallSeconds = 0;
    if (wallSeconds > kLimit) wallSeconds = kLimit;
    const std::time_t t = static_cast<std::time_t>(std::floor(wallSeconds));
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

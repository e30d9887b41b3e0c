#include "service/bus/BusArgs.h"

namespace raid::bus {

namespace {

struct Method {
    const char* member;
    const char* signature;
    BusMethod method;
};

constexpr Method kMethods[] = {
    {"GetDayLog", "", BusMethod::getDayLog},
    {"GetOlderDayLog", "s", BusMethod::getOlderDayLog},
    {"ListDayLogs", "", BusMethod::listDayLogs},
};

const Method* find(std::string_view member) {
    for (const Method& m : kMethods)
        if (member == m.member) return &m;
    return nullptr;
}

}  // namespace

const char* methodSignature(std::string_view member) {
    const Method* m = find(member);
    return m ? m->signature : nullptr;
}

bool validDayName(std::string_view day) {
    if (day.size() != 6) return false;
    for (char c : day)
        if (c < '0' || c > '9') return false;
    const int year = 2000 + (day[0] - '0') * 10 + (day[1] - '0');
    const int month = (day[2] - '0') * 10 + (day[3] - '0');
    const int mday = (day[4] - '0') * 10 + (day[5] - '0');
    if (month < 1 || month > 12 || mday < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return mday <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::optional<BusCall> decodeCall(std::string_view member, std::string_view signature,
                                  const std::vector<std::string_view>& strings, std::string& error) {
    const Method* m = find(member);
    if (!m) {
        error = "no such method";
        return std::nullopt;
    }
    if (signature != m->signature) {
        error = std::string(m->member) + " takes " + (*m->signature ? "one string" : "no arguments");
        return std::nullopt;
    }
    std::size_t wanted = 0;
    for (const char* s = m->signature; *s; ++s) wanted += *s == 's';
    if (strings.size() != wanted) {
        error = "the arguments do not match the signature";
        return std::nullopt;
    }
    for (std::string_view s : strings) {
        if (s.size() > kMaxArgBytes) {
            error = "an argument is too long";
            return std::nullopt;
        }
    }
    BusCall call;
    call.method = m->method;
    if (call.method == BusMethod::getOlderDayLog) {
        if (!validDayName(strings[0])) {
            error = "a day is six digits, yymmdd, of a calendar date";
            return std::nullopt;
        }
        call.day = std::string(strings[0]);
    }
    return call;
}

}  // namespace raid::bus

// The arguments of every method the service offers, checked before anything else.
//
// A caller is anybody on the system bus. Its message is read only after its signature
// is the method's own, and every string is measured before it is copied; a date must be
// a day file's name, never a path. What this unit lets through is all the rest of the
// service ever sees of a call.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::bus {

enum class BusMethod { getDayLog, getOlderDayLog, listDayLogs };

struct BusCall {
    BusMethod method = BusMethod::getDayLog;
    std::string day;  // getOlderDayLog: "yymmdd", six digits of a real calendar date
};

// The longest string argument read at all.
inline constexpr std::size_t kMaxArgBytes = 64;

// The signature a method takes ("" or "s"); null for a method the manager has not.
const char* methodSignature(std::string_view member);

// Checks a call: `member` and `signature` as the message has them, `strings` its string
// arguments in order (read only when the signature matched). Null with `error` (words
// for the caller) when anything is off.
std::optional<BusCall> decodeCall(std::string_view member, std::string_view signature,
                                  const std::vector<std::string_view>& strings, std::string& error);

// A day file's name ("yymmdd") with a month 01..12 and a day that month has.
bool validDayName(std::string_view day);

}  // namespace raid::bus

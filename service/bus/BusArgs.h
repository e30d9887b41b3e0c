// The arguments of every method the service offers, checked before anything else.
//
// A caller is anybody on the system bus. Its message is read only after its signature
// is the method's own, every string is measured before it is copied and every list
// counted before it is kept; a date must be a day file's name, never a path. What this
// unit lets through is all the rest of the service ever sees of a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "notify/NotificationSettings.h"
#include "service/bus/BusText.h"

namespace raid::bus {

enum class BusMethod {
    getDayLog,
    getOlderDayLog,
    listDayLogs,
    getMailSettings,
    saveMailSettings,
    sendTestMail,
    startUpgrade,
    watchDayLog,
    unwatchDayLog,
    setAlertCommand,
    getHistory,
};

struct BusCall {
    BusMethod method = BusMethod::getDayLog;
    std::string day;  // getOlderDayLog: "yymmdd", six digits of a real calendar date
    // saveMailSettings: the E-mail page's values. The password field holds a new
    // password only when `newPassword` is set (the user typed one); else it is empty and
    // the stored one stays.
    SettingsEdits mail;
    bool newPassword = false;
    // startUpgrade: the enclosure object's slot (its name's N) and the image's
    // descriptor as the message holds it (read by the bus side, never by path).
    int slot = -1;
    int imageFd = -1;
    // setAlertCommand: the program's absolute path, "" for none (checked as --set checks it).
    std::string alertCommand;
    // getHistory: the enclosure object's slot (above) and the first minute wanted
    // (Unix time; 0: all there is).
    std::int64_t fromMinute = 0;
};

// The latest first minute GetHistory takes (2100-01-01): anything later is a caller's
// mistake, not a question.
inline constexpr std::uint32_t kMaxHistoryFrom = 4102444800u;

// One argument as read from a message: a string ('s'), an object path ('o'), a
// boolean ('b'), an unsigned number ('u'), a file descriptor ('h', in `number`) or a
// list of strings ('a'). A string is cut at its bound plus one byte,
// so that "too long" is still seen; a list keeps at most its bound plus one item.
struct BusArg {
    char type = 's';
    std::string_view text;
    std::uint32_t number = 0;  // 'b': 0 or 1
    std::vector<std::string_view> list;

    BusArg() = default;
    BusArg(std::string_view s) : text(s) {}
    BusArg(const char* s) : text(s) {}
    BusArg(const std::string& s) : text(s) {}
    static BusArg flag(bool b) { BusArg a; a.type = 'b'; a.number = b; return a; }
    static BusArg unsignedNumber(std::uint32_t n) { BusArg a; a.type = 'u'; a.number = n; return a; }
    static BusArg path(std::string_view p) { BusArg a(p); a.type = 'o'; return a; }
    static BusArg descriptor(int fd) { BusArg a; a.type = 'h'; a.number = static_cast<std::uint32_t>(fd); return a; }
    static BusArg strings(std::vector<std::string_view> l) { BusArg a; a.type = 'a'; a.list = std::move(l); return a; }
};

// The longest string argument read at all (the contents of an alert mail), and the
// most items of a list read at all.
inline constexpr std::size_t kMaxArgBytes = kContentsLimit;
inline constexpr std::size_t kMaxListItems = 16;

// The signature a method takes; null for a method the manager has not.
const char* methodSignature(std::string_view member);

// Checks a call: `member` and `signature` as the message has them, `args` its arguments
// in order (read only when the signature matched). Null with `error` (words for the
// caller) when anything is off.
std::optional<BusCall> decodeCall(std::string_view member, std::string_view signature, const std::vector<BusArg>& args,
                                  std::string& error);

// The slot N of an enclosure object's path (".../enclosure/driveN", N without leading
// zeros, 0..99); -1 for any other text.
int enclosureSlot(std::string_view path);

// A day file's name ("yymmdd") with a month 01..12 and a day that month has.
bool validDayName(std::string_view day);

}  // namespace raid::bus

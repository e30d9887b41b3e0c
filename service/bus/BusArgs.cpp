#include "service/bus/BusArgs.h"

#include "notify/AlertProgram.h"
#include "service/bus/BusState.h"

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
    {"GetMailSettings", "", BusMethod::getMailSettings},
    {"SaveMailSettings", "ssssssbsbbbuasasas", BusMethod::saveMailSettings},
    {"SendTestMail", "", BusMethod::sendTestMail},
    {"StartUpgrade", "oh", BusMethod::startUpgrade},
    {"WatchDayLog", "", BusMethod::watchDayLog},
    {"UnwatchDayLog", "", BusMethod::unwatchDayLog},
    {"SetAlertCommand", "s", BusMethod::setAlertCommand},
    {"GetHistory", "ou", BusMethod::getHistory},
};

// A short text of the page (port, host, names, address, time-out): far above what the
// page takes, so that a value just too long gets the page's own words, never more.
constexpr std::size_t kMaxShortText = 1024;
constexpr std::size_t kMaxPassword = 256;
constexpr std::size_t kMaxSubject = 4 * kSubjectLimit;

// The types of a signature, one character per argument ('a' for "as").
std::string argumentTypes(std::string_view signature) {
    std::string types;
    for (std::size_t i = 0; i < signature.size(); ++i) {
        types += signature[i];
        if (signature[i] == 'a') ++i;
    }
    return types;
}

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

int enclosureSlot(std::string_view p) {
    const std::string prefix = std::string(kEnclosurePrefix) + "/drive";
    if (p.size() <= prefix.size() || p.size() > prefix.size() + 2 || p.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int slot = 0;
    for (std::size_t i = prefix.size(); i < p.size(); ++i) {
        if (p[i] < '0' || p[i] > '9') return -1;
        slot = slot * 10 + (p[i] - '0');
    }
    // One name per object: "drive01" is no enclosure's.
    if (p.size() == prefix.size() + 2 && p[prefix.size()] == '0') return -1;
    return slot;
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

namespace {

bool fits(std::string_view text, std::size_t limit, const char* what, std::string& error) {
    if (text.size() > limit) {
        error = std::string(what) + " is too long";
        return false;
    }
    if (!validUtf8(text)) {
        error = std::string(what) + " is no UTF-8 text";
        return false;
    }
    return true;
}

bool mailValues(const std::vector<BusArg>& a, BusCall& call, std::string& error) {
    static const char* const kNames[] = {"the port", "the host", "the sender name", "the sender address",
                                         "the time-out", "the login name"};
    SettingsEdits& e = call.mail;
    for (std::size_t i = 0; i < 6; ++i)
        if (!fits(a[i].text, kMaxShortText, kNames[i], error)) return false;
    for (std::size_t i = 0; i < 5; ++i) e.fields[i] = std::string(a[i].text);
    e.loginName = std::string(a[5].text);
    call.newPassword = a[6].number != 0;
    if (!fits(a[7].text, kMaxPassword, "the password", error)) return false;
    if (!call.newPassword && !a[7].text.empty()) {
        error = "a password is given only as a new one";
        return false;
    }
    e.fields[kPassword] = std::string(a[7].text);
    e.loginOn = a[8].number != 0;
    e.noMailKind1 = a[9].number != 0;
    e.noMailKind2 = a[10].number != 0;
    if (a[11].number > kSecurityTls) {
        error = "the security is 0 (none), 1 (STARTTLS) or 2 (SSL/TLS)";
        return false;
    }
    e.security = a[11].number;
    if (a[12].list.size() > kMaxRecipients) {
        error = "at most " + std::to_string(kMaxRecipients) + " recipients";
        return false;
    }
    for (std::string_view r : a[12].list) {
        if (!fits(r, kMaxShortText, "a recipient", error)) return false;
        e.working.emplace_back(r);
    }
    if (a[13].list.size() != 2 || a[14].list.size() != 2) {
        error = "two subjects and two contents: Hard Disks Fail, Device Removed";
        return false;
    }
    for (std::size_t k = 0; k < 2; ++k) {
        if (!fits(a[13].list[k], kMaxSubject, "a subject", error) ||
            !fits(a[14].list[k], kContentsLimit, "a contents", error))
            return false;
        e.subject[k] = std::string(a[13].list[k]);
        e.contents[k] = std::string(a[14].list[k]);
    }
    return true;
}

}  // namespace

std::optional<BusCall> decodeCall(std::string_view member, std::string_view signature, const std::vector<BusArg>& args,
                                  std::string& error) {
    const Method* m = find(member);
    if (!m) {
        error = "no such method";
        return std::nullopt;
    }
    if (signature != m->signature) {
        error = std::string(m->member) + " takes " + (*m->signature ? m->signature : "no arguments");
        return std::nullopt;
    }
    const std::string types = argumentTypes(m->signature);
    if (args.size() != types.size()) {
        error = "the arguments do not match the signature";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const BusArg& a = args[i];
        if (a.type != types[i] || a.text.size() > kMaxArgBytes || a.list.size() > kMaxListItems ||
            (a.type == 'b' && a.number > 1)) {
            error = a.type != types[i] ? "the arguments do not match the signature" : "an argument is too long";
            return std::nullopt;
        }
    }
    BusCall call;
    call.method = m->method;
    if (call.method == BusMethod::getOlderDayLog) {
        if (args[0].text.size() > 64 || !validDayName(args[0].text)) {
            error = "a day is six digits, yymmdd, of a calendar date";
            return std::nullopt;
        }
        call.day = std::string(args[0].text);
    }
    if (call.method == BusMethod::saveMailSettings && !mailValues(args, call, error)) return std::nullopt;
    if (call.method == BusMethod::setAlertCommand) {
        if (!fits(args[0].text, kAlertCommandLimit, "the program's path", error)) return std::nullopt;
        call.alertCommand = std::string(args[0].text);
        error = alertCommandRefusal(call.alertCommand);
        if (!error.empty()) return std::nullopt;
    }
    if (call.method == BusMethod::startUpgrade) {
        call.slot = enclosureSlot(args[0].text);
        if (call.slot < 0) {
            error = std::string("the enclosure is an object ") + kEnclosurePrefix + "/driveN";
            return std::nullopt;
        }
        call.imageFd = static_cast<int>(args[1].number);
        if (call.imageFd < 0) {
            error = "the image is an open file";
            return std::nullopt;
        }
    }
    if (call.method == BusMethod::getHistory) {
        call.slot = enclosureSlot(args[0].text);
        if (call.slot < 0) {
            error = std::string("the enclosure is an object ") + kEnclosurePrefix + "/driveN";
            return std::nullopt;
        }
        if (args[1].number > kMaxHistoryFrom) {
            error = "the first minute is a Unix time before 2100";
            return std::nullopt;
        }
        call.fromMinute = args[1].number;
    }
    return call;
}

}  // namespace raid::bus

#include "notify/AlertProgram.h"

#include "monitor/TimeFormat.h"
#include "notify/AlertMail.h"
#include "notify/Alerts.h"
#include "notify/NotificationSettings.h"

namespace raid {

namespace {

constexpr std::size_t kValueLimit = 16 * 1024;

// Control characters as blanks, line feeds kept where `lines` is set; cut to the limit.
std::string clean(std::string_view text, bool lines = false) {
    std::string out = cutToLimit(text, kValueLimit);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 || b == 0x7F) && !(lines && c == '\n')) c = ' ';
    }
    return out;
}

}  // namespace

std::string alertCommandRefusal(const std::string& path) {
    if (path.empty()) return "";
    if (path.size() > kAlertCommandLimit)
        return "alert-command takes at most " + std::to_string(kAlertCommandLimit) + " bytes, not " +
               std::to_string(path.size());
    if (hasControlCharacter(path)) return "alert-command holds a control character";
    if (path[0] != '/') return "alert-command takes an absolute path (one that begins with \"/\")";
    if (path.back() == '/') return "alert-command names a folder, not a program";
    // Each step of the path is a name: "." and ".." would let the checks of the folders
    // on the way look at other folders than the ones the program is found through.
    std::size_t from = 1;
    while (from <= path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        const std::string step = path.substr(from, to - from);
        if (step == "." || step == "..") return "alert-command takes a path without \".\" or \"..\" steps";
        from = to + 1;
    }
    return "";
}

std::string alertKindWord(int kind) {
    switch (kind) {
    case 1: return "drive-fail";
    case 2: return "enclosure-removed";
    case 3: return "over-heat";
    default: return "fan-fail";
    }
}

AlertProgramCall alertProgramCall(const AlertFacts& f) {
    AlertProgramCall call;
    const std::string name = alertName(f.kind, f.deviceIndex, f.port);
    const std::string time = formatDateTimeC(f.wallSeconds);
    call.alert = name + ", event " + time;
    std::string detail;
    for (const std::string& line : f.lines) detail += (detail.empty() ? "" : "\n") + line;
    const double epoch = f.wallSeconds < 0 ? 0 : f.wallSeconds;
    call.environment = {
        {"PATH", kAlertProgramPath},
        {"HOME", "/"},
        {"LANG", "C.UTF-8"},
        {"RAID_ALERT_KIND", std::to_string(f.kind)},
        {"RAID_ALERT_KIND_NAME", alertKindWord(f.kind)},
        {"RAID_ALERT_NAME", clean(name)},
        {"RAID_ALERT_DEVICE", "Device" + std::to_string(f.deviceIndex + 1)},
        {"RAID_ALERT_MODEL", clean(f.model)},
        {"RAID_ALERT_PORT", std::to_string(f.port)},
        {"RAID_ALERT_SUBJECT", clean(f.subject)},
        {"RAID_ALERT_DETAIL", clean(detail, true)},
        {"RAID_ALERT_HOST", clean(f.host)},
        {"RAID_ALERT_TIME", time},
        {"RAID_ALERT_EPOCH", std::to_string(static_cast<long long>(epoch))},
    };
    // Standard input: the subject, a blank line, the detail lines, the time and the host,
    // as a mail would read.
    call.input = clean(f.subject) + "\n\n" + clean(detail, true) + "\n" + eventTimeLine(f.wallSeconds) +
                 "\nHost: " + clean(f.host) + "\n";
    return call;
}

}  // namespace raid

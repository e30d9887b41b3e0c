#include "monitor/Metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace raid {

namespace {

constexpr const char* kDriveStates[] = {"present", "failed", "absent", "empty", "inserted"};
constexpr const char* kActivities[] = {"idle", "rebuild", "scan", "flush"};

// One family: its HELP and TYPE once, then all its samples together, as the format
// requires (a family split by another one is refused by the collector).
class Family {
public:
    Family(std::string& out, const char* name, const char* type, const char* help) : out_(out), name_(name) {
        out_ += std::string("# HELP ") + name + " " + help + "\n";
        out_ += std::string("# TYPE ") + name + " " + type + "\n";
    }
    void sample(const std::string& labels, const std::string& value) {
        out_ += name_;
        if (!labels.empty()) out_ += "{" + labels + "}";
        out_ += " " + value + "\n";
    }

private:
    std::string& out_;
    const char* name_;
};

std::string label(const char* key, const std::string& value) {
    return std::string(key) + "=\"" + metricLabelValue(value) + "\"";
}

std::string join(const std::string& a, const std::string& b) { return a.empty() ? b : b.empty() ? a : a + "," + b; }

std::string number(long long v) { return std::to_string(v); }

// A percentage the record gives (a byte: anything up to 255) as a ratio of 0 to 1.
std::string ratio(int percent) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", std::clamp(percent, 0, 100) / 100.0);
    return text;
}

// The labels that name each enclosure. Two enclosures that give the same model and
// serial (a controller that leaves its serial blank) would make one series of two;
// those, and only those, are told apart by the drive they answer on.
std::vector<std::string> identities(const StatusSummary& s) {
    std::map<std::pair<std::string, std::string>, int> seen;
    for (const EnclosureSummary& e : s.enclosures) ++seen[{e.model, e.serial}];
    std::vector<std::string> out;
    for (const EnclosureSummary& e : s.enclosures) {
        std::string l = join(label("model", e.model), label("serial", e.serial));
        if (seen[{e.model, e.serial}] > 1) l = join(l, label("drive", e.drives.empty() ? "" : e.drives.front()));
        out.push_back(l);
    }
    return out;
}

bool readable(const EnclosureSummary& e) { return !e.source.empty() && e.controller != "unknown"; }

}  // namespace

std::string metricLabelValue(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c >= 0x7F) out += ' ';
        else out += ch;
    }
    return out;
}

std::string metricsText(const StatusSummary& summary, std::uint64_t mailFailures) {
    std::string out;
    const std::vector<std::string> ids = identities(summary);
    const std::size_t n = summary.enclosures.size();
    auto each = [&](auto&& body) {
        for (std::size_t i = 0; i < n; ++i) body(summary.enclosures[i], ids[i]);
    };

    Family(out, "raidgui_enclosures", "gauge", "Enclosures the monitor watches.").sample("", number(static_cast<long long>(n)));
    Family(out, "raidgui_mail_failures_total", "counter", "Alert mail attempts that failed since the monitor started.")
        .sample("", number(static_cast<long long>(mailFailures)));
    if (n == 0) return out;

    Family info(out, "raidgui_enclosure_info", "gauge",
                "Always 1; the labels tell the enclosure's firmware, controller and mode.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        info.sample(join(id, join(label("firmware", e.firmware),
                                  join(label("controller", e.controller), label("mode", e.mode)))),
                    "1");
    });
    Family health(out, "raidgui_health", "gauge", "0 healthy, 1 degraded, 2 unknown (the status could not be read).");
    each([&](const EnclosureSummary& e, const std::string& id) { health.sample(id, number(static_cast<int>(e.health))); });

    Family present(out, "raidgui_drive_present", "gauge", "1 when a working drive is in the bay.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (!readable(e)) return;
        for (int b = 0; b < 2; ++b)
            present.sample(join(id, label("bay", std::to_string(b + 1))),
                           e.bays[static_cast<std::size_t>(b)].state == "present" ? "1" : "0");
    });
    Family state(out, "raidgui_drive_state", "gauge",
                 "1 for the bay's state: present, failed, absent (was there, has gone), empty, inserted.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (!readable(e)) return;
        for (int b = 0; b < 2; ++b)
            for (const char* s : kDriveStates)
                state.sample(join(id, join(label("bay", std::to_string(b + 1)), label("state", s))),
                             e.bays[static_cast<std::size_t>(b)].state == s ? "1" : "0");
    });

    Family activity(out, "raidgui_activity", "gauge", "1 for what the controller is doing: idle, rebuild, scan, flush.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (!readable(e)) return;
        for (const char* a : kActivities) activity.sample(join(id, label("activity", a)), e.activity == a ? "1" : "0");
    });
    Family progress(out, "raidgui_activity_progress_ratio", "gauge", "How far a rebuild or surface scan is, 0 to 1.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (readable(e) && e.progress >= 0)
            progress.sample(join(id, join(label("activity", e.activity), label("bay", std::to_string(e.target)))),
                            ratio(e.progress));
    });

    // Only while the estimate is known: a stalled or just-started rebuild has no series
    // rather than a number an alert rule would take at its word.
    Family left(out, "raidgui_activity_seconds_left", "gauge",
                "Estimated seconds until a rebuild or surface scan ends, from its rate over the last minutes.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (readable(e) && e.progress >= 0 && e.timed && e.timeLeft.known)
            left.sample(join(id, join(label("activity", e.activity), label("bay", std::to_string(e.target)))),
                        number(std::llround(std::clamp(e.timeLeft.secondsLeft, 0.0, 1e12))));
    });

    // Fan and temperature only from a record that carries them: a 0 would read as a
    // stopped fan or a cold room.
    Family temperature(out, "raidgui_temperature_celsius", "gauge", "The enclosure's temperature.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (readable(e) && e.monitored) temperature.sample(id, number(e.temperatureC));
    });
    Family fan(out, "raidgui_fan_rpm", "gauge", "The enclosure's fan speed in revolutions per minute.");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (readable(e) && e.monitored) fan.sample(id, number(e.fanRpm));
    });
    Family alarm(out, "raidgui_alarm", "gauge", "1 while the enclosure raises the alarm: fan (failure), temperature (over).");
    each([&](const EnclosureSummary& e, const std::string& id) {
        if (!readable(e) || !e.monitored) return;
        alarm.sample(join(id, label("alarm", "fan")), e.fanAlarm ? "1" : "0");
        alarm.sample(join(id, label("alarm", "temperature")), e.temperatureAlarm ? "1" : "0");
    });
    return out;
}

}  // namespace raid

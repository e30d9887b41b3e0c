#include "monitor/StatusSummary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "device/DevicePath.h"
#include "monitor/StatusPageModel.h"
#include "monitor/StatusRecord.h"

namespace raid {

namespace {

std::string trimmed(std::string s) {
    const std::size_t end = s.find_last_not_of(' ');
    s.erase(end == std::string::npos ? 0 : end + 1);
    const std::size_t begin = s.find_first_not_of(' ');
    return begin == std::string::npos ? std::string() : s.substr(begin);
}

const char* accessName(std::uint32_t code) {
    return isEnclosureCode(code) ? pathOf(code).name() : "";
}

// The bay's state as the Status page draws it (drive 2's inserted bit is never read).
std::string bayState(std::uint8_t flags, int drive) {
    const std::uint8_t bits = static_cast<std::uint8_t>(drive == 0 ? flags & 0x0F : flags >> 4);
    if (bits & kFlagAbsent) return "absent";
    if (bits & kFlagPresent) return "present";
    if (bits & kFlagFailed) return "failed";
    if (drive == 1 || !(bits & kFlagInserted)) return "empty";
    return "inserted";
}

void summarizeRecord(const Sector& status, const Sector& identity, EnclosureSummary& e) {
    const StatusRecord rec(status);
    const std::uint8_t kind = rec.kind();
    const bool hybrid = kind == kControllerHybrid;
    const std::string revision = trimmed(firmwareRevision(identity));
    e.firmware = revision + "." + rec.subCode();
    if (kind != kControllerRaid && kind != kControllerSecond && !hybrid) {
        // The page draws nothing for such a record either: it is no status it knows.
        e.controller = "unknown";
        e.problems.push_back("the status record is of an unknown kind (0x" + hexByte(kind) + ")");
        e.health = Health::Unknown;
        return;
    }
    e.controller = hybrid ? "hybrid" : "raid";
    e.mode = hybrid ? hybridModeText(rec.hybridMode()) : raidModeText(rec.raidMode());
    e.configuredGB = gigabytes(rec.configuredCapacity());
    const std::uint8_t flags = rec.driveFlags();
    for (int d = 0; d < 2; ++d) {
        DriveSummary& bay = e.bays[static_cast<std::size_t>(d)];
        bay.name = driveName(kind, d);
        bay.state = bayState(flags, d);
        if (bay.state != "empty") {
            bay.capacityGB = gigabytes(rec.capacity(d));
            bay.model = trimmed(rec.model(d));
            bay.serial = trimmed(rec.serial(d));
        }
        if (bay.state == "failed" || bay.state == "absent") e.problems.push_back(bay.name + " " + bay.state);
    }
    // A striped or mirrored set with a bay that holds no working drive runs degraded
    // (or not at all) even when the bay reads as empty.
    if (!hybrid && rec.raidMode() <= 1)
        for (const DriveSummary& bay : e.bays)
            if (bay.state == "empty" || bay.state == "inserted") e.problems.push_back(bay.name + " missing from the set");

    const std::uint8_t activity = rec.activity();
    if (!hybrid && (activity & 0x03)) {
        // The page marks a scan by bit 7 only for firmware that reports scans.
        const bool scan = scanCapable(revision) && (activity & 0x80);
        e.activity = scan ? "scan" : "rebuild";
        e.progress = rec.progress();
        const std::uint8_t direction = rec.byte(105);
        e.target = (direction & 0x01) ? 1 : (direction & 0x02) ? 2 : 0;
        e.problems.push_back(e.activity + " running (" + std::to_string(e.progress) + "%)");
    } else if (hybrid && flags == kBothPresent && rec.hybridMode() != 127 && !(rec.cacheState() & 0x02) &&
               rec.flushPosition() != 0xFFFFFFFFu) {
        e.activity = "flush";  // the cache being written to the disk: the device's normal work
    }
    // Fan and temperature count when the record says it carries them, as the alerts
    // read it.
    const std::uint8_t alarms = rec.fanTempAlarms();
    e.monitored = rec.monitorMarker() == 17 && (alarms >> 4) == 0xA;
    if (e.monitored) {
        e.fanRpm = rec.fanSpeed();
        e.temperatureC = rec.temperature();
        e.fanAlarm = alarms & 0x01;
        e.temperatureAlarm = alarms & 0x04;
        if (e.fanAlarm) e.problems.push_back("fan failure");
        if (e.temperatureAlarm) e.problems.push_back("over temperature");
    }
    e.health = e.problems.empty() ? Health::Healthy : Health::Degraded;
}

void appendNumber(std::string& out, const char* key, long long value) {
    out += "\"";
    out += key;
    out += "\":" + std::to_string(value);
}

std::string statsJson(const ReadingStats& st) {
    if (st.count == 0) return "null";
    char buf[128];
    std::snprintf(buf, sizeof buf, "{\"min\":%g,\"max\":%g,\"mean\":%.1f,\"samples\":%zu}", st.min, st.max, st.mean, st.count);
    return buf;
}

}  // namespace

int StatusSummary::exitCode() const {
    if (enclosures.empty()) return 2;
    int code = 0;
    for (const EnclosureSummary& e : enclosures) {
        if (e.health == Health::Unknown) return 2;
        if (e.health == Health::Degraded) code = 1;
    }
    return code;
}

StatusSummary summarizeStatus(const DeviceState& dev, std::uint8_t polled, const std::function<std::string(int)>& driveName) {
    StatusSummary s;
    const int count = std::min(dev.ActiveCount.load(), kMaxActive);
    for (int i = 0; i < count; ++i) {
        EnclosureSummary e;
        const std::uint32_t code = dev.ActiveDevices[static_cast<std::size_t>(i)];
        const int slot = static_cast<int>(code & kCodeDriveMask);
        e.device = i + 1;
        const Sector& identity = identitySlot(dev, slot);
        e.model = trimmed(enclosureModel(identity));
        e.serial = trimmed(ataString(identity, 20, 20));
        e.volumes = deviceLetters(dev, i);
        e.name = enclosureModel(identity) + " [" + e.volumes + "]";
        auto nameOf = [&](int n) { return driveName ? driveName(n) : "PhysicalDrive" + std::to_string(n); };
        e.drives.push_back(nameOf(slot));
        const std::size_t members = std::min<std::size_t>(dev.groupCount[static_cast<std::size_t>(i)], kMaxPhysical);
        for (std::size_t m = 0; m < members; ++m) e.drives.push_back(nameOf(dev.groupMembers[static_cast<std::size_t>(i)][m]));
        e.access = accessName(code);
        const bool fromPoll = i < 2 && (polled & (1u << i));
        // Past the two polled devices the record the detection pass read stands in.
        const Sector& status = fromPoll ? statusSlot(dev, slot)
                               : i >= 2 && slot < kMaxPhysical ? dev.statusSnapshots[static_cast<std::size_t>(slot)]
                                                               : zeroPage();
        if (!fromPoll && (i < 2 || status[1] == 0)) {
            e.firmware = trimmed(firmwareRevision(identity));
            e.problems.push_back("the status record could not be read");
            e.health = Health::Unknown;
        } else {
            e.source = fromPoll ? "poll" : "detection";
            summarizeRecord(status, identity, e);
        }
        s.enclosures.push_back(std::move(e));
    }
    return s;
}

void addTimeLeft(StatusSummary& summary, const std::function<TimeLeftEstimate(int deviceIndex)>& estimate) {
    for (EnclosureSummary& e : summary.enclosures) {
        if (e.source != "poll" || e.progress < 0 || e.device < 1 || e.device > 2) continue;
        e.timed = true;
        e.timeLeft = estimate(e.device - 1);
    }
}

std::string statusText(const StatusSummary& summary) {
    std::string out;
    for (const std::string& note : summary.notes) out += note + "\n";
    if (summary.enclosures.empty()) out += "No enclosure found.\n";
    for (const EnclosureSummary& e : summary.enclosures) {
        out += "Device" + std::to_string(e.device) + ": " + e.name + " on ";
        for (std::size_t k = 0; k < e.drives.size(); ++k) out += (k ? ", " : "") + e.drives[k];
        out += " (" + e.access + ")\n";
        out += "  Firmware: " + e.firmware + "\n";
        if (!e.source.empty() && e.controller != "unknown") {
            out += "  Mode: " + e.mode + ", " + std::to_string(e.configuredGB) + " GB\n";
            for (const DriveSummary& bay : e.bays) {
                out += "  " + bay.name + ": " + bay.state;
                if (bay.state != "empty") out += ", " + std::to_string(bay.capacityGB) + " GB, " + bay.model;
                out += "\n";
            }
            if (e.progress >= 0) {
                out += "  " + std::string(e.activity == "scan" ? "Scan" : "Rebuild") + ": " + std::to_string(e.progress) + "%";
                if (e.target) out += " (" + e.bays[static_cast<std::size_t>(e.target - 1)].name + ")";
                out += "\n";
                if (e.timed) {
                    out += "  Time left: " +
                           (e.timeLeft.known ? std::string(e.timeLeft.secondsLeft < kLongestShownDays * 86400.0 ? "about " : "") +
                                                   durationText(e.timeLeft.secondsLeft) + " (" +
                                                   rateText(e.timeLeft.percentPerHour) + " %/h)"
                                             : std::string("unknown")) +
                           "\n";
                }
            } else if (e.activity == "flush") {
                out += "  Cache: flushing\n";
            }
            if (e.monitored)
                out += "  Fan: " + std::to_string(e.fanRpm) + " rpm" + (e.fanAlarm ? " (failure)" : "") +
                       ", temperature: " + std::to_string(e.temperatureC) + " C" +
                       (e.temperatureAlarm ? " (over temperature)" : "") + "\n";
        }
        out += "  Health: ";
        out += e.health == Health::Healthy ? "healthy" : e.health == Health::Degraded ? "degraded" : "unknown";
        for (std::size_t k = 0; k < e.problems.size(); ++k) out += (k ? ", " : " (") + e.problems[k];
        out += e.problems.empty() ? "\n" : ")\n";
    }
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", c);
            out += esc;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // A well-formed UTF-8 sequence passes; anything else becomes U+FFFD.
            const std::size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool ok = len != 0 && i + len <= text.size();
            for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (ok && len == 3) {
                const auto c1 = static_cast<unsigned char>(text[i + 1]);
                ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);  // overlong, surrogates
            } else if (ok && len == 4) {
                const auto c1 = static_cast<unsigned char>(text[i + 1]);
                ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
            }
            if (ok) {
                out.append(text, i, len);
                i += len;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
        }
    }
    return out + "\"";
}

std::string statusJson(const StatusSummary& summary) {
    const int code = summary.exitCode();
    std::string out = "{\"schema\":1,";
    out += "\"status\":" + jsonString(code == 0 ? "healthy" : code == 1 ? "degraded" : "unknown") + ",";
    appendNumber(out, "exitCode", code);
    out += ",\"notes\":[";
    for (std::size_t k = 0; k < summary.notes.size(); ++k) out += (k ? "," : "") + jsonString(summary.notes[k]);
    out += "],\"enclosures\":[";
    for (std::size_t n = 0; n < summary.enclosures.size(); ++n) {
        const EnclosureSummary& e = summary.enclosures[n];
        out += n ? ",{" : "{";
        appendNumber(out, "device", e.device);
        out += ",\"name\":" + jsonString(e.name) + ",\"model\":" + jsonString(e.model);
        out += ",\"volumes\":[";
        for (std::size_t k = 0; k < e.volumes.size(); ++k) out += (k ? "," : "") + jsonString(std::string(1, e.volumes[k]));
        out += "],\"drives\":[";
        for (std::size_t k = 0; k < e.drives.size(); ++k) out += (k ? "," : "") + jsonString(e.drives[k]);
        out += "],\"access\":" + jsonString(e.access);
        out += ",\"source\":" + (e.source.empty() ? std::string("null") : jsonString(e.source));
        out += ",\"firmware\":" + jsonString(e.firmware) + ",\"controller\":" +
               (e.controller.empty() ? std::string("null") : jsonString(e.controller));
        out += ",\"mode\":" + (e.mode.empty() ? std::string("null") : jsonString(e.mode)) + ",";
        appendNumber(out, "configuredGB", static_cast<long long>(e.configuredGB));
        out += ",\"bays\":[";
        for (std::size_t k = 0; k < e.bays.size() && !e.source.empty() && e.controller != "unknown"; ++k) {
            const DriveSummary& b = e.bays[k];
            out += k ? ",{" : "{";
            out += "\"name\":" + jsonString(b.name) + ",\"state\":" + jsonString(b.state) + ",";
            appendNumber(out, "capacityGB", static_cast<long long>(b.capacityGB));
            out += ",\"model\":" + jsonString(b.model) + ",\"serial\":" + jsonString(b.serial) + "}";
        }
        out += "],\"activity\":" + jsonString(e.activity) + ",\"progress\":" +
               (e.progress < 0 ? std::string("null") : std::to_string(e.progress)) + ",";
        appendNumber(out, "target", e.target);
        const bool known = e.timed && e.timeLeft.known;
        out += ",\"secondsLeft\":" + (known ? std::to_string(std::llround(e.timeLeft.secondsLeft)) : std::string("null"));
        if (known) {
            // Four significant digits: a script may want the rate of a crawl the
            // page rounds to hundredths.
            char rate[32];
            const auto res = std::to_chars(rate, rate + sizeof rate, std::clamp(e.timeLeft.percentPerHour, 0.0, 1e9),
                                           std::chars_format::general, 4);
            out += ",\"percentPerHour\":" + std::string(rate, res.ptr);
        } else {
            out += ",\"percentPerHour\":null";
        }
        out += ",\"fan\":";
        out += e.monitored ? "{\"rpm\":" + std::to_string(e.fanRpm) + ",\"alarm\":" + (e.fanAlarm ? "true" : "false") + "}"
                           : std::string("null");
        out += ",\"temperature\":";
        out += e.monitored ? "{\"celsius\":" + std::to_string(e.temperatureC) + ",\"alarm\":" +
                                 (e.temperatureAlarm ? "true" : "false") + "}"
                           : std::string("null");
        out += ",\"last24h\":{\"temperature\":" + statsJson(e.temperature24h) + ",\"fanRpm\":" + statsJson(e.fanRpm24h) + "}";
        out += ",\"health\":" +
               jsonString(e.health == Health::Healthy ? "healthy" : e.health == Health::Degraded ? "degraded" : "unknown");
        out += ",\"problems\":[";
        for (std::size_t k = 0; k < e.problems.size(); ++k) out += (k ? "," : "") + jsonString(e.problems[k]);
        out += "]}";
    }
    return out + "]}\n";
}

}  // namespace raid

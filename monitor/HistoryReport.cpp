#include "monitor/HistoryReport.h"

#include <cstdio>

#include "monitor/HistoryStore.h"
#include "monitor/StatusSummary.h"

namespace raid {

namespace {

const char* activityName(HistoryActivity a) {
    switch (a) {
        case HistoryActivity::Rebuild: return "rebuild";
        case HistoryActivity::Scan: return "scan";
        case HistoryActivity::Flush: return "flush";
        case HistoryActivity::Idle: break;
    }
    return "idle";
}

std::string range(const ReadingStats& st, const char* unit) {
    if (st.count == 0) return std::string("-");
    char buf[96];
    std::snprintf(buf, sizeof buf, "%g..%g %s (mean %.1f)", st.min, st.max, unit, st.mean);
    return buf;
}

std::string utcIso(std::int64_t seconds) {
    std::string t = utcMinuteText(seconds);
    if (t.size() != 16) return t;
    t[10] = 'T';
    return t + ":00Z";
}

}  // namespace

std::string historyText(const std::vector<HistorySeries>& all) {
    std::string out;
    if (all.empty()) return "No history is stored.\n";
    for (const HistorySeries& s : all) {
        out += s.label + " (" + std::to_string(s.samples.size()) + " samples)\n";
        for (std::size_t i = 0; i < s.samples.size();) {
            const std::int64_t hour = s.samples[i].minute - ((s.samples[i].minute % 3600) + 3600) % 3600;
            std::vector<HistorySample> in;
            std::uint8_t alarms = 0;
            const HistorySample* busy = nullptr;
            for (; i < s.samples.size() && s.samples[i].minute < hour + 3600; ++i) {
                in.push_back(s.samples[i]);
                alarms |= s.samples[i].alarms;
                if (s.samples[i].activity != HistoryActivity::Idle) busy = &s.samples[i];
            }
            out += "  " + utcMinuteText(hour) + " UTC  " + std::to_string(in.size()) + " samples  temperature " +
                   range(temperatureStats(in, hour), "C") + "  fan " + range(fanSpeedStats(in, hour), "RPM");
            if (alarms & 0x01) out += "  fan alarm";
            if (alarms & 0x04) out += "  over-temperature alarm";
            if (busy) out += std::string("  ") + activityName(busy->activity) + " " + std::to_string(busy->percent) + "%";
            out += "\n";
        }
    }
    return out;
}

std::string historyJson(const std::vector<HistorySeries>& all) {
    std::string out = "{\"schema\":1,\"enclosures\":[";
    for (std::size_t n = 0; n < all.size(); ++n) {
        const HistorySeries& s = all[n];
        out += n ? ",{" : "{";
        out += "\"key\":" + jsonString(s.key) + ",\"label\":" + jsonString(s.label);
        out += ",\"fanAlarmAt\":" + (s.fanAlarmAt == kNoFanSpeed ? std::string("null") : std::to_string(s.fanAlarmAt));
        out += ",\"temperatureAlarmAt\":" +
               (s.temperatureAlarmAt == kNoTemperature ? std::string("null") : std::to_string(s.temperatureAlarmAt));
        out += ",\"samples\":[";
        for (std::size_t k = 0; k < s.samples.size(); ++k) {
            const HistorySample& x = s.samples[k];
            out += k ? ",{" : "{";
            out += "\"minute\":" + std::to_string(x.minute) + ",\"time\":\"" + utcIso(x.minute) + "\"";
            out += ",\"temperature\":" + (x.temperature == kNoTemperature ? std::string("null") : std::to_string(x.temperature));
            out += ",\"fanRpm\":" + (x.fanSpeed == kNoFanSpeed ? std::string("null") : std::to_string(x.fanSpeed));
            out += std::string(",\"fanAlarm\":") + ((x.alarms & 0x01) ? "true" : "false");
            out += std::string(",\"temperatureAlarm\":") + ((x.alarms & 0x04) ? "true" : "false");
            out += ",\"driveFlags\":" + std::to_string(x.driveFlags);
            out += std::string(",\"activity\":\"") + activityName(x.activity) + "\"";
            out += ",\"percent\":" + std::to_string(x.percent) + "}";
        }
        out += "]}";
    }
    return out + "]}\n";
}

}  // namespace raid

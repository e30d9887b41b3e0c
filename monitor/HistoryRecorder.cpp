#include "monitor/HistoryRecorder.h"

#include <algorithm>
#include <cmath>

#include "device/DevicePath.h"
#include "monitor/StatusRecord.h"

namespace raid {

namespace {

// Device text as a key: printable ASCII only, runs of anything else one blank.
std::string plain(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c > 0x20 && c < 0x7F)
            out.push_back(static_cast<char>(c));
        else if (!out.empty() && out.back() != ' ')
            out.push_back(' ');
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace

std::string historyKey(const EnclosureSummary& e) {
    std::string key = plain(e.model) + "|";
    const std::string serial = plain(e.serial);
    if (!serial.empty()) {
        key += serial;
    } else {
        const std::string drives = plain(e.bays[0].serial) + "+" + plain(e.bays[1].serial);
        key += drives != "+" ? "drives " + drives : "device " + std::to_string(e.device);
    }
    if (key.size() > HistoryStore::kMaxKeyBytes) key.resize(HistoryStore::kMaxKeyBytes);
    return key;
}

std::string historyLabel(const EnclosureSummary& e) {
    std::string label = plain(e.model);
    const std::string serial = plain(e.serial);
    if (!serial.empty()) label += (label.empty() ? "" : " ") + serial;
    if (label.size() > HistoryStore::kMaxKeyBytes) label.resize(HistoryStore::kMaxKeyBytes);
    return label;
}

HistorySample historySample(const EnclosureSummary& e, std::uint8_t driveFlags, std::int64_t minute) {
    HistorySample s;
    s.minute = minute;
    // Fan and temperature only when the record says it carries them.
    if (e.monitored) {
        s.temperature = static_cast<std::int16_t>(std::clamp(e.temperatureC, -32767, 32767));
        s.fanSpeed = std::max(e.fanRpm, 0);
        s.alarms = static_cast<std::uint8_t>((e.fanAlarm ? 0x01 : 0) | (e.temperatureAlarm ? 0x04 : 0));
    }
    s.driveFlags = driveFlags;
    s.activity = e.activity == "rebuild" ? HistoryActivity::Rebuild
                 : e.activity == "scan"  ? HistoryActivity::Scan
                 : e.activity == "flush" ? HistoryActivity::Flush
                                         : HistoryActivity::Idle;
    s.percent = static_cast<std::uint8_t>(std::clamp(e.progress, 0, 100));
    return s;
}

void HistoryRecorder::afterPoll(const DeviceState& dev, std::uint8_t mask, double wallSeconds) {
    if (!std::isfinite(wallSeconds)) return;
    const auto minute = static_cast<std::int64_t>(std::floor(wallSeconds / 60.0)) * 60;
    bool due = false;
    for (int i = 0; i < 2; ++i)
        if ((mask & (1u << i)) && lastMinute_[static_cast<std::size_t>(i)] != minute) due = true;
    if (!due) return;
    const StatusSummary summary = summarizeStatus(dev, mask);
    for (const EnclosureSummary& e : summary.enclosures) {
        const int i = e.device - 1;
        if (i < 0 || i > 1 || !(mask & (1u << i)) || e.source != "poll") continue;
        auto& last = lastMinute_[static_cast<std::size_t>(i)];
        if (last == minute) continue;
        last = minute;
        const std::uint32_t code = dev.ActiveDevices[static_cast<std::size_t>(i)];
        const std::uint8_t flags = StatusRecord(statusSlot(dev, static_cast<int>(code & kCodeDriveMask))).driveFlags();
        const std::string key = historyKey(e);
        keys_[static_cast<std::size_t>(i)] = key;
        const HistorySample sample = historySample(e, flags, minute);
        if (writing) store_.add(key, historyLabel(e), sample);
        std::deque<HistorySample>& kept = recent(key, minute);
        if (kept.empty() || kept.back().minute < minute) kept.push_back(sample);
        while (!kept.empty() && kept.front().minute <= minute - 86400) kept.pop_front();
    }
}

std::deque<HistorySample>& HistoryRecorder::recent(const std::string& key, std::int64_t minute) {
    auto it = recent_.find(key);
    if (it != recent_.end()) return it->second;
    // Enclosures come and go over months: the memory for them stays bounded.
    if (recent_.size() >= kMaxRecentKeys) recent_.clear();
    const HistorySeries series = store_.read(key, minute - 86400 + 60, 1440);
    auto& kept = recent_[key];
    kept.assign(series.samples.begin(), series.samples.end());
    return kept;
}

void HistoryRecorder::fillStats(StatusSummary& summary, double wallSeconds) {
    if (!std::isfinite(wallSeconds)) return;
    const auto minute = static_cast<std::int64_t>(std::floor(wallSeconds / 60.0)) * 60;
    for (EnclosureSummary& e : summary.enclosures) {
        if (e.model.empty() && e.serial.empty()) continue;
        const std::deque<HistorySample>& kept = recent(historyKey(e), minute);
        const std::vector<HistorySample> last(kept.begin(), kept.end());
        e.temperature24h = temperatureStats(last, minute - 86400 + 60);
        e.fanRpm24h = fanSpeedStats(last, minute - 86400 + 60);
    }
}

const std::string& HistoryRecorder::keyOf(int index) const { return keys_[index == 0 ? 0 : 1]; }

}  // namespace raid

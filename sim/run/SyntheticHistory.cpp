#include "sim/run/SyntheticHistory.h"

#include <algorithm>
#include <cmath>

namespace raid::sim {

namespace {
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kHour = 3600;
}  // namespace

FanFailureTimes fanFailureTimes(double nowWall) {
    FanFailureTimes t;
    const std::int64_t now = static_cast<std::int64_t>(std::floor(nowWall / 60.0)) * 60;
    t.start = now - 5 * kDay + 60;
    t.fanAlarm = t.start + 2 * kDay + 9 * kHour;
    t.heatAlarm = t.start + 2 * kDay + 15 * kHour;
    t.offFrom = t.start + 3 * kDay + 10 * kHour;
    t.offTo = t.offFrom + 3 * kHour;
    return t;
}

HistorySeries fanFailureHistory(double nowWall) {
    const FanFailureTimes t = fanFailureTimes(nowWall);
    HistorySeries s;
    s.key = "SIM DUAL BAY RAID ENCLOSURE/0000000001";
    s.label = "SIM DUAL BAY RAID ENCLOSURE 0000000001";
    const std::int64_t end = t.start + 5 * kDay;
    std::uint32_t noise = 12345;
    for (std::int64_t m = t.start; m < end; m += 60) {
        if (m >= t.offFrom && m < t.offTo) continue;  // switched off: no samples
        noise = noise * 1103515245u + 12345u;
        const double jitter = static_cast<double>((noise >> 16) % 21) - 10.0;
        const double day = static_cast<double>(m - t.start) / kDay;
        // The room warms by day.
        const double room = 3.0 * std::sin((day - 0.3) * 2 * 3.14159265);
        HistorySample x;
        x.minute = m;
        double fan = 0, temperature = 0;
        if (m < t.fanAlarm) {
            // The bearing wears: 1800 RPM falling to 900 as the alarm rises.
            const double worn = static_cast<double>(m - t.start) / static_cast<double>(t.fanAlarm - t.start);
            fan = 1800 - 920 * worn * worn + jitter * 3;
            temperature = 38 + 10 * worn * worn + room;
        } else if (m < t.offFrom) {
            // Stopping within six hours; the enclosure heats up.
            const double h = static_cast<double>(m - t.fanAlarm) / kHour;
            fan = std::max(0.0, 880 - 150 * h + jitter * 2);
            temperature = std::min(48 + 1.6 * h, 61.0) + room / 3;
        } else {
            fan = 2000 + jitter * 3;
            temperature = 36 + room;
        }
        x.fanSpeed = static_cast<std::int32_t>(std::lround(fan));
        x.temperature = static_cast<std::int16_t>(std::lround(temperature));
        if (m >= t.fanAlarm && m < t.offFrom) x.alarms |= 0x01;
        if (m >= t.heatAlarm && m < t.offFrom) x.alarms |= 0x04;
        // A reading lost now and then (the panel hidden for a poll).
        if ((m / 60) % 997 == 0) x.temperature = kNoTemperature;
        x.driveFlags = 0x11;
        s.samples.push_back(x);
        if (m == t.fanAlarm) s.fanAlarmAt = x.fanSpeed;
        if (m == t.heatAlarm) s.temperatureAlarmAt = x.temperature;
    }
    return s;
}

FakeHistorySource::FakeHistorySource(std::function<void(std::function<void()>)> post, HistorySeries series,
                                     bool holdAnswers)
    : post_(std::move(post)), series_(std::move(series)), hold_(holdAnswers) {}

void FakeHistorySource::history(int, std::int64_t fromMinute, HistoryDone done) {
    HistorySeries part;
    part.key = series_.key;
    part.label = series_.label;
    part.fanAlarmAt = series_.fanAlarmAt;
    part.temperatureAlarmAt = series_.temperatureAlarmAt;
    for (const HistorySample& s : series_.samples)
        if (s.minute >= fromMinute) part.samples.push_back(s);
    auto answer = [done = std::move(done), part = std::move(part)] { done(true, part, ""); };
    std::lock_guard lock(mutex_);
    ++requests_;
    lastFrom_ = fromMinute;
    if (hold_)
        held_.push_back(std::move(answer));
    else
        post_(std::move(answer));
}

void FakeHistorySource::release() {
    std::vector<std::function<void()>> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(held_);
        hold_ = false;
    }
    for (auto& answer : held) post_(std::move(answer));
}

int FakeHistorySource::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::int64_t FakeHistorySource::lastFrom() const {
    std::lock_guard lock(mutex_);
    return lastFrom_;
}

}  // namespace raid::sim

// What the engine remembers of an enclosure over time: one sample a minute of its
// temperature, fan speed, drive states and activity. The store, the monitor's
// --history, the bus and the chart window all speak in these values, so they are plain
// and fixed-size; an unknown reading is marked, never guessed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace raid {

inline constexpr std::int16_t kNoTemperature = INT16_MIN;  // no reading (panel hidden, no sensor)
inline constexpr std::int32_t kNoFanSpeed = -1;

// The activity byte of a sample.
enum class HistoryActivity : std::uint8_t { Idle = 0, Rebuild = 1, Scan = 2, Flush = 3 };

struct HistorySample {
    std::int64_t minute = 0;                // Unix time (UTC seconds) of the minute's start
    std::int16_t temperature = kNoTemperature;  // degrees Celsius
    std::int32_t fanSpeed = kNoFanSpeed;    // RPM
    std::uint8_t alarms = 0;                // the record's alarm bits: 0x01 fan, 0x04 over-temperature
    std::uint8_t driveFlags = 0;            // the record's drive flags (drive 2 in the high nibble)
    HistoryActivity activity = HistoryActivity::Idle;
    std::uint8_t percent = 0;               // rebuild/scan progress, 0..100
};

// One enclosure's samples, oldest first. `key` is what stays with the enclosure when
// it moves to another port or machine (its controller's model and serial); `label` is
// what people call it ("SIM DUAL BAY RAID ENCLOSURE 0000000001").
struct HistorySeries {
    std::string key;
    std::string label;
    std::vector<HistorySample> samples;
    // The lowest fan speed and highest temperature seen when each alarm rose (the
    // enclosure does not report its limits); kNoFanSpeed / kNoTemperature: never seen.
    std::int32_t fanAlarmAt = kNoFanSpeed;
    std::int16_t temperatureAlarmAt = kNoTemperature;
};

// Minimum, maximum and mean of a reading over the samples that carry it (count 0:
// none did).
struct ReadingStats {
    std::size_t count = 0;
    double min = 0, max = 0, mean = 0;
};

// Where a front end gets a series from: the engine's own store (simulator, Windows) or
// the service over the bus (Linux client). `done` runs on the engine thread; `ok`
// false with `error` a text for people when the series could not be had.
using HistoryDone = std::function<void(bool ok, const HistorySeries& series, const std::string& error)>;

class HistorySource {
public:
    virtual ~HistorySource() = default;
    // Samples of the enclosure shown as device `deviceIndex` from `fromMinute` on.
    virtual void history(int deviceIndex, std::int64_t fromMinute, HistoryDone done) = 0;
};

}  // namespace raid

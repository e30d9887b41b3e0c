// The engine's side of the history: after each poll, one sample a minute of every
// polled enclosure goes into the store.
//
// Which poll gives a minute its sample: the first poll that falls in the minute, stamped
// with the minute's start. The poll runs every 4 s, so that sample is at most a few
// seconds old when the minute begins; writing at once (rather than at the minute's
// last poll, which is only known when the next minute's first poll comes) means a power
// cut loses at most the minute in progress. An alarm that rises later in the minute
// shows in the next minute's sample.
//
// Everything here runs on the engine thread, where the poll runs.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <cstdint>
#include <string>

#include "device/DeviceState.h"
#include "monitor/HistorySample.h"
#include "monitor/HistoryStore.h"
#include "monitor/StatusSummary.h"

namespace raid {

// What stays with an enclosure when it moves to another port or machine: its
// controller's model and serial. A controller that gives no serial is known by the
// serials of the drives in its bays (they move with it); without those either, by its
// model and device number - the best there is. Printable ASCII, at most
// HistoryStore::kMaxKeyBytes bytes.
std::string historyKey(const EnclosureSummary& e);
// What people call it: model and serial ("SIM DUAL BAY RAID ENCLOSURE 0000000001").
std::string historyLabel(const EnclosureSummary& e);
// The sample of an enclosure's summary and its record's drive flags.
HistorySample historySample(const EnclosureSummary& e, std::uint8_t driveFlags, std::int64_t minute);

class HistoryRecorder {
public:
    explicit HistoryRecorder(HistoryStore& store) : store_(store) {}

    // After a poll that read the devices in `mask` (bit i = device index i) at
    // `wallSeconds` (Unix time).
    void afterPoll(const DeviceState& dev, std::uint8_t mask, double wallSeconds);

    // Whether afterPoll writes its samples (a one-shot check only reads).
    bool writing = true;

    // Fills each enclosure's last-24-hours readings: from the samples kept in memory
    // since the store was first read for it, so a poll costs no file reads.
    void fillStats(StatusSummary& summary, double wallSeconds);

    // The key of the enclosure last recorded as device index `index` ("" when none).
    const std::string& keyOf(int index) const;
    HistoryStore& store() { return store_; }

private:
    // The last 24 hours of `key`, read from the store the first time it is asked for.
    std::deque<HistorySample>& recent(const std::string& key, std::int64_t minute);
    static constexpr std::size_t kMaxRecentKeys = 64;

    HistoryStore& store_;
    std::map<std::string, std::deque<HistorySample>> recent_;
    std::array<std::int64_t, 2> lastMinute_{INT64_MIN, INT64_MIN};
    std::array<std::string, 2> keys_;
};

}  // namespace raid

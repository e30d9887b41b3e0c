// A made-up history for the chart window's tests and screenshots, until the engine's
// own store is wired: an enclosure whose fan wears out, so its temperature creeps up
// for two days before the fan alarm rises on the third; the fan stops, the
// temperature alarm follows, the enclosure is switched off for a new fan on the
// fourth, and runs normally since.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "monitor/HistorySample.h"

namespace raid::sim {

// Minutes of the failing fan's series, five days ending at the minute of `nowWall`.
struct FanFailureTimes {
    std::int64_t start = 0;       // first sample (day 1, 00:00 of the series)
    std::int64_t fanAlarm = 0;    // day 3: the fan alarm rises
    std::int64_t heatAlarm = 0;   // day 3: the over-temperature alarm rises
    std::int64_t offFrom = 0;     // day 4: switched off (no samples) ...
    std::int64_t offTo = 0;       // ... until here, with a new fan
};
FanFailureTimes fanFailureTimes(double nowWall);
HistorySeries fanFailureHistory(double nowWall);

// A HistorySource answering with a given series on the engine thread: at once, or
// only when release() is called (a source that never answers while it is not).
class FakeHistorySource final : public HistorySource {
public:
    // `post` runs a function on the engine thread (EngineHost::post, Scheduler::post).
    FakeHistorySource(std::function<void(std::function<void()>)> post, HistorySeries series, bool holdAnswers = false);
    void history(int deviceIndex, std::int64_t fromMinute, HistoryDone done) override;
    // The held answers are given now, in order.
    void release();
    // Requests seen so far (any thread).
    int requests() const;
    std::int64_t lastFrom() const;

private:
    std::function<void(std::function<void()>)> post_;
    HistorySeries series_;
    bool hold_;
    mutable std::mutex mutex_;
    std::vector<std::function<void()>> held_;
    int requests_ = 0;
    std::int64_t lastFrom_ = 0;
};

}  // namespace raid::sim

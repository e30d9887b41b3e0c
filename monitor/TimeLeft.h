// How long a rebuild or surface scan has left, from its percentage over time.
//
// The enclosure reports whole percents and the engine reads them every 4 s, so a single
// reading says little: the estimator keeps the moments the percentage changed (each the
// first poll that saw a new value) and takes the rate over a sliding window of them.
// A change moment is off by at most one poll, whatever the rate, so the window's rate is
// good to a few per cent once it spans a few minutes. The estimator is pure: it is fed
// the time and the reading and never looks at a clock, so clock jumps are the caller's
// input like any other and are treated as such (backwards: start over; a long gap: the
// rate is measured afresh).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace raid {

enum class WorkKind { None, Rebuild, Scan };

struct TimeLeftEstimate {
    bool known = false;          // false: stalled, just started, or nothing running
    double secondsLeft = 0;      // when known
    double percentPerHour = 0;   // when known
};

// A finished piece of work: what it was and how long it ran as far as the polls saw.
struct FinishedWork {
    WorkKind kind = WorkKind::None;
    int bay = -1;
    double seconds = 0;
    bool complete = false;       // the last reading was 99 % or more
    bool seenFromStart = false;  // the first reading was 0 or 1 %
};

class TimeLeft {
public:
    // The window over which the rate is taken, and the fewest change moments it keeps
    // whatever their age (a slow rebuild moves one percent in many minutes).
    static constexpr std::int64_t kWindowUs = 300'000'000;
    static constexpr std::size_t kMinChanges = 3;
    // A gap between readings longer than this (a suspended machine, a clock set forward)
    // makes the rate start afresh: the time in the gap says nothing about the work.
    static constexpr std::int64_t kGapUs = 60'000'000;
    // Without a change for this long, or for three times the time one percent should
    // take, the work is taken as stalled.
    static constexpr std::int64_t kStallFloorUs = 120'000'000;

    // One poll: `percent` of the work `kind` on bay `bay` (0/1, or -1 when the record
    // names none). `kind` None: nothing is running. Percentages outside 0..100 are not
    // readings and are ignored. Returns the work that ended with this reading, if any.
    std::optional<FinishedWork> feed(std::int64_t timeUs, int percent, WorkKind kind, int bay);

    // The estimate as of the last reading.
    TimeLeftEstimate estimate() const { return shown_; }
    WorkKind kind() const { return kind_; }
    int bay() const { return bay_; }

    void reset();
    // Shows an estimate made elsewhere (a window that gets the service's estimate over
    // the bus rather than the readings).
    void adopt(WorkKind kind, const TimeLeftEstimate& e);

private:
    struct Change {
        std::int64_t t;
        int percent;
    };
    TimeLeftEstimate compute(std::int64_t now) const;
    void startWork(std::int64_t now, int percent, WorkKind kind, int bay);

    WorkKind kind_ = WorkKind::None;
    int bay_ = -1;
    int percent_ = -1;
    std::int64_t started_ = 0;
    int firstPercent_ = -1;
    std::int64_t lastSeen_ = 0;
    bool haveTime_ = false;
    std::deque<Change> changes_;
    TimeLeftEstimate shown_;
    std::int64_t shownAt_ = 0;
};

// "about 2 h 10 min left (35 %/h)", "time left unknown"; "" when nothing runs.
std::string timeLeftText(const TimeLeftEstimate& e, WorkKind kind);
// "2 h 10 min", "45 min", "under 1 min"; "3 d 4 h" from two days on; "over 99 d".
inline constexpr int kLongestShownDays = 100;
std::string durationText(double seconds);
// "35", "2.5", "0.04": whole percents from 10 %/h on, hundredths below 1 %/h.
std::string rateText(double percentPerHour);

}  // namespace raid

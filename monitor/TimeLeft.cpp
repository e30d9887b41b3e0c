#include "monitor/TimeLeft.h"

#include <algorithm>
#include <cmath>
#include <charconv>

namespace raid {

namespace {
// Far more than the window ever needs; a bound on memory whatever the input.
constexpr std::size_t kMaxChanges = 512;
}  // namespace

void TimeLeft::reset() {
    *this = TimeLeft{};
}

void TimeLeft::adopt(WorkKind kind, const TimeLeftEstimate& e) {
    reset();
    kind_ = kind;
    if (kind != WorkKind::None) shown_ = e;
}

void TimeLeft::startWork(std::int64_t now, int percent, WorkKind kind, int bay) {
    kind_ = kind;
    bay_ = bay;
    percent_ = percent;
    firstPercent_ = percent;
    started_ = now;
    changes_.clear();
    shown_ = {};
    shownAt_ = now;
}

std::optional<FinishedWork> TimeLeft::feed(std::int64_t now, int percent, WorkKind kind, int bay) {
    if (kind != WorkKind::None && (percent < 0 || percent > 100))
        return std::nullopt;
    std::optional<FinishedWork> finished;
    if (haveTime_ && now < lastSeen_) {
        // The clock went back: the change moments are on another time line now. The
        // work's length so far is kept; its rate is measured afresh.
        started_ = now - (lastSeen_ - started_);
        changes_.clear();
        shown_ = {};
    } else if (haveTime_ && now - lastSeen_ > kGapUs) {
        changes_.clear();
        shown_ = {};
    }
    haveTime_ = true;

    if (kind_ != WorkKind::None && (kind != kind_ || bay != bay_)) {
        FinishedWork f;
        f.kind = kind_;
        f.bay = bay_;
        f.seconds = static_cast<double>(now - started_) / 1e6;
        f.complete = percent_ >= 99;
        f.seenFromStart = firstPercent_ >= 0 && firstPercent_ <= 1;
        finished = f;
        kind_ = WorkKind::None;
    }
    if (kind == WorkKind::None) {
        startWork(now, -1, WorkKind::None, -1);
        lastSeen_ = now;
        return finished;
    }
    if (kind_ == WorkKind::None) {
        startWork(now, percent, kind, bay);
    } else if (percent < percent_) {
        // Restarted from a lower point: what was measured belongs to the earlier run.
        startWork(now, percent, kind, bay);
    } else if (percent > percent_) {
        changes_.push_back({now, percent});
        while (changes_.size() > kMinChanges && changes_.front().t < now - kWindowUs)
            changes_.pop_front();
        while (changes_.size() > kMaxChanges)
            changes_.pop_front();
        percent_ = percent;
    }
    lastSeen_ = now;

    TimeLeftEstimate next = compute(now);
    if (next.known && shown_.known) {
        // Noise in the change moments moves the rate a little both ways; let the time
        // left grow by at most one percent's worth per reading, so a real slow-down
        // still shows within a few readings while jitter does not make it jump back.
        const double step = 3600.0 / next.percentPerHour;
        const double elapsed = static_cast<double>(now - shownAt_) / 1e6;
        const double ceiling = std::max(0.0, shown_.secondsLeft - elapsed) + step;
        next.secondsLeft = std::min(next.secondsLeft, ceiling);
    }
    shown_ = next;
    shownAt_ = now;
    return finished;
}

TimeLeftEstimate TimeLeft::compute(std::int64_t now) const {
    TimeLeftEstimate e;
    if (changes_.size() < 2)
        return e;
    const Change& first = changes_.front();
    const Change& last = changes_.back();
    const double dt = static_cast<double>(last.t - first.t);
    const double dp = last.percent - first.percent;
    if (dt <= 0 || dp <= 0)
        return e;
    const double perUs = dp / dt;
    const double sinceLast = static_cast<double>(now - last.t);
    const double stepUs = 1.0 / perUs;
    if (sinceLast > std::max(static_cast<double>(kStallFloorUs), 3 * stepUs))
        return e;
    // Between two changes the work is somewhere in the percent last reached.
    const double position = last.percent + std::min(perUs * sinceLast, 0.99);
    e.known = true;
    e.percentPerHour = perUs * 3.6e9;
    e.secondsLeft = std::max(0.0, (100.0 - position) / perUs / 1e6);
    return e;
}

std::string durationText(double seconds) {
    if (!(seconds >= 60))
        return "under 1 min";
    // Minutes say nothing on a rebuild of days, and a stalled-looking crawl may claim
    // years: days and hours from two days on, and no number past 99 days.
    if (seconds >= kLongestShownDays * 86400.0)
        return "over " + std::to_string(kLongestShownDays - 1) + " d";
    if (seconds >= 48 * 3600.0) {
        const long long hours = std::llround(seconds / 3600);
        return std::to_string(hours / 24) + " d " + std::to_string(hours % 24) + " h";
    }
    const long long minutes = std::llround(seconds / 60);
    const long long h = minutes / 60;
    const long long m = minutes % 60;
    if (h == 0)
        return std::to_string(m) + " min";
    return std::to_string(h) + " h " + std::to_string(m) + " min";
}

std::string rateText(double percentPerHour) {
    // to_chars, not printf: the text goes into JSON too, and a window's locale may
    // write a decimal comma.
    char rate[32];
    const double r = std::clamp(percentPerHour, 0.0, 1e9);
    const auto res = std::to_chars(rate, rate + sizeof rate, r, std::chars_format::fixed, r >= 10 ? 0 : r >= 1 ? 1 : 2);
    return std::string(rate, res.ptr);
}

std::string timeLeftText(const TimeLeftEstimate& e, WorkKind kind) {
    if (kind == WorkKind::None)
        return "";
    if (!e.known)
        return "time left unknown";
    if (e.secondsLeft >= kLongestShownDays * 86400.0)
        return durationText(e.secondsLeft) + " left (" + rateText(e.percentPerHour) + " %/h)";
    return "about " + durationText(e.secondsLeft) + " left (" + rateText(e.percentPerHour) + " %/h)";
}

}  // namespace raid

#include "monitor/EventLog.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>

#include "monitor/TimeFormat.h"

namespace raid {
namespace {

std::string serialize(const std::vector<std::string>& lines, std::size_t from) {
    std::size_t total = 0;
    for (std::size_t i = from; i < lines.size(); ++i) total += lines[i].size() + 2;
    std::string out;
    out.reserve(total);
    for (std::size_t i = from; i < lines.size(); ++i) {
        out += lines[i];
        out += "\r\n";
    }
    return out;
}

}  // namespace

EventLog::EventLog(FileStore& store, std::string folder, std::string fallbackFolder, std::string appTitle,
                   Notice notice)
    : store_(store),
      folder_(std::move(folder)),
      fallbackFolder_(std::move(fallbackFolder)),
      appTitle_(std::move(appTitle)),
      notice_(std::move(notice)) {}

std::vector<std::string> EventLog::splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

std::string EventLog::pathIn(const std::string& folder, const Day& day) const {
    return (std::filesystem::path(folder) / (day.name + ".log")).string();
}

std::string EventLog::currentPath() const {
    return pathIn(inFallback_ ? fallbackFolder_ : folder_, current_);
}

bool EventLog::persisted(const Day& day) const {
    const auto full = [&](const Sink& s) { return s.known && s.lines == day.lines.size(); };
    return full(day.primary) || full(day.fallback);
}

bool EventLog::hasUnsavedLines() const {
    return !backlog_.empty() || (!current_.lines.empty() && !persisted(current_));
}

void EventLog::tell(const std::string& text) {
    if (notice_) notice_(text);
}

void EventLog::startDay(const std::string& name) {
    if (current_.name == name) return;
    // A day whose lines never reached a disk waits in the backlog; it is not dropped
    // just because the date moved on.
    if (!current_.lines.empty() && !persisted(current_)) backlog_.push_back(std::move(current_));
    current_ = Day{};
    current_.name = name;
    // The clock may come back to a day we still hold (a clock set back): continue it.
    auto held = std::find_if(backlog_.begin(), backlog_.end(), [&](const Day& d) { return d.name == name; });
    if (held != backlog_.end()) {
        current_ = std::move(*held);
        backlog_.erase(held);
    }
}

void EventLog::loadDay() {
    struct Candidate {
        std::string path;
        Sink* sink;
        std::uint64_t size;
    };
    std::vector<Candidate> candidates;
    const std::string primaryPath = pathIn(folder_, current_);
    if (store_.exists(primaryPath)) {
        candidates.push_back({primaryPath, &current_.primary, store_.size(primaryPath).value_or(0)});
    }
    if (!fallbackFolder_.empty()) {
        const std::string fallbackPath = pathIn(fallbackFolder_, current_);
        if (store_.exists(fallbackPath)) {
            candidates.push_back({fallbackPath, &current_.fallback, store_.size(fallbackPath).value_or(0)});
        }
    }
    // Both copies are prefixes of the same day, so the longer one holds everything.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.size > b.size; });
    for (const Candidate& c : candidates) {
        const auto raw = store_.readAll(c.path);
        if (!raw) {
            // Writing over a file we could not read would throw its lines away.
            c.sink->blocked = true;
            continue;
        }
        current_.lines = splitLines(*raw);
        // Only a file in our own form (every line CR LF) can simply be appended to;
        // anything else is rewritten whole at the first save.
        c.sink->known = serialize(current_.lines, 0) == *raw;
        c.sink->lines = current_.lines.size();
        c.sink->bytes = raw->size();
        return;
    }
}

bool EventLog::prepareForPass(double wallSeconds, bool firstPass) {
    reseed_ = false;
    ts_ = formatDateTimeC(wallSeconds);
    startDay(formatYymmdd(wallSeconds));

    bool infoDue = false;
    const bool exists = store_.exists(pathIn(folder_, current_)) ||
                        (!fallbackFolder_.empty() && store_.exists(pathIn(fallbackFolder_, current_)));
    if (exists) {
        if (current_.lines.empty()) loadDay();
    } else if (current_.lines.empty() || persisted(current_)) {
        // A new day (or a fresh folder). Lines that never reached a disk are not a
        // reason to start over: they are kept and written by the next save.
        current_.lines.clear();
        current_.primary = Sink{};
        current_.fallback = Sink{};
        if (!firstPass) addLine(ruleLine());
        infoDue = true;
    }

    if (firstPass) {
        addLine(ruleLine());
        addLine(appTitle_ + " has started from " + ts_);
        infoDue = true;
        reseed_ = true;
    } else if (deviceListChanged_) {
        addLine(ruleLine());
        for (const std::string& p : pending_) addLine(p + ts_);
        pending_.clear();
        deviceListChanged_ = false;
        infoDue = true;
        reseed_ = true;
    }
    return infoDue;
}

void EventLog::addLine(std::string line) { current_.lines.push_back(std::move(line)); }

bool EventLog::save() {
    bool ok = true;
    for (auto it = backlog_.begin(); it != backlog_.end();) {
        if (saveDay(*it)) {
            it = backlog_.erase(it);
        } else {
            ok = false;
            ++it;
        }
    }
    if (!saveDay(current_)) ok = false;
    return ok;
}

bool EventLog::saveDay(Day& day) {
    if (persisted(day)) return true;

    if (!inFallback_) {
        if (!day.primary.blocked && writeTo(folder_, day, day.primary)) return true;
        enterFallback(day);
    } else if (!day.primary.blocked) {
        if (retrySkip_ > 0) {
            --retrySkip_;
        } else if (store_.folderWritable(folder_)) {
            if (writeTo(folder_, day, day.primary)) {
                leaveFallback();
                return true;
            }
            retryGap_ = std::min(retryGap_ * 2, 64);
            retrySkip_ = retryGap_;
        }
    }

    if (!fallbackFolder_.empty() && !day.fallback.blocked && writeTo(fallbackFolder_, day, day.fallback)) {
        memoryOnlyNoticed_ = false;
        return true;
    }
    if (!memoryOnlyNoticed_ && !fallbackFolder_.empty()) {
        memoryOnlyNoticed_ = true;
        tell("Event log cannot be written, keeping events in memory");
    }
    return false;
}

bool EventLog::writeTo(const std::string& folder, Day& day, Sink& sink) {
    const std::string path = pathIn(folder, day);
    const std::size_t n = day.lines.size();
    if (sink.known && sink.lines <= n) {
        // The file is ours only if it is still exactly as long as we left it.
        const auto size = store_.size(path);
        if (size && *size == sink.bytes) {
            if (sink.lines == n) return true;
            const std::string data = serialize(day.lines, sink.lines);
            if (store_.append(path, data)) {
                sink.lines = n;
                sink.bytes += data.size();
                return true;
            }
            // The size check of the next attempt tells whether the append left a tail.
            return false;
        }
    }
    const std::string data = serialize(day.lines, 0);
    if (store_.replace(path, data)) {
        sink.known = true;
        sink.lines = n;
        sink.bytes = data.size();
        return true;
    }
    sink.known = false;
    return false;
}

void EventLog::enterFallback(const Day& day) {
    inFallback_ = true;
    retrySkip_ = 0;
    retryGap_ = 1;
    if (fallbackFolder_.empty()) {
        tell("Log folder cannot be written, keeping events in memory");
    } else if (day.primary.blocked) {
        tell("Log file cannot be read, writing to " + fallbackFolder_);
    } else {
        tell("Log folder cannot be written, writing to " + fallbackFolder_);
    }
}

void EventLog::leaveFallback() {
    inFallback_ = false;
    memoryOnlyNoticed_ = false;
    tell("Log folder is writable again, writing to " + folder_);
}

}  // namespace raid

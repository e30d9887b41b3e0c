#include "monitor/EventLog.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "monitor/DayLogMerge.h"
#include "monitor/TimeFormat.h"
#include "platform/Fnv1a.h"
#include "platform/Paths.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

// A day file that cannot be used is skipped for the next name beside it; this many
// are tried before the folder is given up for the day.
constexpr int kSideFiles = 9;
// Fallback subfolders tried when markers of other folders stand in the way.
constexpr int kFallbackChoices = 4;

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

std::string join(const std::string& folder, const std::string& name) { return paths::join(folder, name); }

// The folder as the store is asked about it: "" is the current folder.
std::string orCurrent(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

std::string dayFileName(const std::string& day, int k) {
    return k == 0 ? day + ".log" : day + "-" + std::to_string(k) + ".log";
}

bool isPrefix(const std::vector<std::string>& shorter, const std::vector<std::string>& longer) {
    return shorter.size() <= longer.size() && std::equal(shorter.begin(), shorter.end(), longer.begin());
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

std::string EventLog::absoluteFolder(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    if (ec) p = fs::path(folder.empty() ? "." : folder);
    p = p.lexically_normal();
    return paths::withoutTrailingSeparators(p.string());
}

std::string EventLog::fallbackSubfolder(const std::string& fallbackRoot, const std::string& folder) {
    const std::string full = absoluteFolder(folder);
    const std::uint64_t hash = fnv1a(full);
    std::string name;
    for (const char c : fs::path(full).filename().string()) {
        if (name.size() == 40) break;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || (c == '.' && !name.empty());
        name += plain ? c : '_';
    }
    if (name.empty()) name = "root";
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return join(fallbackRoot, name + "-" + hex);
}

std::string EventLog::currentPath() const {
    if (inFallback_) return join(fallbackDayFolder(), current_.fallback.file);
    return join(folder_, current_.primary.file);
}

bool EventLog::persisted(const Day& day) const {
    const auto full = [&](const Sink& s) { return s.known && s.lines == day.lines.size(); };
    return full(day.primary) || full(day.fallback);
}

bool EventLog::hasUnsavedLines() const {
    return !backlog_.empty() || (!current_.lines.empty() && !persisted(current_));
}

std::size_t EventLog::unsavedLines() const {
    // A copy we know holds the day's first `lines` lines; the rest is only here.
    const auto missing = [](const Day& day) {
        std::size_t kept = 0;
        for (const Sink* sink : {&day.primary, &day.fallback})
            if (sink->known) kept = std::max(kept, sink->lines);
        return day.lines.size() > kept ? day.lines.size() - kept : 0;
    };
    std::size_t n = missing(current_);
    for (const Day& day : backlog_) n += missing(day);
    return n;
}

std::string EventLog::saveAtExit() {
    if (!hasUnsavedLines()) return {};
    // No later save will come: the back-off of the log folder's retries is over.
    retrySkip_ = 0;
    if (save()) return {};
    const std::size_t lost = unsavedLines();
    if (lost == 0) return {};
    const std::string mine = absoluteFolder(folder_);
    const std::string spare = fallbackDir_ ? *fallbackDir_ : fallbackFolder_;
    return std::to_string(lost) + (lost == 1 ? " event line" : " event lines") + " could not be saved: " +
           (spare.empty() ? mine + " cannot be written and there is no fallback folder"
                          : "neither " + mine + " nor " + spare + " can be written");
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

const std::optional<std::string>& EventLog::fallbackDir() {
    if (fallbackLookedFor_) return fallbackDir_;
    fallbackLookedFor_ = true;
    if (fallbackFolder_.empty()) return fallbackDir_;
    const std::string full = absoluteFolder(folder_);
    const std::string first = fallbackSubfolder(fallbackFolder_, folder_);
    for (int k = 0; k < kFallbackChoices; ++k) {
        const std::string dir = k == 0 ? first : first + "-" + std::to_string(k);
        BoundedRead marker = store_.readBounded(join(dir, kFolderMarker), 64 * 1024);
        if (marker.status == ReadStatus::missing) {
            // Nobody's yet: ours, once the marker is written before the first day file.
            fallbackDir_ = dir;
            markerDue_ = true;
            return fallbackDir_;
        }
        if (marker.status == ReadStatus::ok) {
            // The folder's path and one line end (LF, or CR LF after an edit elsewhere).
            std::string& named = marker.text;
            if (!named.empty() && named.back() == '\n') named.pop_back();
            if (!named.empty() && named.back() == '\r') named.pop_back();
            if (named == full) {
                fallbackDir_ = dir;
                return fallbackDir_;
            }
        }
        // Another folder's copies, or a marker we cannot read: not ours to touch.
    }
    return fallbackDir_;
}

std::optional<std::string> EventLog::chooseFile(const std::string& folder, const Day& day, Sink& sink) {
    for (int k = 0; k <= kSideFiles; ++k) {
        const std::string name = dayFileName(day.name, k);
        const std::string path = join(folder, name);
        BoundedRead r = store_.readBounded(path, kMaxReadBack);
        switch (r.status) {
            case ReadStatus::missing:
                sink.file = name;
                return std::nullopt;
            case ReadStatus::ok:
                sink.file = name;
                return std::move(r.text);
            case ReadStatus::unreadable:
                // Writing over a file we could not read would throw its lines away.
                sink.file = name;
                sink.blocked = true;
                return std::nullopt;
            case ReadStatus::notRegular:
            case ReadStatus::tooLarge:
                break;
        }
        // A FIFO would block us, a device would feed us endless data, a huge file would
        // fill the memory: leave it be and go on beside it.
        if (k == kSideFiles) break;
        if (skippedNoticed_.insert(path).second) {
            tell("Log file " + path +
                 (r.status == ReadStatus::notRegular ? " is not a regular file" : " is too large") +
                 ", writing to " + join(folder, dayFileName(day.name, k + 1)));
        }
    }
    sink.file.clear();
    sink.blocked = true;
    return std::nullopt;
}

void EventLog::openDay(Day& day) {
    day.opened = true;
    const std::optional<std::string> mine = chooseFile(folder_, day, day.primary);
    std::optional<std::string> spare;
    if (const auto& dir = fallbackDir()) spare = chooseFile(*dir, day, day.fallback);
    if (!day.lines.empty() || (!mine && !spare)) return;

    const std::vector<std::string> a = mine ? splitLines(*mine) : std::vector<std::string>{};
    const std::vector<std::string> b = spare ? splitLines(*spare) : std::vector<std::string>{};
    day.lines = mergeDayCopies(a, b);
    // A copy can simply be appended to when it holds the start of the day in our own
    // form (every line CR LF); anything else is rewritten whole at its next save.
    const auto take = [&](Sink& sink, const std::optional<std::string>& raw, const std::vector<std::string>& own) {
        if (!raw) return;
        sink.known = isPrefix(own, day.lines) && serialize(own, 0) == *raw;
        sink.lines = own.size();
        sink.bytes = raw->size();
    };
    take(day.primary, mine, a);
    take(day.fallback, spare, b);
}

bool EventLog::dayFileExists(const Day& day) {
    if (!day.primary.file.empty() && store_.exists(join(folder_, day.primary.file))) return true;
    const auto& dir = fallbackDir();
    return dir && !day.fallback.file.empty() && store_.exists(join(*dir, day.fallback.file));
}

bool EventLog::prepareForPass(double wallSeconds, bool firstPass) {
    reseed_ = false;
    ts_ = formatDateTimeC(wallSeconds);
    startDay(formatYymmdd(wallSeconds));
    // The first pass of a day picks the day's files and loads what they hold.
    if (!current_.opened) openDay(current_);

    bool infoDue = false;
    if (!dayFileExists(current_) && (current_.lines.empty() || persisted(current_))) {
        // A new day (or a fresh folder, or the file was deleted). Lines that never
        // reached a disk are not a reason to start over: they are kept and written by
        // the next save.
        current_.lines.clear();
        current_.primary = Sink{current_.primary.file, false, current_.primary.blocked, 0, 0};
        current_.fallback = Sink{current_.fallback.file, false, current_.fallback.blocked, 0, 0};
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

    const bool primaryUsable = !day.primary.blocked && !day.primary.file.empty();
    if (!inFallback_) {
        if (primaryUsable && writeTo(folder_, day, day.primary)) return true;
        enterFallback(day);
    } else if (primaryUsable) {
        if (retrySkip_ > 0) {
            --retrySkip_;
        } else if (store_.makeFolder(orCurrent(folder_)) && store_.folderWritable(orCurrent(folder_))) {
            // A log folder that was missing and could not be made at first (its parent
            // came later) is made now.
            if (writeTo(folder_, day, day.primary)) {
                leaveFallback();
                return true;
            }
            retryGap_ = std::min(retryGap_ * 2, 64);
            retrySkip_ = retryGap_;
        }
    }

    if (writeFallback(day)) {
        memoryOnlyNoticed_ = false;
        return true;
    }
    if (!memoryOnlyNoticed_ && fallbackDir()) {
        memoryOnlyNoticed_ = true;
        tell("Event log cannot be written, keeping events in memory");
    }
    return false;
}

bool EventLog::writeFallback(Day& day) {
    const auto& dir = fallbackDir();
    if (!dir || day.fallback.blocked || day.fallback.file.empty()) return false;
    if (!store_.makeFolder(*dir)) return false;
    if (markerDue_) {
        // The marker goes first: a day file never stands in a subfolder that does not
        // say which log folder it belongs to.
        if (!store_.replace(join(*dir, kFolderMarker), absoluteFolder(folder_) + "\n")) return false;
        markerDue_ = false;
    }
    return writeTo(*dir, day, day.fallback);
}

bool EventLog::writeTo(const std::string& folder, Day& day, Sink& sink) {
    const std::string path = join(folder, sink.file);
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
    // The folder is made here, by the log's own rules (never through a planted link),
    // rather than left to the store's writing of the file.
    if (store_.makeFolder(orCurrent(folder)) && store_.replace(path, data)) {
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
    const std::string dir = fallbackDir().value_or(std::string());
    if (dir.empty()) {
        tell("Log folder cannot be written, keeping events in memory");
    } else if (day.primary.blocked) {
        tell("Log file cannot be read, writing to " + dir);
    } else {
        tell("Log folder cannot be written, writing to " + dir);
    }
}

void EventLog::leaveFallback() {
    inFallback_ = false;
    memoryOnlyNoticed_ = false;
    tell("Log folder is writable again, writing to " + folder_);
}

}  // namespace raid

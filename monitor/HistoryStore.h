// The history of the enclosures on disk: one sample a minute per enclosure, kept for a
// bounded number of days in a folder of its own beside the day logs.
//
// Layout: one file per enclosure and UTC day, "<name>-<hash>-<yyyymmdd>.rgh", where
// <name> is the enclosure's key cut down to letters and digits (for people listing the
// folder) and <hash> a hash of the whole key (so no device text ever reaches a path: no
// separator, no "..", no control character). A file is a fixed header (magic, version,
// its day, the key and the label) and then fixed-size records appended one a minute,
// each with its own CRC. So:
//  * a power cut loses at most the record being appended: every earlier one is whole;
//  * a torn or damaged tail is found on load, cut (the file rewritten with the whole
//    records before it) and reported, never fatal;
//  * a file that is not one of ours (bad header, too long for a day, a FIFO, a link)
//    is refused with a report and never read past its bound or written through;
//  * the disk use is bounded: files older than the bound in days are removed when a
//    new day starts, so the folder holds at most `days` files per enclosure.
// Files are made exclusively and appended without following links, through the file
// store port (platform/FileStore.h), so the service writes them as safely as its day
// logs and the Windows program in the folder beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/HistorySample.h"
#include "platform/FileStore.h"

namespace raid {

// What was found in the bytes of one history file.
struct HistoryFile {
    enum class Status { ok, notHistory } status = Status::notHistory;
    std::string key, label;
    std::int64_t day = 0;           // UTC seconds of the day's start
    std::vector<HistorySample> samples;
    std::size_t wholeBytes = 0;     // header and the whole, valid records before any damage
    std::size_t droppedBytes = 0;   // what follows them (a torn or damaged tail)
    std::string why;                // for notHistory: what is wrong, for people
};

// Parses a history file's bytes; never reads past `bytes`.
HistoryFile parseHistoryFile(std::string_view bytes);

// UTC time of `seconds` as "2026-12-07 13:05" ("" outside years 0..9999).
std::string utcMinuteText(std::int64_t seconds);
ReadingStats temperatureStats(const std::vector<HistorySample>& samples, std::int64_t fromMinute);
ReadingStats fanSpeedStats(const std::vector<HistorySample>& samples, std::int64_t fromMinute);

// Fills series.fanAlarmAt / temperatureAlarmAt from its samples: at each minute an
// alarm bit rises (set, and clear in the sample before it), the reading of that
// minute; the lowest such fan speed and the highest such temperature.
void markAlarmReadings(HistorySeries& series);

class HistoryStore {
public:
    using Report = std::function<void(const std::string& text)>;

    static constexpr int kDefaultDays = 90;
    static constexpr int kMaxDays = 3660;
    static constexpr std::size_t kHeaderBytes = 256;
    static constexpr std::size_t kRecordBytes = 24;
    static constexpr std::size_t kMaxKeyBytes = 112;
    // A day file holds at most one record a minute.
    static constexpr std::size_t kMaxFileBytes = kHeaderBytes + 1440 * kRecordBytes;
    static constexpr const char* kFolderName = "history";

    // `folder`: the history folder (see folderIn). `days`: how many days are kept
    // (clamped to 1..kMaxDays). `report` gets what was found wrong, once per file and
    // kind, for the day log.
    HistoryStore(FileStore& files, std::string folder, int days = kDefaultDays, Report report = {});

    // The history folder in the log folder `logFolder`.
    static std::string folderIn(const std::string& logFolder);

    // Appends a sample of the enclosure `key`; a sample not later than the last one
    // kept for it is ignored. False when nothing was written (reported).
    bool add(const std::string& key, const std::string& label, const HistorySample& sample);

    // The samples of `key` from `fromMinute` on, oldest first, at most `maxSamples`
    // (the oldest ones). Only reads: a damaged file is read up to its damage, not cut.
    HistorySeries read(const std::string& key, std::int64_t fromMinute, std::size_t maxSamples = SIZE_MAX);

    // The enclosures that have files: key and label (from the newest file), by key.
    std::vector<std::pair<std::string, std::string>> enclosures();

    const std::string& folder() const { return folder_; }
    int days() const { return days_; }
    // The file of `key` for the UTC day starting at `day`.
    std::string pathOf(const std::string& key, std::int64_t day) const;
    // The stem of `key`'s file names: "<name>-<hash>".
    static std::string stemOf(const std::string& key);

private:
    struct Open {
        std::int64_t day = INT64_MIN;
        std::uint64_t bytes = 0;
        std::int64_t lastMinute = INT64_MIN;
        bool blocked = false;  // the day's file cannot be used: nothing written this day
    };
    struct Listed {
        std::string stem;
        std::int64_t day;
        std::string path;
    };
    std::vector<Listed> listed();
    bool openDay(const std::string& key, const std::string& label, std::int64_t day, Open& open);
    void prune(std::int64_t today);
    // Reads one file for reading only; nullopt when missing or refused (reported).
    std::optional<HistoryFile> load(const std::string& path);
    void tell(const std::string& path, const std::string& text);

    FileStore& files_;
    std::string folder_;
    int days_;
    Report report_;
    std::map<std::string, Open> open_;
    std::int64_t prunedFor_ = INT64_MIN;
    std::set<std::string> told_;
};

}  // namespace raid

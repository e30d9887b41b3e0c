#include "monitor/HistoryStore.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "platform/Fnv1a.h"
#include "platform/Paths.h"

namespace raid {

namespace {

constexpr char kMagic[8] = {'R', 'A', 'I', 'D', 'H', 'I', 'S', 'T'};
constexpr std::uint16_t kVersion = 1;
constexpr std::int64_t kDaySeconds = 86400;
constexpr const char* kSuffix = ".rgh";

std::uint32_t crc32(const std::uint8_t* data, std::size_t n) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// Little-endian whatever the machine: the files move between machines with the disks.
void put(std::uint8_t* at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t get(const std::uint8_t* at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return v;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
std::int64_t dayOf(std::int64_t seconds) { return floorDiv(seconds, kDaySeconds) * kDaySeconds; }

// yyyymmdd of a day (days since 1970-01-01 to the civil date, proleptic Gregorian).
std::string dateName(std::int64_t dayStart) {
    std::int64_t z = floorDiv(dayStart, kDaySeconds) + 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    if (y < 0 || y > 9999) return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
    return buf;
}

// The day of a yyyymmdd name; nullopt for anything else.
std::optional<std::int64_t> dayOfName(std::string_view s) {
    if (s.size() != 8 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    const int y = std::stoi(std::string(s.substr(0, 4)));
    const unsigned m = static_cast<unsigned>(std::stoi(std::string(s.substr(4, 2))));
    const unsigned d = static_cast<unsigned>(std::stoi(std::string(s.substr(6, 2))));
    if (m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    const int yy = y - (m <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(yy - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
    const std::int64_t start = days * kDaySeconds;
    if (dateName(start) != s) return std::nullopt;  // 20260231 and the like
    return start;
}

std::string cut(const std::string& s, std::size_t n) { return s.size() <= n ? s : s.substr(0, n); }

std::string header(const std::string& key, const std::string& label, std::int64_t day) {
    std::array<std::uint8_t, HistoryStore::kHeaderBytes> h{};
    std::memcpy(h.data(), kMagic, 8);
    const std::string k = cut(key, HistoryStore::kMaxKeyBytes), l = cut(label, HistoryStore::kMaxKeyBytes);
    put(&h[8], kVersion, 2);
    put(&h[10], HistoryStore::kRecordBytes, 2);
    put(&h[12], k.size(), 2);
    put(&h[14], l.size(), 2);
    put(&h[16], static_cast<std::uint64_t>(day), 8);
    std::memcpy(&h[24], k.data(), k.size());
    std::memcpy(&h[24 + HistoryStore::kMaxKeyBytes], l.data(), l.size());
    put(&h[252], crc32(h.data(), 252), 4);
    return std::string(reinterpret_cast<const char*>(h.data()), h.size());
}

std::string record(const HistorySample& s) {
    std::array<std::uint8_t, HistoryStore::kRecordBytes> r{};
    put(&r[0], static_cast<std::uint64_t>(s.minute), 8);
    put(&r[8], static_cast<std::uint32_t>(s.fanSpeed), 4);
    put(&r[12], static_cast<std::uint16_t>(s.temperature), 2);
    r[14] = s.alarms;
    r[15] = s.driveFlags;
    r[16] = static_cast<std::uint8_t>(s.activity);
    r[17] = s.percent;
    put(&r[20], crc32(r.data(), 20), 4);
    return std::string(reinterpret_cast<const char*>(r.data()), r.size());
}

}  // namespace

std::string utcMinuteText(std::int64_t seconds) {
    const std::int64_t day = dayOf(seconds);
    const std::string date = dateName(day);
    if (date.empty()) return {};
    const std::int64_t into = seconds - day;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s-%s-%s %02d:%02d", date.substr(0, 4).c_str(), date.substr(4, 2).c_str(),
                  date.substr(6, 2).c_str(), static_cast<int>(into / 3600), static_cast<int>(into / 60 % 60));
    return buf;
}

HistoryFile parseHistoryFile(std::string_view bytes) {
    HistoryFile f;
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (bytes.size() < HistoryStore::kHeaderBytes) {
        f.why = "shorter than a header";
        return f;
    }
    if (bytes.size() > HistoryStore::kMaxFileBytes) {
        f.why = "longer than a day of samples";
        return f;
    }
    const std::size_t keyLen = get(b + 12, 2), labelLen = get(b + 14, 2);
    if (std::memcmp(b, kMagic, 8) != 0 || get(b + 252, 4) != crc32(b, 252)) {
        f.why = "not a history file";
        return f;
    }
    if (get(b + 8, 2) != kVersion || get(b + 10, 2) != HistoryStore::kRecordBytes ||
        keyLen > HistoryStore::kMaxKeyBytes || labelLen > HistoryStore::kMaxKeyBytes) {
        f.why = "a history file of another version";
        return f;
    }
    f.day = static_cast<std::int64_t>(get(b + 16, 8));
    if (f.day % kDaySeconds != 0) {
        f.why = "not a history file";
        return f;
    }
    f.key.assign(bytes.data() + 24, keyLen);
    f.label.assign(bytes.data() + 24 + HistoryStore::kMaxKeyBytes, labelLen);
    f.status = HistoryFile::Status::ok;
    std::size_t at = HistoryStore::kHeaderBytes;
    std::int64_t last = f.day - 60;
    for (; at + HistoryStore::kRecordBytes <= bytes.size(); at += HistoryStore::kRecordBytes) {
        const std::uint8_t* r = b + at;
        if (get(r + 20, 4) != crc32(r, 20) || get(r + 18, 2) != 0) break;
        HistorySample s;
        s.minute = static_cast<std::int64_t>(get(r, 8));
        s.fanSpeed = static_cast<std::int32_t>(static_cast<std::uint32_t>(get(r + 8, 4)));
        s.temperature = static_cast<std::int16_t>(static_cast<std::uint16_t>(get(r + 12, 2)));
        s.alarms = r[14];
        s.driveFlags = r[15];
        // A record that is whole but cannot be one we wrote ends the good part too.
        if (s.minute <= last || s.minute >= f.day + kDaySeconds || s.minute % 60 != 0 || r[16] > 3 || r[17] > 100)
            break;
        s.activity = static_cast<HistoryActivity>(r[16]);
        s.percent = r[17];
        f.samples.push_back(s);
        last = s.minute;
    }
    f.wholeBytes = at;
    f.droppedBytes = bytes.size() - at;
    return f;
}

namespace {
template <class Get>
ReadingStats stats(const std::vector<HistorySample>& samples, std::int64_t from, Get reading) {
    ReadingStats st;
    double sum = 0;
    for (const HistorySample& s : samples) {
        if (s.minute < from) continue;
        const std::optional<double> v = reading(s);
        if (!v) continue;
        if (st.count == 0 || *v < st.min) st.min = *v;
        if (st.count == 0 || *v > st.max) st.max = *v;
        sum += *v;
        ++st.count;
    }
    if (st.count) st.mean = sum / static_cast<double>(st.count);
    return st;
}
}  // namespace

ReadingStats temperatureStats(const std::vector<HistorySample>& samples, std::int64_t fromMinute) {
    return stats(samples, fromMinute, [](const HistorySample& s) -> std::optional<double> {
        if (s.temperature == kNoTemperature) return std::nullopt;
        return s.temperature;
    });
}

ReadingStats fanSpeedStats(const std::vector<HistorySample>& samples, std::int64_t fromMinute) {
    return stats(samples, fromMinute, [](const HistorySample& s) -> std::optional<double> {
        if (s.fanSpeed == kNoFanSpeed) return std::nullopt;
        return s.fanSpeed;
    });
}

void markAlarmReadings(HistorySeries& series) {
    series.fanAlarmAt = kNoFanSpeed;
    series.temperatureAlarmAt = kNoTemperature;
    // The first sample has no sample before it: an alarm already on then rose earlier,
    // at a reading the series does not hold.
    std::uint8_t before = series.samples.empty() ? 0 : series.samples.front().alarms;
    for (const HistorySample& s : series.samples) {
        const std::uint8_t rose = static_cast<std::uint8_t>(s.alarms & ~before);
        if ((rose & 0x01) && s.fanSpeed != kNoFanSpeed &&
            (series.fanAlarmAt == kNoFanSpeed || s.fanSpeed < series.fanAlarmAt))
            series.fanAlarmAt = s.fanSpeed;
        if ((rose & 0x04) && s.temperature != kNoTemperature &&
            (series.temperatureAlarmAt == kNoTemperature || s.temperature > series.temperatureAlarmAt))
            series.temperatureAlarmAt = s.temperature;
        before = s.alarms;
    }
}

HistoryStore::HistoryStore(FileStore& files, std::string folder, int days, Report report)
    : files_(files), folder_(std::move(folder)), days_(std::clamp(days, 1, kMaxDays)), report_(std::move(report)) {}

std::string HistoryStore::folderIn(const std::string& logFolder) { return paths::join(logFolder, kFolderName); }

std::string HistoryStore::stemOf(const std::string& key) {
    std::string name;
    for (char c : key) {
        if (name.size() >= 32) break;
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (plain)
            name.push_back(c);
        else if (!name.empty() && name.back() != '_')
            name.push_back('_');
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
    return (name.empty() ? std::string("enclosure") : name) + "-" + hash;
}

std::string HistoryStore::pathOf(const std::string& key, std::int64_t day) const {
    return paths::join(folder_, stemOf(key) + "-" + dateName(day) + kSuffix);
}

void HistoryStore::tell(const std::string& path, const std::string& text) {
    if (!told_.insert(path + '\n' + text).second) return;
    if (report_) report_("History file " + paths::fileNameOf(path) + ": " + text);
}

std::vector<HistoryStore::Listed> HistoryStore::listed() {
    std::vector<Listed> out;
    const auto names = files_.listFolder(folder_);
    if (!names) return out;
    const std::string suffix = kSuffix;
    for (const std::string& n : *names) {
        // <stem>-<yyyymmdd>.rgh, the stem ending in "-" and 16 hex digits.
        if (n.size() < 1 + 17 + 9 + suffix.size() || n.compare(n.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string base = n.substr(0, n.size() - suffix.size());
        if (base[base.size() - 9] != '-') continue;
        const auto day = dayOfName(std::string_view(base).substr(base.size() - 8));
        if (!day) continue;
        out.push_back(Listed{base.substr(0, base.size() - 9), *day, paths::join(folder_, n)});
    }
    std::sort(out.begin(), out.end(), [](const Listed& a, const Listed& b) {
        return a.stem != b.stem ? a.stem < b.stem : a.day < b.day;
    });
    return out;
}

std::optional<HistoryFile> HistoryStore::load(const std::string& path) {
    // size() answers for a regular file only, never through a link: anything else at
    // the name (a link, a FIFO, a device, a folder) is left alone unread.
    const std::optional<std::uint64_t> size = files_.size(path);
    if (!size) {
        if (files_.exists(path)) tell(path, "not a regular file; left alone");
        return std::nullopt;
    }
    if (*size > kMaxFileBytes) {
        tell(path, "too large for a history file (" + std::to_string(*size) + " bytes); not read");
        return std::nullopt;
    }
    const BoundedRead r = files_.readBounded(path, kMaxFileBytes);
    if (r.status != ReadStatus::ok) {
        tell(path, r.status == ReadStatus::tooLarge ? "too large for a history file; not read" : "cannot be read");
        return std::nullopt;
    }
    HistoryFile f = parseHistoryFile(r.text);
    if (f.status != HistoryFile::Status::ok) {
        tell(path, f.why + "; not read");
        return std::nullopt;
    }
    return f;
}

bool HistoryStore::openDay(const std::string& key, const std::string& label, std::int64_t day, Open& open) {
    open = Open{};
    open.day = day;
    const std::string path = pathOf(key, day);
    if (!files_.makeFolder(folder_)) {
        tell(folder_, "the history folder cannot be made or written");
        open.blocked = true;
        return false;
    }
    prune(day);
    const std::optional<std::uint64_t> size = files_.size(path);
    if (!size) {
        if (files_.exists(path)) {
            tell(path, "not a regular file; no history is kept for this day");
            open.blocked = true;
            return false;
        }
        const std::string h = header(key, label, day);
        const CreateResult made = files_.createNew(path, h, 0644);
        if (made != CreateResult::created) {
            tell(path, made == CreateResult::exists ? "something else stands at its name; no history is kept for this day"
                                                    : "cannot be created");
            open.blocked = made == CreateResult::exists;
            return false;
        }
        open.bytes = h.size();
        return true;
    }
    BoundedRead r;
    if (*size <= kMaxFileBytes) r = files_.readBounded(path, kMaxFileBytes);
    HistoryFile f;
    if (r.status == ReadStatus::ok) f = parseHistoryFile(r.text);
    if (r.status != ReadStatus::ok || f.status != HistoryFile::Status::ok || f.day != day ||
        f.key != cut(key, kMaxKeyBytes)) {
        // Our own file under our own name that holds nothing usable: started afresh.
        const std::string why = *size > kMaxFileBytes                ? "too large for a history file"
                                : r.status != ReadStatus::ok          ? "unreadable"
                                : f.status != HistoryFile::Status::ok ? f.why
                                                                      : "written for another enclosure or day";
        const std::string h = header(key, label, day);
        if (!files_.replace(path, h)) {
            tell(path, why + "; it cannot be replaced, no history is kept for this day");
            open.blocked = true;
            return false;
        }
        tell(path, why + "; started afresh");
        open.bytes = h.size();
        return true;
    }
    if (f.droppedBytes > 0) {
        // A torn or damaged tail (a power cut in an append): the whole records stay.
        const std::string whole = r.text.substr(0, f.wholeBytes);
        const bool cutOk = files_.replace(path, whole);
        tell(path, "damaged after " + std::to_string(f.samples.size()) + " whole samples; " +
                       std::to_string(f.droppedBytes) + " bytes " + (cutOk ? "cut off" : "could not be cut off"));
        if (!cutOk) {
            open.blocked = true;
            return false;
        }
    }
    open.bytes = f.wholeBytes;
    if (!f.samples.empty()) open.lastMinute = f.samples.back().minute;
    return true;
}

void HistoryStore::prune(std::int64_t today) {
    if (today <= prunedFor_) return;
    prunedFor_ = today;
    const std::int64_t oldest = today - static_cast<std::int64_t>(days_ - 1) * kDaySeconds;
    for (const Listed& l : listed())
        if (l.day < oldest && !files_.remove(l.path)) tell(l.path, "older than " + std::to_string(days_) + " days but cannot be removed");
}

bool HistoryStore::add(const std::string& key, const std::string& label, const HistorySample& sample) {
    HistorySample s = sample;
    s.minute = floorDiv(s.minute, 60) * 60;
    s.percent = std::min<std::uint8_t>(s.percent, 100);
    if (static_cast<std::uint8_t>(s.activity) > 3) s.activity = HistoryActivity::Idle;
    const std::int64_t day = dayOf(s.minute);
    if (dateName(day).empty()) return false;
    Open& open = open_[key];
    if (open.day == day && open.blocked) return false;
    if (open.day == day) {
        // Someone else changed the file since our last append (or it went): read it
        // again, so that records are only ever appended after whole ones.
        const std::optional<std::uint64_t> now = files_.size(pathOf(key, day));
        if (!now || *now != open.bytes) open.day = INT64_MIN;
    }
    if (open.day != day && !openDay(key, label, day, open)) return false;
    if (s.minute <= open.lastMinute) return false;
    const std::string path = pathOf(key, day);
    if (!files_.append(path, record(s))) {
        tell(path, "a sample cannot be written");
        open.day = INT64_MIN;  // read again before the next one
        return false;
    }
    open.bytes += kRecordBytes;
    open.lastMinute = s.minute;
    return true;
}

HistorySeries HistoryStore::read(const std::string& key, std::int64_t fromMinute, std::size_t maxSamples) {
    HistorySeries series;
    series.key = key;
    const std::string stem = stemOf(key);
    const std::int64_t fromDay = dayOf(fromMinute);
    for (const Listed& l : listed()) {
        if (l.stem != stem || l.day < fromDay) continue;
        const std::optional<HistoryFile> f = load(l.path);
        if (!f || f->key != cut(key, kMaxKeyBytes) || f->day != l.day) continue;
        series.label = f->label;
        for (const HistorySample& s : f->samples) {
            if (s.minute < fromMinute) continue;
            if (series.samples.size() >= maxSamples) break;
            series.samples.push_back(s);
        }
    }
    markAlarmReadings(series);
    return series;
}

std::vector<std::pair<std::string, std::string>> HistoryStore::enclosures() {
    std::map<std::string, std::pair<std::string, std::string>> byStem;
    const std::vector<Listed> all = listed();
    // Newest last in the listing: the newest readable header names the enclosure.
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (byStem.count(it->stem)) continue;
        const std::optional<HistoryFile> f = load(it->path);
        if (!f || stemOf(f->key) != it->stem) continue;
        byStem[it->stem] = {f->key, f->label};
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (auto& [stem, kl] : byStem) out.push_back(kl);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace raid

// The day file read-back: arbitrary bytes as the log folder's copy and as the fallback
// copy of one day, through an in-memory store. Whatever they hold, the loaded day has
// every line of both and no more lines than both together, the next save leaves the
// log folder's copy holding exactly the day, and a second start on the same files
// loads the same day (no line doubles from one start to the next).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "monitor/EventLog.h"
#include "monitor/MemoryFileStore.h"

namespace {

double noonOfTheDay() {
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 7;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return static_cast<double>(std::mktime(&tm));
}

std::string crlf(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

[[noreturn]] void fail(const char* what, const std::vector<std::string>& lines) {
    std::fprintf(stderr, "%s\n", what);
    for (const auto& l : lines) std::fprintf(stderr, "  |%s|\n", l.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte says where the first copy ends and whether each copy is there.
    const std::size_t rest = size - 1;
    const std::size_t cut = rest * (data[0] & 0x3F) / 0x3F;
    const std::string a(reinterpret_cast<const char*>(data) + 1, cut);
    const std::string b(reinterpret_cast<const char*>(data) + 1 + cut, rest - cut);
    const bool havePrimary = (data[0] & 0x40) == 0;
    const bool haveFallback = (data[0] & 0x80) == 0;

    static const double t = noonOfTheDay();
    static const std::string sub = raid::EventLog::fallbackSubfolder("/state", "/logs");
    const std::string day = "/logs/" + [] {
        raid::testing::MemoryFileStore probe;
        raid::EventLog l(probe, "/logs", "", "T");
        l.prepareForPass(t, false);
        return l.dayName();
    }() + ".log";
    const std::string spare = sub + day.substr(5);

    raid::testing::MemoryFileStore store;
    store.files[sub + "/log-folder.txt"] = "/logs\n";
    if (havePrimary) store.files[day] = a;
    if (haveFallback) store.files[spare] = b;

    std::vector<std::string> loaded;
    {
        raid::EventLog log(store, "/logs", "/state", "T");
        log.prepareForPass(t, false);
        loaded = log.lines();
        const std::unordered_set<std::string> have(loaded.begin(), loaded.end());
        std::size_t inputs = 0;
        for (const std::string* copy : {havePrimary ? &a : nullptr, haveFallback ? &b : nullptr}) {
            if (copy == nullptr) continue;
            for (const std::string& line : raid::EventLog::splitLines(*copy)) {
                ++inputs;
                if (!have.count(line)) fail("a line of a copy was lost", loaded);
            }
        }
        if (inputs > 0 && loaded.size() > inputs) fail("more lines than both copies", loaded);
        // One more event: the log folder's copy then holds the whole day.
        log.addLine("last event");
        if (!log.save()) fail("the save failed", loaded);
        if (store.files[day] != crlf(log.lines())) fail("the file is not the day", log.lines());
        loaded = log.lines();
    }
    {
        raid::EventLog again(store, "/logs", "/state", "T");
        again.prepareForPass(t + 4, false);
        if (again.lines() != loaded) fail("a restart changed the day", again.lines());
    }
    return 0;
}

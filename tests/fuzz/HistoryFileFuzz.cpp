// The history store's loader: arbitrary bytes as a day file of an enclosure, through an
// in-memory store. The first byte steers the rest past the checks random bytes never
// pass: bit 0 puts a valid header first, bit 1 gives every whole record its right CRC.
// Whatever the bytes, a read gives only samples of that day in rising order, never
// more than the whole records; the next sample leaves a file of whole records only
// holding every sample read before and the new one; a second store reads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "monitor/HistoryStore.h"
#include "monitor/MemoryFileStore.h"

namespace {

constexpr std::int64_t kDay = 1796601600;  // 2026-12-07
const std::string kKey = "FUZZ ENCLOSURE|42";

void check(bool ok) {
    if (!ok) std::abort();
}

std::uint32_t crc32(const std::string& s, std::size_t at, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= static_cast<std::uint8_t>(s[at + i]);
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t steer = data[0];
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    raid::testing::MemoryFileStore files;
    raid::HistoryStore writer(files, "/h", 90);
    const std::string path = writer.pathOf(kKey, kDay);
    if (steer & 1) {
        // A valid header of the enclosure's own: made by the store itself.
        raid::testing::MemoryFileStore blank;
        raid::HistoryStore maker(blank, "/h", 90);
        raid::HistorySample first;
        first.minute = kDay;
        maker.add(kKey, "label", first);
        bytes = blank.files.at(path).substr(0, raid::HistoryStore::kHeaderBytes) + bytes;
    }
    if (steer & 2) {
        for (std::size_t at = raid::HistoryStore::kHeaderBytes; at + 24 <= bytes.size(); at += 24) {
            const std::uint32_t c = crc32(bytes, at, 20);
            for (int i = 0; i < 4; ++i) bytes[at + 20 + static_cast<std::size_t>(i)] = static_cast<char>(c >> (8 * i));
        }
    }
    files.files[path] = bytes;

    const raid::HistoryFile parsed = raid::parseHistoryFile(bytes);
    check(parsed.wholeBytes + parsed.droppedBytes == bytes.size() || parsed.status != raid::HistoryFile::Status::ok);
    const raid::HistorySeries before = writer.read(kKey, 0);
    const std::size_t whole = bytes.size() < raid::HistoryStore::kHeaderBytes ? 0 : (bytes.size() - raid::HistoryStore::kHeaderBytes) / 24;
    check(before.samples.size() <= whole);
    for (std::size_t i = 0; i < before.samples.size(); ++i) {
        check(before.samples[i].minute >= kDay && before.samples[i].minute < kDay + 86400);
        check(i == 0 || before.samples[i].minute > before.samples[i - 1].minute);
        check(before.samples[i].percent <= 100);
    }
    raid::HistorySample next;
    next.minute = kDay + 86400 - 60;
    next.fanSpeed = 1234;
    const bool added = writer.add(kKey, "label", next);
    check(added || !before.samples.empty() && before.samples.back().minute >= next.minute);
    const std::string& now = files.files.at(path);
    const raid::HistoryFile after = raid::parseHistoryFile(now);
    check(after.status == raid::HistoryFile::Status::ok && after.droppedBytes == 0);
    raid::HistoryStore again(files, "/h", 90);
    const raid::HistorySeries read = again.read(kKey, 0);
    check(read.samples.size() == after.samples.size());
    if (added) {
        check(read.samples.back().fanSpeed == 1234);
        // Every sample read before survived when the file was ours.
        if (parsed.status == raid::HistoryFile::Status::ok) check(read.samples.size() == before.samples.size() + 1);
    }
    return 0;
}

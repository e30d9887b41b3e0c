// The history store's files under damage and attack: torn tails at every kind of
// byte, damaged records, files that are not ours, links and FIFOs in their place.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>

#include "monitor/HistoryStore.h"
#include "support/Portable.h"
#include "MemoryFileStore.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kDec7 = 1796601600;  // 2026-12-07 00:00:00 UTC
const std::string kKey = "SIM DUAL BAY|0001";

HistorySample sample(int i) {
    HistorySample s;
    s.minute = kDec7 + 60 * i;
    s.temperature = static_cast<std::int16_t>(30 + i % 20);
    s.fanSpeed = 2000 + i;
    s.alarms = (i % 7 == 0) ? 0x01 : 0;
    s.driveFlags = 0x11;
    s.activity = (i % 3 == 0) ? HistoryActivity::Rebuild : HistoryActivity::Idle;
    s.percent = static_cast<std::uint8_t>(i % 101);
    return s;
}

bool sameSample(const HistorySample& a, const HistorySample& b) {
    return a.minute == b.minute && a.temperature == b.temperature && a.fanSpeed == b.fanSpeed && a.alarms == b.alarms &&
           a.driveFlags == b.driveFlags && a.activity == b.activity && a.percent == b.percent;
}

TEST(HistoryStore, ATailCutAtAnyByteLoadsEveryWholeRecordAndReportsTheCut) {
    testing::MemoryFileStore files;
    HistoryStore writer(files, "/log/history", 90);
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(writer.add(kKey, "SIM DUAL BAY 0001", sample(i)));
    const std::string path = writer.pathOf(kKey, kDec7);
    const std::string whole = files.files.at(path);
    ASSERT_EQ(whole.size(), HistoryStore::kHeaderBytes + 200 * HistoryStore::kRecordBytes);

    std::mt19937 random(24);
    for (int round = 0; round < 400; ++round) {
        const std::size_t cut = round < 3 ? std::size_t(round * 255) : random() % (whole.size() + 1);
        testing::MemoryFileStore damaged;
        damaged.files[path] = whole.substr(0, cut);
        std::vector<std::string> reports;
        HistoryStore store(damaged, "/log/history", 90, [&](const std::string& t) { reports.push_back(t); });
        const std::size_t kept = cut < HistoryStore::kHeaderBytes ? 0 : (cut - HistoryStore::kHeaderBytes) / HistoryStore::kRecordBytes;
        // Reading does not write: every whole record, nothing of the torn one.
        const HistorySeries read = store.read(kKey, 0);
        ASSERT_EQ(read.samples.size(), kept) << "cut at " << cut;
        for (std::size_t i = 0; i < kept; ++i) ASSERT_TRUE(sameSample(read.samples[i], sample(static_cast<int>(i))));
        EXPECT_EQ(damaged.files.at(path).size(), cut);
        // The next sample cuts the tail off first, says so, and goes after the whole ones.
        reports.clear();
        ASSERT_TRUE(store.add(kKey, "SIM DUAL BAY 0001", sample(250))) << "cut at " << cut;
        const std::string& now = damaged.files.at(path);
        ASSERT_EQ(now.size(), HistoryStore::kHeaderBytes + (kept + 1) * HistoryStore::kRecordBytes) << "cut at " << cut;
        const std::size_t same = HistoryStore::kHeaderBytes + kept * HistoryStore::kRecordBytes;
        EXPECT_EQ(now.substr(0, same), whole.substr(0, same)) << "cut at " << cut;
        const bool torn = cut < HistoryStore::kHeaderBytes || (cut - HistoryStore::kHeaderBytes) % HistoryStore::kRecordBytes != 0;
        if (!torn) {
            EXPECT_TRUE(reports.empty()) << reports.front();
        } else {
            ASSERT_EQ(reports.size(), 1u) << "cut at " << cut;
            const std::string expected =
                cut < HistoryStore::kHeaderBytes
                    ? "History file " + fs::path(path).filename().string() + ": shorter than a header; started afresh"
                    : "History file " + fs::path(path).filename().string() + ": damaged after " + std::to_string(kept) +
                          " whole samples; " + std::to_string(cut - HistoryStore::kHeaderBytes - kept * HistoryStore::kRecordBytes) +
                          " bytes cut off";
            EXPECT_EQ(reports[0], expected);
        }
        const HistorySeries after = HistoryStore(damaged, "/log/history", 90).read(kKey, 0);
        ASSERT_EQ(after.samples.size(), kept + 1);
        EXPECT_TRUE(sameSample(after.samples.back(), sample(250)));
    }

    // A damaged record in the middle ends what is read; from the next sample on the
    // file is whole again.
    testing::MemoryFileStore flipped;
    flipped.files[path] = whole;
    flipped.files[path][HistoryStore::kHeaderBytes + 50 * HistoryStore::kRecordBytes + 9] ^= 0x40;
    std::vector<std::string> reports;
    HistoryStore store(flipped, "/log/history", 90, [&](const std::string& t) { reports.push_back(t); });
    EXPECT_EQ(store.read(kKey, 0).samples.size(), 50u);
    ASSERT_TRUE(store.add(kKey, "x", sample(300)));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("damaged after 50 whole samples; 3600 bytes cut off"), std::string::npos) << reports[0];
    // A sample not later than the last one kept is not written (a clock set back).
    EXPECT_FALSE(store.add(kKey, "x", sample(299)));
    EXPECT_EQ(store.read(kKey, kDec7 + 60 * 40).samples.size(), 11u);
}

TEST(HistoryStore, DeviceTextNeverReachesAPathAndEveryKeyHasFilesOfItsOwn) {
    testing::MemoryFileStore files;
    HistoryStore store(files, "/log/history", 90);
    const std::vector<std::string> keys = {"../../etc/passwd|1", "../../etc/passwd|2", "a/b\\c|\x01\x7f\xff", "|", "Ünïcode|7"};
    for (const auto& k : keys) ASSERT_TRUE(store.add(k, k, sample(1)));
    ASSERT_EQ(files.files.size(), keys.size());
    for (const auto& [path, text] : files.files) {
        ASSERT_EQ(path.rfind("/log/history/", 0), 0u) << path;
        const std::string name = path.substr(13);
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-."),
                  std::string::npos)
            << name;
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
    }
    const auto listed = store.enclosures();
    ASSERT_EQ(listed.size(), keys.size());
    for (const auto& k : keys) EXPECT_EQ(store.read(k, 0).label, k);
    // The names are those earlier versions wrote: a history already on disk is found again.
    EXPECT_EQ(HistoryStore::stemOf("../../etc/passwd|1"), "etc_passwd_1-5b769f819eca8553");
}

#ifndef _WIN32
// As root, as the service runs: whatever stands in a history file's place is refused
// without being followed, read or waited on.
TEST(HistoryStore, LinksFifosHugeAndForeignFilesAreRefusedAndReported) {
    const std::string dir = test::makeTempDir();
    const std::string folder = dir + "/history";
    fs::create_directories(folder);
    const std::unique_ptr<FileStore> files = makeStdFileStore();
    std::vector<std::string> reports;
    HistoryStore store(*files, folder, 90, [&](const std::string& t) { reports.push_back(t); });
    const std::string victim = dir + "/victim";
    { std::ofstream(victim) << "keep me"; }
    ::chmod(victim.c_str(), 0600);

    // A link to another file: not written through, the day keeps no history, said once.
    const std::string linked = store.pathOf("link|1", kDec7);
    fs::create_symlink(victim, linked);
    EXPECT_FALSE(store.add("link|1", "l", sample(1)));
    EXPECT_FALSE(store.add("link|1", "l", sample(2)));
    EXPECT_EQ(store.read("link|1", 0).samples.size(), 0u);
    // A FIFO: never opened (an open would wait for a writer for ever).
    const std::string fifo = store.pathOf("fifo|1", kDec7);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(store.add("fifo|1", "f", sample(1)));
    EXPECT_EQ(store.read("fifo|1", 0).samples.size(), 0u);
    // A huge file (sparse: 10 GB that take no room) is not read into memory.
    const std::string huge = store.pathOf("huge|1", kDec7);
    {
        const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{10} << 30), 0);
        ::close(fd);
    }
    EXPECT_EQ(store.read("huge|1", 0).samples.size(), 0u);
    // Garbage of a history file's size: not ours to read; the writer starts afresh.
    const std::string garbage = store.pathOf("junk|1", kDec7);
    { std::ofstream(garbage, std::ios::binary) << std::string(HistoryStore::kHeaderBytes + 48, 'x'); }
    EXPECT_EQ(store.read("junk|1", 0).samples.size(), 0u);
    EXPECT_TRUE(store.add("junk|1", "j", sample(1)));
    EXPECT_EQ(store.read("junk|1", 0).samples.size(), 1u);

    EXPECT_EQ(fs::file_size(victim), 7u);
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_TRUE(fs::is_fifo(fifo));
    const auto said = [&](const std::string& path, const std::string& what) {
        const std::string line = "History file " + fs::path(path).filename().string() + ": " + what;
        return std::count(reports.begin(), reports.end(), line);
    };
    EXPECT_EQ(said(linked, "not a regular file; no history is kept for this day"), 1);
    EXPECT_EQ(said(linked, "not a regular file; left alone"), 1);
    EXPECT_EQ(said(fifo, "not a regular file; no history is kept for this day"), 1);
    EXPECT_EQ(said(huge, "too large for a history file (10737418240 bytes); not read"), 1);
    EXPECT_EQ(said(garbage, "not a history file; not read"), 1);
    EXPECT_EQ(said(garbage, "not a history file; started afresh"), 1);
    fs::remove_all(dir);
}
#endif

}  // namespace
}  // namespace raid

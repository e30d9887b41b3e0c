// The day log on real files in a temp folder: several EventLog instances one after
// another are several runs of the program on one day. A log folder that cannot be
// written is one whose parent has been replaced by a regular file (the tests run as
// root, for whom permission bits mean nothing).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>
#endif

#include <filesystem>
#include <fstream>
#include <memory>

#include "Fixtures.h"
#include "monitor/EventLog.h"
#include "platform/WithinDeadline.h"
#include "support/Portable.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using namespace raid::testing;

const std::string kTitle = "RAID GUI v0.23.7-3";
const std::string kRule(83, '-');

std::vector<std::string> fileLines(const fs::path& p) {
    if (!fs::is_regular_file(p)) return {"<not a regular file>"};
    std::ifstream f(p, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return EventLog::splitLines(text);
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class DayLogFiles : public ::testing::Test {
protected:
    void SetUp() override {
        base = test::makeTempDir();
        logs = base / "box" / "logs";
        fs::create_directories(logs);
        day = logs / "261207.log";
        fallback = (base / "state" / "raid-gui").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    // The log folder's parent becomes a regular file: the folder can be neither read
    // nor written. `unblock` puts the folder back as it was.
    void block() {
        fs::rename(base / "box", base / "box.away");
        std::ofstream(base / "box") << "in the way";
    }
    void unblock() {
        fs::remove(base / "box");
        fs::rename(base / "box.away", base / "box");
    }

    // One run of the program from `start`: the start-up header, an information block,
    // then one event per pass (the first a drive removal) until the run has written
    // `count` lines. Answers the lines this run added.
    std::vector<std::string> run(const std::string& folder, double start, std::size_t count) {
        EventLog log(*store, folder, fallback, kTitle, [this](const std::string& n) { notices.push_back(n); });
        log.prepareForPass(start, true);
        const std::size_t before = log.lines().size() - 2;
        log.addLine("Device1 information :");
        log.addLine("Model# QX DUAL BAY RAID");
        log.addLine(kRule);
        log.save();
        double now = start;
        for (int n = 0; log.lines().size() - before < count; ++n) {
            now += 4;
            log.prepareForPass(now, false);
            log.addLine(n == 0 ? "D1 HDD2 was removed, " + log.timestamp()
                               : "D1 HDD1 Scan " + std::to_string(n) + "%, " + log.timestamp());
            EXPECT_TRUE(log.save());
        }
        return {log.lines().begin() + static_cast<std::ptrdiff_t>(before), log.lines().end()};
    }

    std::unique_ptr<FileStore> store = makeStdFileStore();
    fs::path base;
    fs::path logs;
    std::string fallback;
    std::vector<std::string> notices;
    fs::path day;
    double at(int hour) const { return wallAt(2026, 12, 7, hour, 0, 0); }
};

TEST_F(DayLogFiles, RunsInTheLogFolderAndInTheFallbackFolderAllStayInTheDay) {
    const auto first = run(logs.string(), at(9), 16);
    block();
    const auto second = run(logs.string(), at(10), 25);  // could not even read the log folder
    unblock();
    const auto third = run(logs.string(), at(11), 5);
    EXPECT_EQ(fileLines(day), concat({first, second, third}));
    EXPECT_EQ(std::count(first.begin(), first.end(), "D1 HDD2 was removed, 12/07/26 09:00:04"), 1);

    // Once more away and back: the fallback copy still holds the second run, and that
    // history is in the day once, not twice.
    block();
    const auto fourth = run(logs.string(), at(12), 7);
    unblock();
    const auto fifth = run(logs.string(), at(13), 3);
    EXPECT_EQ(fileLines(day), concat({first, second, third, fourth, fifth}));
}

TEST_F(DayLogFiles, AFreshLogFolderDoesNotTakeAnotherFoldersFallbackCopy) {
    block();
    const auto away = run(logs.string(), at(9), 10);
    unblock();
    const fs::path other = base / "other";
    fs::create_directories(other);
    const auto mine = run(other.string(), at(10), 6);
    EXPECT_EQ(fileLines(other / "261207.log"), mine);
    EXPECT_EQ(mine.front(), kRule);
    EXPECT_EQ(mine.at(1), kTitle + " has started from 12/07/26 10:00:00");
    // The first folder's day is still complete, from its own fallback copy.
    const auto back = run(logs.string(), at(11), 4);
    EXPECT_EQ(fileLines(day), concat({away, back}));
}

// The log folder is missing and cannot be made at first (its parent is a regular file,
// as a disk not mounted yet would leave it), and there is no fallback folder: the lines
// wait in memory. Once the folder can be made, the next save makes it and writes the
// whole day there.
TEST_F(DayLogFiles, AMissingLogFolderIsMadeOnceItCanBe) {
    const fs::path box = base / "box";
    fs::remove_all(box);
    std::ofstream(box) << "in the way";
    EventLog log(*store, logs.string(), "", kTitle, [this](const std::string& n) { notices.push_back(n); });
    log.prepareForPass(at(9), true);
    log.addLine("Device1 information :");
    EXPECT_FALSE(log.save());
    EXPECT_EQ(notices, (std::vector<std::string>{"Log folder cannot be written, keeping events in memory"}));

    fs::remove(box);
    log.prepareForPass(at(9) + 4, false);
    log.addLine("D1 HDD2 was removed, " + log.timestamp());
    EXPECT_TRUE(log.save());
    EXPECT_EQ(fileLines(day), log.lines());
    EXPECT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(notices.back(), "Log folder is writable again, writing to " + logs.string());
#ifndef _WIN32  // a folder's mode bits: Windows has none
    struct stat st {};
    ASSERT_EQ(::stat(logs.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 07777, (::geteuid() == 0 ? 0755u : 0700u) & ~mask);
#endif
    EXPECT_EQ(log.saveAtExit(), "");
}

// Another user has put a link where the log folder should be: the day is not written
// where it points, but into the fallback folder.
#ifndef _WIN32  // another user's link, planted by root
TEST_F(DayLogFiles, ALogFolderThatIsAnotherUsersLinkIsNotWrittenThrough) {
    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's link needs root";
    const fs::path victim = base / "victim";
    fs::create_directories(victim);
    fs::remove_all(logs);
    fs::create_directory_symlink(victim, logs);
    ASSERT_EQ(::lchown(logs.c_str(), 65534, 65534), 0);
    const auto lines = run(logs.string(), at(9), 6);
    EXPECT_TRUE(fs::is_empty(victim));
    EXPECT_EQ(fileLines(fs::path(EventLog::fallbackSubfolder(fallback, logs.string())) / "261207.log"), lines);
}
#endif

// What no save could write goes, at the end of the run, to the fallback folder when that
// can be made by then; when neither folder can be written the run says how many lines
// are lost and why.
TEST_F(DayLogFiles, AtTheEndOfARunUnsavedLinesGoToTheFallbackFolderOrAreCounted) {
    const fs::path box = base / "box", state = base / "state";
    fs::remove_all(box);
    std::ofstream(box) << "in the way";
    std::ofstream(state) << "in the way";
    const auto unsavedRun = [&](const std::string& spare, double start) {
        auto log = std::make_unique<EventLog>(*store, logs.string(), spare, kTitle);
        log->prepareForPass(start, true);
        log->addLine("Device1 information :");
        log->addLine(kRule);
        EXPECT_FALSE(log->save());
        return log;
    };
    auto first = unsavedRun(fallback, at(9));
    fs::remove(state);
    EXPECT_EQ(first->saveAtExit(), "");
    const std::string copy = EventLog::fallbackSubfolder(fallback, logs.string());
    EXPECT_EQ(fileLines(fs::path(copy) / "261207.log"), first->lines());

    // The fallback folder is gone again, and then there is none at all.
    fs::remove_all(state);
    std::ofstream(state) << "in the way";
    auto second = unsavedRun(fallback, at(10));
    EXPECT_EQ(second->unsavedLines(), 4u);
    EXPECT_EQ(second->saveAtExit(),
              "4 event lines could not be saved: neither " + logs.string() + " nor " + copy + " can be written");
    auto third = unsavedRun("", at(11));
    EXPECT_EQ(third->saveAtExit(), "4 event lines could not be saved: " + logs.string() +
                                       " cannot be written and there is no fallback folder");
}

// A special file or an oversized one stands where the day file goes: the log must not
// hang or read it, must leave it alone, and goes on in "261207-1.log" beside it.
class SpecialDayFile : public DayLogFiles {
protected:
    struct Outcome {
        std::vector<std::string> lines;
        std::vector<std::string> notices;
        bool saved = false;
    };
    // A run with one save, on its own thread so that a regression hangs nothing.
    std::shared_ptr<Outcome> runGuarded() {
        auto out = std::make_shared<Outcome>();
        auto files = std::shared_ptr<FileStore>(makeStdFileStore());
        Deadline d([out, files, folder = logs.string(), t = at(9)] {
            EventLog log(*files, folder, "", kTitle, [out](const std::string& n) { out->notices.push_back(n); });
            log.prepareForPass(t, true);
            log.addLine("Device1 information :");
            out->saved = log.save();
            log.prepareForPass(t + 4, false);
            log.addLine("D1 HDD2 was removed, " + log.timestamp());
            out->saved = out->saved && log.save();
            out->lines = log.lines();
        });
        if (!d.wait()) {
            ADD_FAILURE() << "the day log hung on the file at " << day;
#ifndef _WIN32
            // Let a thread blocked on a FIFO go (and finish before the folder goes).
            const int fd = ::open(day.c_str(), O_RDWR | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
#endif
            d.wait();
            return nullptr;
        }
        return out;
    }
    void expectGoesOnBeside(const Outcome& o, const std::string& why) {
        EXPECT_TRUE(o.saved);
        EXPECT_EQ(fileLines(logs / "261207-1.log"), o.lines);
        EXPECT_EQ(o.lines.at(1), kTitle + " has started from 12/07/26 09:00:00");
        EXPECT_EQ(o.notices, (std::vector<std::string>{"Log file " + day.string() + why + ", writing to " +
                                                        (logs / "261207-1.log").string()}));
    }
};

#ifndef _WIN32  // a FIFO or a link to a device in a folder: Windows has neither
TEST_F(SpecialDayFile, AFifoIsNeitherOpenedNorWritten) {
    ASSERT_EQ(::mkfifo(day.c_str(), 0644), 0);
    auto o = runGuarded();
    ASSERT_TRUE(o);
    expectGoesOnBeside(*o, " is not a regular file");
    EXPECT_TRUE(fs::is_fifo(day));
    // The next run of the day goes on in the same file beside it.
    auto again = runGuarded();
    ASSERT_TRUE(again);
    EXPECT_EQ(std::vector<std::string>(again->lines.begin(), again->lines.begin() + static_cast<std::ptrdiff_t>(o->lines.size())),
              o->lines);
}

TEST_F(SpecialDayFile, ASymlinkToDevZeroIsNotRead) {
    fs::create_symlink("/dev/zero", day);
    auto o = runGuarded();
    ASSERT_TRUE(o);
    expectGoesOnBeside(*o, " is not a regular file");
    EXPECT_TRUE(fs::is_symlink(day));
}
#endif

TEST_F(SpecialDayFile, AHugeFileIsLeftAsItIs) {
    std::ofstream(day).flush();
    fs::resize_file(day, std::uintmax_t{1} << 30);  // 1 GiB, sparse
    auto o = runGuarded();
    ASSERT_TRUE(o);
    expectGoesOnBeside(*o, " is too large");
    EXPECT_EQ(fs::file_size(day), std::uintmax_t{1} << 30);
}

}  // namespace
}  // namespace raid

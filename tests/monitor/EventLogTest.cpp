#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Fixtures.h"
#include "MemoryFileStore.h"
#include "monitor/EventLog.h"

namespace raid {
namespace {

using namespace raid::testing;

const std::string kTitle = "RAID GUI v0.23.7-3";
const std::string kLogs = rooted("/logs"), kState = rooted("/state/raid-gui"), kOther = rooted("/other"),
                  kElsewhere = rooted("/elsewhere");
const std::string kDay = joined(kLogs, "261207.log");
// This log folder's own subfolder of the fallback folder.
const std::string kFallbackDir = EventLog::fallbackSubfolder(kState, kLogs);
const std::string kFallbackDay = joined(kFallbackDir, "261207.log");

class EventLogTest : public ::testing::Test {
protected:
    MemoryFileStore store;
    std::vector<std::string> notices;
    EventLog log{store, kLogs, kState, kTitle, [this](const std::string& text) { notices.push_back(text); }};
    const double t = wallAt(2026, 12, 7, 14, 3, 5);
    const std::string ts = "12/07/26 14:03:05";
    const std::string rule = std::string(83, '-');
};

TEST_F(EventLogTest, StartOnADayWithAFileLoadsItThenRuleAndHeader) {
    store.files[kDay] = "old 1\r\nold 2\nold 3";
    EXPECT_TRUE(log.prepareForPass(t, true));
    EXPECT_TRUE(log.reseedDue());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"old 1", "old 2", "old 3", rule, kTitle + " has started from " + ts}));
    // Mixed line ends are not ours: the first save writes the whole day in CR LF.
    log.save();
    EXPECT_EQ(store.files[kDay], crlf(log.lines()));
}

TEST_F(EventLogTest, StartWithoutAFileWritesOneRule) {
    EXPECT_TRUE(log.prepareForPass(t, true));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{rule, kTitle + " has started from " + ts}));
}

TEST_F(EventLogTest, LaterPassOfTheDayNeedsNothingAndDoesNotReload) {
    store.files[kDay] = "a\r\n";
    log.prepareForPass(t, false);
    log.addLine("b");
    log.save();
    EXPECT_FALSE(log.prepareForPass(t + 4, false));
    EXPECT_FALSE(log.reseedDue());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(EventLogTest, PendingLinesGetTheTimeAndDueTheBlock) {
    log.prepareForPass(t, false);
    log.addPendingLine("D2 Device was removed.");
    log.addPendingLine("    Device had changed.");
    log.setDeviceListChanged();
    EXPECT_TRUE(log.prepareForPass(t + 4, false));
    EXPECT_TRUE(log.reseedDue());
    EXPECT_FALSE(log.deviceListChanged());
    EXPECT_TRUE(log.pendingLines().empty());
    const std::string ts2 = "12/07/26 14:03:09";
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{rule, rule, "D2 Device was removed." + ts2, "    Device had changed." + ts2}));
}

TEST_F(EventLogTest, SavesAppendOnlyWhatIsNewWhateverTheDaySize) {
    const auto costOfOneLine = [&](int dayLines) {
        MemoryFileStore s;
        EventLog l{s, kLogs, kState, kTitle};
        l.prepareForPass(t, false);
        for (int i = 0; i < dayLines; ++i) l.addLine("D1 HDD1 Scan " + std::to_string(i % 100) + "%, " + ts);
        l.save();
        const auto before = s.bytesWritten;
        l.prepareForPass(t + 4, false);
        l.addLine("D1 HDD1 Scan Done, " + ts);
        EXPECT_TRUE(l.save());
        EXPECT_EQ(s.files[kDay], crlf(l.lines()));
        return s.bytesWritten - before;
    };
    const auto small = costOfOneLine(10);
    EXPECT_EQ(small, std::string("D1 HDD1 Scan Done, " + ts + "\r\n").size());
    EXPECT_EQ(costOfOneLine(5000), small);
}

TEST_F(EventLogTest, FailedWholeRewriteLeavesTheOldFile) {
    store.files[kDay] = "a\nb\n";  // not in our form: the next save must rewrite it whole
    log.prepareForPass(t, false);
    log.addLine("c");
    store.spaceLeft = 5;  // the disk fills half way through the temp file
    EXPECT_FALSE(log.save());
    EXPECT_EQ(store.files[kDay], "a\nb\n");
    store.spaceLeft.reset();
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay], "a\r\nb\r\nc\r\n");
}

TEST_F(EventLogTest, TornAppendIsRepairedByTheNextSave) {
    log.prepareForPass(t, false);
    log.addLine("first");
    log.save();
    const std::string before = store.files[kDay];
    log.addLine("second line that does not fit");
    store.spaceLeft = 4;
    EXPECT_FALSE(log.save());
    EXPECT_EQ(store.files[kDay].substr(0, before.size()), before);  // what was there is still there
    EXPECT_TRUE(log.hasUnsavedLines());
    store.spaceLeft.reset();
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay], crlf(log.lines()));
    EXPECT_FALSE(log.hasUnsavedLines());
}

TEST_F(EventLogTest, ReadOnlyFolderFallsBackAndComesBackWithNothingLost) {
    store.files[kDay] = "morning\r\n";
    store.readOnlyTrees.insert(kLogs);
    log.prepareForPass(t, true);
    EXPECT_TRUE(log.save());
    EXPECT_TRUE(log.usingFallback());
    EXPECT_EQ(log.currentPath(), kFallbackDay);
    EXPECT_EQ(store.files[kFallbackDay], crlf(log.lines()));
    EXPECT_EQ(store.files[joined(kFallbackDir, "log-folder.txt")], kLogs + "\n");
    for (int i = 0; i < 3; ++i) {
        log.prepareForPass(t + 4 * (i + 1), false);
        log.addLine("event " + std::to_string(i));
        EXPECT_TRUE(log.save());
    }
    EXPECT_EQ(notices, (std::vector<std::string>{"Log folder cannot be written, writing to " + kFallbackDir}));
    EXPECT_EQ(store.files[kFallbackDay], crlf(log.lines()));
    EXPECT_EQ(store.files[kDay], "morning\r\n");

    // A restart while the folder is still read-only continues from the longer copy.
    {
        EventLog again{store, kLogs, kState, kTitle};
        again.prepareForPass(t + 20, false);
        EXPECT_EQ(again.lines(), log.lines());
    }

    store.readOnlyTrees.clear();
    log.prepareForPass(t + 24, false);
    log.addLine("event back home");
    EXPECT_TRUE(log.save());
    EXPECT_FALSE(log.usingFallback());
    EXPECT_EQ(notices.back(), "Log folder is writable again, writing to " + kLogs);
    EXPECT_EQ(store.files[kDay], crlf(log.lines()));
    EXPECT_EQ(log.lines().front(), "morning");
    EXPECT_EQ(log.lines().back(), "event back home");
}

TEST_F(EventLogTest, UnreadableDayFileIsNeverOverwritten) {
    store.files[kDay] = "precious\r\n";
    store.unreadable.insert(kDay);
    log.prepareForPass(t, true);
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay], "precious\r\n");
    EXPECT_EQ(store.files[kFallbackDay], crlf(log.lines()));
    EXPECT_EQ(notices.at(0), "Log file cannot be read, writing to " + kFallbackDir);
}

TEST_F(EventLogTest, LinesNobodyCouldWriteSurviveMidnight) {
    store.readOnlyTrees = {kLogs, kState};
    log.prepareForPass(t, false);
    log.addLine("late event");
    EXPECT_FALSE(log.save());
    EXPECT_EQ(notices.back(), "Event log cannot be written, keeping events in memory");
    // Still the same day and still no file: the lines in memory are kept, not restarted.
    EXPECT_FALSE(log.prepareForPass(t + 4, false));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{rule, "late event"}));

    const double tomorrow = wallAt(2026, 12, 8, 0, 0, 3);
    EXPECT_TRUE(log.prepareForPass(tomorrow, false));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{rule}));
    store.readOnlyTrees.clear();
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay], crlf({rule, "late event"}));
    EXPECT_EQ(store.files[joined(kLogs, "261208.log")], crlf({rule}));
}

// Two copies of one day: the log folder's and this folder's fallback copy.
class EventLogCopiesTest : public EventLogTest {
protected:
    void SetUp() override { store.files[joined(kFallbackDir, "log-folder.txt")] = kLogs + "\n"; }
    std::vector<std::string> runLines(const std::string& hhmmss, const std::string& event) {
        return {rule, kTitle + " has started from 12/07/26 " + hhmmss, "Device1 information :", rule,
                "D1 HDD1 " + event + ", 12/07/26 " + hhmmss};
    }
};

TEST_F(EventLogCopiesTest, APrefixIsTheSameHistoryAndTheRestIsOnlyAppended) {
    const std::vector<std::string> day = runLines("09:00:00", "Scan 10%");
    store.files[kDay] = crlf({day.begin(), day.begin() + 3});
    store.files[kFallbackDay] = crlf(day);
    log.prepareForPass(t, false);
    EXPECT_EQ(log.lines(), day);
    const auto before = store.bytesWritten;
    log.addLine("new");
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay], crlf(log.lines()));
    // The log folder's copy held the start of the day: only its missing end was written.
    EXPECT_EQ(store.bytesWritten - before, crlf({day.begin() + 3, day.end()}).size() + 5);
    EXPECT_EQ(store.replaces, 0);
}

TEST_F(EventLogCopiesTest, SeparateRunsInTheTwoCopiesAreInterleavedByTime) {
    auto early = runLines("09:00:00", "Scan 10%");
    early.push_back(rule);
    early.push_back("D1 HDD2 was removed, 12/07/26 16:00:00");
    const auto middle = runLines("15:00:00", "Rebuild 50%");
    store.files[kDay] = crlf(early);
    store.files[kFallbackDay] = crlf(middle);
    log.prepareForPass(t, false);
    std::vector<std::string> expected(early.begin(), early.end() - 2);
    expected.insert(expected.end(), middle.begin(), middle.end());
    expected.push_back(rule);
    expected.push_back("D1 HDD2 was removed, 12/07/26 16:00:00");
    EXPECT_EQ(log.lines(), expected);
    EXPECT_TRUE(log.hasUnsavedLines());  // neither copy holds the whole day
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay], crlf(expected));

    // The fallback copy is now stale. A run that must write to it again (the log
    // folder readable but not writable) reads both and still has each line once.
    store.readOnlyTrees.insert(kLogs);
    EventLog next{store, kLogs, kState, kTitle};
    next.prepareForPass(t + 60, false);
    EXPECT_EQ(next.lines(), expected);
    next.addLine("later");
    EXPECT_TRUE(next.save());
    expected.push_back("later");
    EXPECT_EQ(store.files[kFallbackDay], crlf(expected));
}

TEST_F(EventLogCopiesTest, AnotherFoldersFallbackCopyIsNeverRead) {
    const std::string theirs = EventLog::fallbackSubfolder(kState, kOther);
    ASSERT_NE(theirs, kFallbackDir);
    store.files.clear();
    store.files[joined(theirs, "log-folder.txt")] = kOther + "\n";
    store.files[joined(theirs, "261207.log")] = "their line\r\n";
    store.readOnlyTrees.insert(kLogs);
    log.prepareForPass(t, true);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{rule, kTitle + " has started from " + ts}));
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kFallbackDay], crlf(log.lines()));
    EXPECT_EQ(store.files[joined(theirs, "261207.log")], "their line\r\n");
}

TEST_F(EventLogCopiesTest, ASubfolderWhoseMarkerNamesAnotherFolderIsLeftAlone) {
    store.files[joined(kFallbackDir, "log-folder.txt")] = kElsewhere + "\n";
    store.files[kFallbackDay] = "not ours\r\n";
    store.readOnlyTrees.insert(kLogs);
    log.prepareForPass(t, true);
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_TRUE(log.save());
    EXPECT_EQ(log.fallbackDayFolder(), kFallbackDir + "-1");
    EXPECT_EQ(store.files[joined(kFallbackDir + "-1", "log-folder.txt")], kLogs + "\n");
    EXPECT_EQ(store.files[joined(kFallbackDir + "-1", "261207.log")], crlf(log.lines()));
    EXPECT_EQ(store.files[kFallbackDay], "not ours\r\n");
    EXPECT_EQ(store.files[joined(kFallbackDir, "log-folder.txt")], kElsewhere + "\n");
}

TEST_F(EventLogCopiesTest, AMarkerThatIsASpecialFileIsNotOurs) {
    store.files.clear();
    store.special.insert(joined(kFallbackDir, "log-folder.txt"));
    store.readOnlyTrees.insert(kLogs);
    log.prepareForPass(t, true);
    EXPECT_TRUE(log.save());
    EXPECT_EQ(log.currentPath(), joined(kFallbackDir + "-1", "261207.log"));
}

TEST_F(EventLogCopiesTest, AFolderWhoseNameEndsInALineEndStillFindsItsOwnCopies) {
    store.files.clear();
    const std::string odd = kLogs + "\n";
    store.readOnlyTrees.insert(odd);
    {
        EventLog first{store, odd, kState, kTitle};
        first.prepareForPass(t, true);
        first.addLine("from the first run");
        EXPECT_TRUE(first.save());
        EXPECT_EQ(first.fallbackDayFolder(), EventLog::fallbackSubfolder(kState, odd));
    }
    EventLog second{store, odd, kState, kTitle};
    second.prepareForPass(t + 4, false);
    EXPECT_EQ(second.lines().back(), "from the first run");
    // A marker written elsewhere with CR LF names the same folder.
    store.files[joined(EventLog::fallbackSubfolder(kState, kLogs), "log-folder.txt")] = kLogs + "\r\n";
    store.files[kFallbackDay] = "theirs and ours\r\n";
    log.prepareForPass(t, false);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"theirs and ours"}));
}

TEST_F(EventLogTest, ASpecialFileWhereTheDayGoesIsLeftAloneAndTheDayGoesOnBesideIt) {
    store.special.insert(kDay);
    log.prepareForPass(t, true);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{rule, kTitle + " has started from " + ts}));
    EXPECT_TRUE(log.save());
    log.prepareForPass(t + 4, false);
    log.addLine("event");
    EXPECT_TRUE(log.save());
    EXPECT_EQ(log.currentPath(), joined(kLogs, "261207-1.log"));
    EXPECT_EQ(store.files[joined(kLogs, "261207-1.log")], crlf(log.lines()));
    EXPECT_EQ(store.files.count(kDay), 0u);
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "Log file " + kDay + " is not a regular file, writing to " + joined(kLogs, "261207-1.log")}));
    // The next run continues beside it too, from what the first one wrote.
    EventLog again{store, kLogs, kState, kTitle};
    again.prepareForPass(t + 8, false);
    EXPECT_EQ(again.lines(), log.lines());
}

TEST_F(EventLogTest, ADayFileBeyondTheReadBackLimitIsNotRead) {
    const std::string huge(EventLog::kMaxReadBack + 1, 'x');
    store.files[kDay] = huge;
    store.files[joined(kLogs, "261207-1.log")] = "earlier today\r\n";
    log.prepareForPass(t, true);
    EXPECT_EQ(log.lines().front(), "earlier today");
    EXPECT_TRUE(log.save());
    EXPECT_EQ(store.files[kDay].size(), huge.size());
    EXPECT_EQ(store.files[joined(kLogs, "261207-1.log")], crlf(log.lines()));
    EXPECT_EQ(notices.at(0), "Log file " + kDay + " is too large, writing to " + joined(kLogs, "261207-1.log"));
}

TEST_F(EventLogTest, WhenNoNameBesideIsFreeTheDayGoesToTheFallbackFolder) {
    store.special.insert(kDay);
    for (int k = 1; k <= 9; ++k) store.special.insert(joined(kLogs, "261207-") + std::to_string(k) + ".log");
    log.prepareForPass(t, true);
    EXPECT_TRUE(log.save());
    EXPECT_TRUE(log.usingFallback());
    EXPECT_EQ(store.files[kFallbackDay], crlf(log.lines()));
    EXPECT_EQ(notices.size(), 10u);  // nine files skipped for the next, then the fallback
}

TEST(EventLogSplitTest, CrLfOrLfAndALastLineWithoutEnd) {
    EXPECT_EQ(EventLog::splitLines("a\r\nb\n\r\nc"), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(EventLog::splitLines("x\ry\r\n"), (std::vector<std::string>{"x\ry"}));
    EXPECT_TRUE(EventLog::splitLines("").empty());
}

TEST(StdFileStoreTest, WorksOnARealFolder) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "raid-monitor-filestore-test";
    fs::remove_all(dir);
    auto store = makeStdFileStore();
    const std::string file = (dir / "sub" / "261207.log").string();

    EXPECT_FALSE(store->folderWritable((dir / "sub").string()));
    EXPECT_TRUE(store->append(file, "a\r\n"));  // creates the folders
    EXPECT_TRUE(store->append(file, "b\r\n"));
    EXPECT_EQ(store->size(file), 6u);
    EXPECT_TRUE(store->replace(file, "c\r\n"));
    EXPECT_EQ(store->readAll(file), "c\r\n");
    EXPECT_FALSE(fs::exists(file + ".tmp"));
    EXPECT_TRUE(store->folderWritable((dir / "sub").string()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator{}), 1);
    EXPECT_FALSE(store->readAll((dir / "missing").string()).has_value());
    EXPECT_FALSE(store->size((dir / "sub").string()).has_value());
    // A path whose folder is a file cannot be written, and says so.
    EXPECT_FALSE(store->replace(file + "/x.log", "y"));
    EXPECT_EQ(store->readAll(file), "c\r\n");
    fs::remove_all(dir);
}

TEST(StdFileStoreTest, FallbackFolderRule) {
    // Absolute paths as each system writes them; the folder names joined as it joins them.
    const std::string state = rooted("/x/state"), home = rooted("/home/u");
    const std::string homeState = joined(joined(joined(home, ".local"), "state"), "raid-gui");
    EXPECT_EQ(fallbackLogFolder("", state, home), joined(state, "raid-gui"));
    EXPECT_EQ(fallbackLogFolder("", "relative", home), homeState);
    EXPECT_EQ(fallbackLogFolder("", "", home), homeState);
    EXPECT_EQ(fallbackLogFolder("", "", ""), "");
#ifndef _WIN32  // systemd's StateDirectory=, a list split at ':' (a drive letter's mark on Windows)
    // A service's own state folder (systemd's StateDirectory=), the first of several.
    EXPECT_EQ(fallbackLogFolder("/var/lib/raid-gui", "", ""), "/var/lib/raid-gui");
    EXPECT_EQ(fallbackLogFolder("/var/lib/raid-gui:/var/lib/other", "/x/state", "/home/u"), "/var/lib/raid-gui");
    EXPECT_EQ(fallbackLogFolder("relative:/var/lib/other", "", "/home/u"), "/home/u/.local/state/raid-gui");
    EXPECT_EQ(fallbackLogFolder(":/var/lib/other", "", ""), "");
#endif
}

}  // namespace
}  // namespace raid

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/DayLogMerge.h"
#include "monitor/EventLog.h"

namespace raid {
namespace {

using Lines = std::vector<std::string>;
const std::string R = EventLog::ruleLine();

// What one run writes: the header at `hhmmss` and one event per following time.
Lines runAt(const std::string& hhmmss, const std::vector<std::string>& events = {}) {
    Lines l{R, "RAID GUI v0.23.7-3 has started from 12/07/26 " + hhmmss, "Device1 information :", "Model# X", R};
    for (const auto& e : events) l.push_back("D1 HDD1 Scan 1%, 12/07/26 " + e);
    return l;
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(TimeOfDayTest, TheLastTimeInTheLineOnA24Or12HourClock) {
    EXPECT_EQ(timeOfDay("D1 HDD2 was removed, 12/07/26 14:03:05"), 14 * 3600 + 3 * 60 + 5);
    EXPECT_EQ(timeOfDay("D2 Device was removed.12/07/26 00:00:00"), 0);
    EXPECT_EQ(timeOfDay("was removed, 12/07/2026 02:03:05 PM"), 14 * 3600 + 185);
    EXPECT_EQ(timeOfDay("12/07/2026 12:00:01 AM"), 1);
    EXPECT_EQ(timeOfDay("12/07/2026 12:00:01 pm"), 12 * 3600 + 1);
    EXPECT_EQ(timeOfDay("07.12.2026 9:15:00"), 9 * 3600 + 900);
    EXPECT_EQ(timeOfDay("from 01:02:03 to 04:05:06"), 4 * 3600 + 5 * 60 + 6);
    EXPECT_FALSE(timeOfDay("Configured Capacity : 3726 GB(7814037168 Sectors)"));
    EXPECT_FALSE(timeOfDay(R));
    EXPECT_FALSE(timeOfDay("123:45:56"));
    EXPECT_FALSE(timeOfDay("12:45:567"));
    EXPECT_FALSE(timeOfDay("25:00:00"));
    EXPECT_FALSE(timeOfDay("12:61:00"));
    EXPECT_FALSE(timeOfDay("1:2:3"));
    EXPECT_FALSE(timeOfDay("14:03:0"));
    EXPECT_FALSE(timeOfDay(""));
}

TEST(DayLogMergeTest, WhenOneCopyIsAPrefixTheLongerIsTheDay) {
    const Lines day = runAt("09:00:00", {"09:00:04", "09:00:08"});
    const Lines start(day.begin(), day.begin() + 3);
    EXPECT_EQ(mergeDayCopies(start, day), day);
    EXPECT_EQ(mergeDayCopies(day, start), day);
    EXPECT_EQ(mergeDayCopies(day, day), day);
    EXPECT_EQ(mergeDayCopies({}, day), day);
    EXPECT_EQ(mergeDayCopies(day, {}), day);
    EXPECT_TRUE(mergeDayCopies({}, {}).empty());
}

TEST(DayLogMergeTest, SeparateRunsAreKeptInTheOrderTheyHappened) {
    const Lines nine = runAt("09:00:00", {"09:00:04"});
    const Lines ten = runAt("10:00:00", {"10:00:04", "10:00:08"});
    const Lines eleven = runAt("11:00:00");
    EXPECT_EQ(mergeDayCopies(nine + eleven, ten), nine + ten + eleven);
    EXPECT_EQ(mergeDayCopies(ten, nine + eleven), nine + ten + eleven);
    // The same second in both: the log folder's copy first.
    const Lines change{R, "D2 Device was removed.12/07/26 09:00:00", "    Device had changed.12/07/26 09:00:00"};
    const Lines header(nine.begin(), nine.begin() + 5);
    EXPECT_EQ(mergeDayCopies(header, change), header + change);
    EXPECT_EQ(mergeDayCopies(change, header), change + header);
}

TEST(DayLogMergeTest, AHistoryBothCopiesHoldIsKeptOnceAndTheLongerWins) {
    const Lines nine = runAt("09:00:00", {"09:00:04"});
    const Lines ten = runAt("10:00:00", {"10:00:04", "10:00:08"});
    const Lines tenCut(ten.begin(), ten.end() - 1);
    const Lines eleven = runAt("11:00:00");
    // The log folder went on after the fallback copy stopped, and vice versa.
    EXPECT_EQ(mergeDayCopies(nine + ten + eleven, tenCut), nine + ten + eleven);
    EXPECT_EQ(mergeDayCopies(nine + tenCut, ten + eleven), nine + ten + eleven);
    // Both copies started with the same run, then went separate ways.
    EXPECT_EQ(mergeDayCopies(nine + eleven, nine + ten), nine + ten + eleven);
}

TEST(DayLogMergeTest, MergingTheResultWithEitherCopyChangesNothing) {
    const Lines a = runAt("09:00:00", {"09:00:04"}) + runAt("12:00:00", {"12:30:00"});
    const Lines b = runAt("10:00:00", {"10:00:04"}) + runAt("13:00:00");
    const Lines m = mergeDayCopies(a, b);
    EXPECT_EQ(m.size(), a.size() + b.size());
    EXPECT_EQ(mergeDayCopies(m, a), m);
    EXPECT_EQ(mergeDayCopies(m, b), m);
    EXPECT_EQ(mergeDayCopies(a, m), m);
    EXPECT_EQ(mergeDayCopies(b, m), m);
}

TEST(DayLogMergeTest, LinesWithoutTimesStayInFrontAndCommonOnesAreKeptOnce) {
    // Written after midnight (an information block without a header), or by hand.
    const Lines a{R, "Device1 information :", "Model# X", "note a"};
    const Lines b{R, "Device1 information :", "note b"};
    const Lines later = runAt("08:00:00");
    EXPECT_EQ(mergeDayCopies(a + later, b), (Lines{R, "Device1 information :", "Model# X", "note a", "note b"} + later));
    const Lines m = mergeDayCopies(a, b);
    EXPECT_EQ(mergeDayCopies(m, b), m);
    EXPECT_EQ(mergeDayCopies(a, m), m);
}

}  // namespace
}  // namespace raid

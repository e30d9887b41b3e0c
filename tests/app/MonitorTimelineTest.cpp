// Monitoring on the virtual clock: what the day file says and which alerts are raised
// as enclosures change, checked against the file's exact lines.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <fstream>
#include <map>

#include "monitor/TimeFormat.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;

constexpr double kDec7 = 1796601600.0;  // 2026-12-07 00:00:00 UTC
const std::string kRule(83, '-');

std::vector<std::string> withPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

struct Monitor : ::testing::Test {
    ScenarioKit kit;
    sim::Block identity = sim::makeIdentityPage();
    void oneEnclosure(const std::string& statusName = "st.bin") {
        kit.block("st.bin", sim::makeStatusRecord());
        kit.line("0 disk 0").line("0 volume C 0");
        kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", identity) + " status=" + statusName);
    }
    std::string status(const std::string& name, const sim::StatusOptions& o) {
        return kit.block(name, sim::makeStatusRecord(o));
    }
    std::string status(const std::string& name, sim::Block b) { return kit.block(name, b); }
    std::vector<std::string> day(const std::string& name = "261207") { return kit.dayFile(name); }
};

TEST_F(Monitor, StartWithoutADayFileWritesRuleHeaderAndInformationBlock) {
    oneEnclosure();
    auto& r = kit.run(10, 0, kDec7);
    ASSERT_EQ(kit.loadError, "");
    const auto d = day();
    ASSERT_GE(d.size(), 6u);
    EXPECT_EQ(d[0], kRule);
    EXPECT_EQ(d[1].rfind("RAID GUI v0.23.7-3 has started from ", 0), 0u) << d[1];
    EXPECT_EQ(d[1], "RAID GUI v0.23.7-3 has started from " + formatDateTimeC(kDec7 + 1.5));
    EXPECT_EQ(d[2], "Device1 information :");
    EXPECT_EQ(d[3], "Model# SIM DUAL BAY RAID ENCLOSURE");
    EXPECT_EQ(d[4], "Mirroring(RAID1), F/W Rev. 101208.0.A01");
    EXPECT_EQ(d.back(), kRule);
    EXPECT_EQ(std::count(d.begin(), d.end(), kRule), 2);  // the rule once before the header, once after the block
    EXPECT_EQ(withPrefix(d, "RAID GUI").size(), 1u);     // the start-up pass ended with the first drawing
    EXPECT_FALSE(r.form().dev.FirstPass);
    EXPECT_EQ(r.form().eventLog().lines(), d);
}

TEST_F(Monitor, StartOnADayWithAFileLoadsItThenAppends) {
    {
        std::ofstream f(kit.dir() + "/261207.log", std::ios::binary);
        f << "earlier line one\r\nearlier line two\r\n";
    }
    oneEnclosure();
    kit.run(10, 0, kDec7 + 3600);
    const auto d = day();
    ASSERT_GE(d.size(), 5u);
    EXPECT_EQ(d[0], "earlier line one");
    EXPECT_EQ(d[1], "earlier line two");
    EXPECT_EQ(d[2], kRule);
    EXPECT_EQ(d[3].rfind("RAID GUI v0.23.7-3 has started from ", 0), 0u);
    EXPECT_EQ(d[4], "Device1 information :");
}

TEST_F(Monitor, TheFirstPassAfterMidnightStartsANewFileWithoutHeader) {
    oneEnclosure();
    kit.run(30, 0, kDec7 - 15);  // 23:59:45
    const auto yesterday = day("261206");
    ASSERT_FALSE(yesterday.empty());
    EXPECT_EQ(withPrefix(yesterday, "RAID GUI").size(), 1u);
    const auto today = day("261207");
    ASSERT_GE(today.size(), 3u);
    EXPECT_EQ(today[0], kRule);
    EXPECT_EQ(today[1], "Device1 information :");
    EXPECT_EQ(today.back(), kRule);
    EXPECT_TRUE(withPrefix(today, "RAID GUI").empty());
    EXPECT_EQ(std::count(today.begin(), today.end(), kRule), 2);
}

TEST_F(Monitor, DriveTwoPulledIsOneLineAndOneAlert) {
    oneEnclosure();
    kit.line("20 status 1 " + status("pulled.bin", sim::StatusOptions().setDriveState(1, sim::kDriveAbsent)));
    auto& r = kit.run(60, 0, kDec7);
    const auto removed = withPrefix(day(), "D1 HDD2 was removed, ");
    ASSERT_EQ(removed.size(), 1u);
    // The pass that saw it ran at the first poll after second 20.
    const auto passTime = removed[0].substr(std::string("D1 HDD2 was removed, ").size());
    bool matches = false;
    for (int s = 20; s <= 25; ++s) matches |= passTime == formatDateTimeC(kDec7 + s + 0.5);
    EXPECT_TRUE(matches) << passTime;
    const auto alerts = r.linesWith("Alert[");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_NE(alerts[0].find("Alert[kind=1 device=0 port=1] Device1 P1 Hard Disk Drive fail.\\nDevice1 information :"),
              std::string::npos)
        << alerts[0];
    EXPECT_EQ(r.form().alerts().AlertInfoLines.at(0), "Device1 P1 Hard Disk Drive fail.");
    EXPECT_EQ(r.form().alerts().pendingKind, 1);
    // Serviced within 200 ms: without saved settings no mail is sent, and nothing waits.
    EXPECT_FALSE(r.form().MailRequestFlags & 0x02);
    EXPECT_TRUE(r.form().alerts().raised.empty());
    EXPECT_EQ(r.form().outbox().size(), 0u);
    EXPECT_TRUE(r.linesWith("Mail[").empty());
}

TEST_F(Monitor, AnAbsentBitOverAPresentOneIsARemovalToo) {
    oneEnclosure();
    sim::StatusOptions o;
    o.setDriveState(1, sim::kDrivePresent | sim::kDriveAbsent);  // 0x22 -> 0x62
    kit.line("20 status 1 " + status("half.bin", o));
    auto& r = kit.run(40, 0, kDec7);
    EXPECT_EQ(withPrefix(day(), "D1 HDD2 was removed, ").size(), 1u);
    EXPECT_EQ(r.linesWith("Alert[kind=1 device=0 port=1]").size(), 1u);
}

TEST_F(Monitor, OneEnclosureOfTwoUnplugged) {
    kit.block("st.bin", sim::makeStatusRecord());
    kit.block("id1.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("FIRST BOX")));
    kit.block("id2.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("SECOND BOX")));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=id1.bin status=st.bin");
    kit.line("0 attach 2 mailbox identity=id2.bin status=st.bin");
    kit.line("20 detach 2");
    auto& r = kit.run(60, 0, kDec7);
    const auto alerts = r.linesWith("Alert[kind=2 device=1 port=0] Device2 RAID system fail.");
    EXPECT_EQ(alerts.size(), 1u);
    const auto d = day();
    const auto at = std::find_if(d.begin(), d.end(), [](const std::string& l) {
        return l.rfind("D2 Device was removed.", 0) == 0;
    });
    ASSERT_NE(at, d.end());
    ASSERT_GE(d.end() - at, 3);
    EXPECT_EQ(*(at - 1), kRule);
    const std::string ts = at->substr(std::string("D2 Device was removed.").size());
    EXPECT_FALSE(ts.empty());
    EXPECT_EQ(*(at + 1), "    Device had changed." + ts);
    EXPECT_EQ(*(at + 2), "Device1 information :");
    EXPECT_EQ(withPrefix(d, "D2 Device was removed.").size(), 1u);
}

TEST_F(Monitor, AnExchangeWithEqualCountsWritesNothing) {
    kit.block("st.bin", sim::makeStatusRecord());
    kit.block("id1.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("FIRST BOX")));
    kit.block("id2.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("SECOND BOX")));
    kit.block("id3.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("THIRD BOX")));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=id1.bin status=st.bin");
    kit.line("0 attach 2 mailbox identity=id2.bin status=st.bin");
    // Enclosure 2 leaves, another arrives with a plain disk: a pass runs, still two enclosures.
    kit.line("20 detach 2").line("21 attach 3 mailbox identity=id3.bin status=st.bin").line("21 disk 4");
    auto& r = kit.run(60, 0, kDec7);
    EXPECT_EQ(r.form().detection().passTimesUs().size(), 2u);
    EXPECT_TRUE(withPrefix(day(), "D2 ").empty());
    EXPECT_TRUE(withPrefix(day(), "    Device had changed.").empty());
    EXPECT_TRUE(r.linesWith("Alert[").empty());
}

TEST_F(Monitor, RebuildProgressOnlyOnChangeThenDone) {
    oneEnclosure();
    auto rebuild = [&](const std::string& name, std::uint8_t percent) {
        return status(name, sim::StatusOptions().setActivity(0x01, percent));
    };
    kit.line("10 status 1 " + rebuild("r10.bin", 10));
    kit.line("20 status 1 " + rebuild("r50.bin", 50));
    kit.line("30 status 1 " + rebuild("r99.bin", 99));
    kit.line("40 status 1 st.bin");
    kit.run(60, 0, kDec7);
    const auto d = day();
    const auto progress = withPrefix(d, "D1 HDD2 --> HDD1 ");
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(progress[0].rfind("D1 HDD2 --> HDD1 10%, ", 0), 0u);
    EXPECT_EQ(progress[1].rfind("D1 HDD2 --> HDD1 50%, ", 0), 0u);
    EXPECT_EQ(progress[2].rfind("D1 HDD2 --> HDD1 99%, ", 0), 0u);
    EXPECT_EQ(progress[3].rfind("D1 HDD2 --> HDD1 Done, ", 0), 0u);
}

TEST_F(Monitor, ARebuildEndingEarlyWithBothDrivesIsOkOk) {
    oneEnclosure();
    kit.line("10 status 1 " + status("r57.bin", sim::StatusOptions().setActivity(0x02, 57)));
    kit.line("20 status 1 st.bin");
    kit.run(40, 0, kDec7);
    const auto d = day();
    EXPECT_EQ(withPrefix(d, "D1 HDD1 --> HDD2 57%, ").size(), 1u);
    EXPECT_EQ(withPrefix(d, "D1 HDD1 OK, HDD2 OK, ").size(), 1u);
}

TEST_F(Monitor, FanAndTemperatureAlertOncePerRisingBitWithoutALine) {
    oneEnclosure();
    auto fan = [&](const std::string& name, std::uint8_t alarms) {
        return status(name, sim::StatusOptions().setFan(alarms, 0, 70));
    };
    kit.line("10 status 1 " + fan("fan.bin", 0xA1));
    kit.line("30 status 1 " + fan("both.bin", 0xA5));
    kit.line("40 status 1 st.bin");
    kit.line("50 status 1 fan.bin");
    auto& r = kit.run(70, 0, kDec7);
    EXPECT_EQ(r.linesWith("Alert[kind=4 device=0 port=0] Device1 fan fail.").size(), 2u);
    EXPECT_EQ(r.linesWith("Alert[kind=3 device=0 port=0] Device1 over heat.").size(), 1u);
    for (const auto& l : day()) EXPECT_EQ(l.rfind("D1 ", 0), std::string::npos) << l;
}

TEST_F(Monitor, AZeroFlagsRecordIsAcceptedFirstAndRejectedDuringARebuild) {
    sim::Block zero = sim::makeStatusRecord();
    zero[104] = 0;
    kit.block("st.bin", sim::makeStatusRecord());
    kit.line("0 disk 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", identity) + " status=" + status("zero.bin", zero));
    kit.line("10 status 1 " + status("r.bin", sim::StatusOptions().setActivity(0x01, 30)));
    kit.line("20 status 1 zero.bin");
    auto& r = kit.run(30, 0, kDec7);
    // The first record (flags 0) was taken because nothing had been seen yet.
    EXPECT_TRUE(r.linesWith("HDD Status = 0x00, Err Count = 0x00").size() == 1u);
    EXPECT_TRUE(r.linesWith("HDD Status = 0x00, Err Count = 0x01").size() == 1u);
    EXPECT_EQ(r.form().poll().StatusErrorCount, 3);  // polls at about 21.5, 25.5 and 29.5 were refused
    EXPECT_EQ(r.form().dev.EnclosureStatus[1][105], 0x01);  // the rebuild record stays
}

TEST_F(Monitor, AnUnwritableLogFolderLosesNothing) {
    // The log "folder" is a file: nothing can be written there.
    {
        std::ofstream(kit.dir() + "/blocked") << "x";
    }
    kit.logDir = kit.dir() + "/blocked";
    oneEnclosure();
    kit.line("20 status 1 " + status("pulled.bin", sim::StatusOptions().setDriveState(1, sim::kDriveAbsent)));
    auto& r = kit.run(40, 0, kDec7);
    EXPECT_EQ(r.linesWith("StatusBar1.Panel4 Log folder cannot be written, writing to " + kit.dir() + "/fallback")
                  .size(),
              1u);
    // The fallback copy stands in for this log folder only: it lives in that folder's
    // own place inside the fallback folder.
    const std::string path = r.form().eventLog().currentPath();
    ASSERT_EQ(path.rfind(kit.dir() + "/fallback/", 0), 0u) << path;
    const auto d = kit.dayFile("261207", std::filesystem::path(path).parent_path().string());
    EXPECT_EQ(d, r.form().eventLog().lines());
    EXPECT_EQ(withPrefix(d, "D1 HDD2 was removed, ").size(), 1u);
}


TEST_F(Monitor, ADeviceChurningEveryTwoSecondsHoldsNothingBack) {
    // A disk that comes and goes every 2 s for ten minutes (a flapping USB stick or loop
    // devices) beside two enclosures. Drive 2 of the first is pulled, the second starts a
    // rebuild, then the second is unplugged: each is logged and alerted within 15 s.
    kit.block("st.bin", sim::makeStatusRecord());
    kit.block("id1.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("FIRST BOX")));
    kit.block("id2.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("SECOND BOX")));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=id1.bin status=st.bin");
    kit.line("0 attach 2 mailbox identity=id2.bin status=st.bin");
    std::map<double, std::string> steps = {
        {100.5, "status 1 " + status("pulled.bin", sim::StatusOptions().setDriveState(1, sim::kDriveAbsent))},
        {200.5, "status 2 " + status("r10.bin", sim::StatusOptions().setActivity(0x01, 10))},
        {300.5, "detach 2"}};
    for (int t = 1; t < 600; t += 4) steps[t] = "disk 5", steps[t + 2] = "detach 5";
    for (const auto& [t, step] : steps) kit.line(std::to_string(t) + " " + step);
    auto& r = kit.run(620, 0, kDec7);
    ASSERT_EQ(kit.loadError, "");
    const auto secondsOf = [](const std::string& line) { return std::stod(line.substr(0, line.find(' '))); };
    const auto within = [&](const std::string& dayPrefix, int from) {
        const auto lines = withPrefix(day(), dayPrefix);
        if (lines.size() != 1) return false;
        for (int s = from; s <= from + 15; ++s)
            if (lines[0] == dayPrefix + formatDateTimeC(kDec7 + s)) return true;
        return false;
    };
    EXPECT_TRUE(within("D1 HDD2 was removed, ", 100)) << ::testing::PrintToString(day());
    EXPECT_TRUE(within("D2 HDD2 --> HDD1 10%, ", 200)) << ::testing::PrintToString(day());
    EXPECT_TRUE(within("D2 Device was removed.", 300)) << ::testing::PrintToString(day());
    // One alert each, in time, and nothing else: the churning plain disk is no event.
    const auto alerts = r.linesWith("Alert[");
    ASSERT_EQ(alerts.size(), 2u) << ::testing::PrintToString(alerts);
    EXPECT_NE(alerts[0].find("Alert[kind=1 device=0 port=1]"), std::string::npos);
    EXPECT_LE(secondsOf(alerts[0]), 115.0);
    EXPECT_NE(alerts[1].find("Alert[kind=2 device=1 port=0]"), std::string::npos);
    EXPECT_LE(secondsOf(alerts[1]), 315.0);
    EXPECT_EQ(withPrefix(day(), "    Device had changed.").size(), 1u);
    // Polling went on all the while: about one poll per 4 s.
    EXPECT_GE(r.form().PollsDone, 600u / 4 * 3 / 4);
}

}  // namespace
}  // namespace raid

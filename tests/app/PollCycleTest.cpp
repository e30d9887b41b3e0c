// The poll cycle on the virtual clock: when records are read, failures and their
// idle rounds, and what a read costs on each path.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::describe;
using test::ScenarioKit;

struct Poll : ::testing::Test {
    ScenarioKit kit;
    void machine(const std::string& path = "mailbox") {
        kit.line("0 disk 0").line("0 volume C 0");
        kit.line("0 attach 1 " + path + " identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                 " status=" + kit.block("st.bin", sim::makeStatusRecord()));
    }
    // Status reads (sector 33) whose OPEN came after `fromSeconds`... counted by trace order.
    int statusReads(const std::vector<sim::TraceLine>& t, std::size_t from = 0) {
        int n = 0;
        for (std::size_t i = from; i < t.size(); ++i) n += describe(t[i]) == "READ33";
        return n;
    }
};

TEST_F(Poll, OneReadEveryFourSeconds) {
    machine();
    auto& r = kit.run(41.9);
    ASSERT_EQ(kit.loadError, "");
    // Detection reads the status once; publication polls at once; then Timer2 arms on its
    // first tick and asks for one poll on every later tick.
    const int reads = statusReads(kit.trace());
    EXPECT_GE(reads, 10);
    EXPECT_LE(reads, 12);
    EXPECT_EQ(r.form().dev.EnclosureStatus[1], sim::makeStatusRecord());
}

TEST_F(Poll, FailuresGetAnIdleRoundAndTheDeviceIsDroppedAfterElevenRounds) {
    machine();
    kit.line("10 fail 1 read 1000");
    auto& r = kit.run(200);
    ASSERT_EQ(kit.loadError, "");
    const auto t = kit.trace();
    // Find where the failing reads start.
    std::size_t firstFail = 0;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (describe(t[i]) == "READ33" && !t[i].ok) {
            firstFail = i;
            break;
        }
    ASSERT_GT(firstFail, 0u);
    int failed = 0;
    for (std::size_t i = firstFail; i < t.size(); ++i) failed += describe(t[i]) == "READ33";
    EXPECT_EQ(failed, 6);  // rounds 1, 3, 5, 7, 9, 11 read; the others idle
    EXPECT_FALSE(r.controls().checked("CheckBox1"));
    EXPECT_EQ(r.linesWith("CheckBox1 unchecked").size(), 1u);
    EXPECT_EQ(r.linesWith("StatusBar1.Panel4 Error code 330").size(), 1u);  // one text, shown once
    EXPECT_EQ(r.form().poll().PollFailures[0], 0);
}

TEST_F(Poll, ARecoveredReadClearsTheFailureCount) {
    machine();
    kit.line("10 fail 1 read 1");
    auto& r = kit.run(40);
    EXPECT_EQ(r.form().poll().PollFailures[0], 0);
    EXPECT_TRUE(r.controls().checked("CheckBox1"));
}

TEST_F(Poll, AnUncheckedDeviceIsNotPolled) {
    machine();
    kit.line("10 check 1 off");
    kit.run(60);
    const auto t = kit.trace();
    int after = 0;
    bool seenCheck = false;
    for (const auto& l : kit.runner().lines())
        if (l.find("CheckBox1 unchecked") != std::string::npos) seenCheck = true;
    ASSERT_TRUE(seenCheck);
    // Every read happened before second 10: at most three (detection, publication, one tick).
    after = statusReads(t);
    EXPECT_LE(after, 4);
}

TEST_F(Poll, AVuPollCostsAtMost130Requests) {
    kit.line("0 attach 0 vu1 identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
             " status=" + kit.block("st.bin", sim::makeStatusRecord()));
    auto& r = kit.run(30);
    ASSERT_EQ(kit.loadError, "");
    // Slots 0..2 used: 5 probes and a read per poll.
    r.platform().enclosure(0)->setRecordSlotsUsed(0, 128);
    r.runUntil(34.1);
    const auto t = kit.trace();
    // The last poll: from its OPEN to its CLOSE.
    std::size_t open = t.size();
    for (std::size_t i = t.size(); i-- > 0;)
        if (describe(t[i]) == "OPEN PhysicalDrive0") {
            open = i;
            break;
        }
    ASSERT_LT(open, t.size());
    int requests = 0;
    for (std::size_t i = open + 1; i < t.size() && describe(t[i]) != "CLOSE"; ++i) ++requests;
    EXPECT_EQ(requests, 130);  // 1 + 128 probes + 1 read with every slot used
    EXPECT_EQ(r.form().dev.EnclosureStatus[0], sim::makeStatusRecord());
}

TEST_F(Poll, ADrivePulledKeepsItsIdentityInTheStoredRecord) {
    machine();
    sim::StatusOptions pulled;
    pulled.setDriveState(1, sim::kDriveAbsent);
    pulled.drives[1].model = "";
    pulled.drives[1].serial = "";
    pulled.drives[1].sectors = 0;
    kit.line("20 status 1 " + kit.block("pulled.bin", sim::makeStatusRecord(pulled)));
    auto& r = kit.run(30);
    ASSERT_EQ(kit.loadError, "");
    const Sector& s = r.form().dev.EnclosureStatus[1];
    const sim::Block before = sim::makeStatusRecord();
    EXPECT_EQ(s[104], sim::driveFlags(sim::kDrivePresent, sim::kDriveAbsent));
    EXPECT_TRUE(std::equal(s.begin() + 302, s.begin() + 342, before.begin() + 302));  // model
    EXPECT_TRUE(std::equal(s.begin() + 342, s.begin() + 348, before.begin() + 342));  // capacity
    EXPECT_TRUE(std::equal(s.begin() + 78, s.begin() + 98, before.begin() + 78));     // serial
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

TEST(PollClock, AFlushingHybridEnclosureIsPolledEveryFortySeconds) {
    test::ScenarioKit kit;
    sim::StatusOptions flushing;
    flushing.setKind(sim::kKindHybrid).setMode('d');
    flushing.flushPosition = 123456;  // a flush runs: cache enabled (203 bit 1 clear), position set
    kit.line("0 attach 1 mailbox identity=" +
             kit.block("id.bin", sim::makeIdentityPage(sim::IdentityOptions().setProductClass(1))) +
             " status=" + kit.block("flush.bin", sim::makeStatusRecord(flushing)));
    auto& r = kit.run(200);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_EQ(r.form().ProductClass, 4);
    EXPECT_TRUE(r.form().decoder().flushCounter() & 0x80);
    int reads = 0;
    for (const auto& t : kit.trace()) reads += test::describe(t) == "READ33";
    // Detection, publication and the first ticks before the flush was seen, then one
    // poll per ten ticks: far fewer than the fifty a normal enclosure gets.
    EXPECT_GE(reads, 5);
    EXPECT_LE(reads, 10);
}

}  // namespace
}  // namespace raid

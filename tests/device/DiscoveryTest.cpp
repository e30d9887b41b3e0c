// Discovery and the status read against the simulated enclosure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/Discovery.h"
#include "device/StatusRead.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace raid {
namespace {

struct RecordingReporter : Reporter {
    std::vector<std::string> panels, boxes;
    void panel(int index, const std::string& text) override { panels.push_back(std::to_string(index) + ":" + text); }
    void messageBox(const std::string& text, const std::string& caption) override {
        boxes.push_back((caption.empty() ? "Error" : caption) + ":" + text);
    }
};

struct Bench : ::testing::Test {
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(0);
    sim::SimPlatform platform;
    XorShiftRandom random{7};
    RecordingReporter reporter;
    Transport transport{platform, *sched, random, reporter};
    DeviceState state;
    Discovery discovery{transport, platform, state};
    sim::Block identity = sim::makeIdentityPage();
    sim::Block status = sim::makeStatusRecord();

    int detect() {
        discovery.EnumerateLetters();
        discovery.CountPhysicalDrives();
        discovery.DetectionPass();
        return state.FoundCount;
    }
    // Reads the status of active device 0 as the poll cycle does.
    bool readActive0(Sector& out) {
        state.DetectionPending = false;
        state.ActiveDevices[0] = state.FoundDevices[0];
        state.ActiveCount = 1;
        state.CurrentDevice = 0;
        return ReadStatus(transport, state, out.data());
    }
};

TEST(ComparePages, ReportsTheFirstDifference) {
    std::uint8_t a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 9, 0};
    EXPECT_EQ(ComparePages(a, a, 4), 0);
    EXPECT_EQ(ComparePages(a, b, 4), 3 - 9);
    EXPECT_EQ(ComparePages(b, a, 4), 9 - 3);
    EXPECT_EQ(ComparePages(a, b, 2), 0);
}

TEST_F(Bench, VuRecordSearchFindsTheNewestUsedSlot) {
    platform.attach(0, sim::Path::Vu1, identity, status);
    ASSERT_EQ(detect(), 1);
    EXPECT_EQ(state.FoundDevices[0], 0xA0u);
    sim::SimEnclosure& enc = *platform.enclosure(0);
    Sector out{};

    enc.setRecordSlotsUsed(0, 3);  // 0x78000..0x78200 used, 0x78300 unused
    ASSERT_TRUE(readActive0(out));
    EXPECT_EQ(out, status);
    EXPECT_EQ(enc.newestRecordAddress(), 0x78200u);

    for (auto [first, count, newest] : std::vector<std::tuple<int, int, std::uint32_t>>{
             {0, 0, 0x7FF00}, {0, 128, 0x7FF00}, {5, 10, 0x78E00}, {127, 1, 0x7FF00}, {0, 1, 0x78000}}) {
        enc.setRecordSlotsUsed(first, count);
        out.fill(0);
        ASSERT_TRUE(readActive0(out)) << first << "+" << count;
        EXPECT_EQ(out, status) << first << "+" << count;
        EXPECT_EQ(enc.newestRecordAddress(), newest);
    }
}

TEST_F(Bench, VuRecordReadFailureIsReported) {
    platform.attach(0, sim::Path::Vu2, identity, status);
    ASSERT_EQ(detect(), 1);
    Sector out{};
    platform.failNext(0, sim::FaultKind::Vu, 200);
    EXPECT_FALSE(readActive0(out));
    EXPECT_EQ(reporter.panels.back(), "4:Read Error for USB");
    EXPECT_EQ(platform.openHandles(), 0);
}

TEST_F(Bench, MailboxStatusReadAndItsErrors) {
    platform.attach(0, sim::Path::Mailbox, identity, status);
    ASSERT_EQ(detect(), 1);
    Sector out{};
    ASSERT_TRUE(readActive0(out));
    EXPECT_EQ(out, status);
    platform.failNext(0, sim::FaultKind::Read, 1);
    EXPECT_FALSE(readActive0(out));
    EXPECT_EQ(reporter.panels.back(), "4:Error code 330");

    state.ActiveCount = 0;
    EXPECT_FALSE(ReadStatus(transport, state, out.data()));
    EXPECT_EQ(reporter.panels.back(), "4:Device not found!!!");
    EXPECT_EQ(reporter.boxes.back(), "Message:No Device found !");

    state.ActiveCount = 1;
    platform.detach(0);
    EXPECT_FALSE(ReadStatus(transport, state, out.data()));
    EXPECT_EQ(reporter.boxes.back(), "Error:Invalid Drive");
}

TEST_F(Bench, DrivesAnsweringIdenticallyFormOneGroup) {
    platform.attach(2, sim::Path::Ata, identity, status);
    platform.addMember(5, 2);
    // A second enclosure with the same identity but another status is its own entry.
    platform.attach(6, sim::Path::Ata, identity, sim::makeStatusRecord(sim::StatusOptions().setMode(sim::kStriping)));
    ASSERT_EQ(detect(), 2);
    EXPECT_EQ(state.FoundDevices[0], 0x12u);
    EXPECT_EQ(state.groupCount[0], 1);
    EXPECT_EQ(state.groupMembers[0][0], 5);
    EXPECT_EQ(state.FoundDevices[1], 0x16u);
    EXPECT_EQ(state.groupCount[1], 0);
    EXPECT_EQ(platform.maxOpenHandles(), 1);
}

TEST_F(Bench, ProbingStopsAfterTheLastOpenableDrive) {
    platform.addPlainDisk(0);
    platform.attach(1, sim::Path::Mailbox, identity, status);
    discovery.EnumerateLetters();
    EXPECT_EQ(discovery.CountPhysicalDrives(), 2);
    platform.attach(7, sim::Path::Mailbox, identity, status);  // arrived after the count
    discovery.DetectionPass();
    EXPECT_EQ(state.FoundCount, 1);  // the pass stops once it has opened as many drives as were counted
}

TEST_F(Bench, TwentyOneVolumesFillTwentyRowsAndSayWhy) {
    platform.addPlainDisk(0);
    for (char l = 'C'; l < 'C' + 21; ++l) platform.addVolume(l, 0);
    EXPECT_EQ(discovery.EnumerateLetters(), 21);
    discovery.BuildDriveTable();
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0], "Error:Drive Count Must less than 20.");
    EXPECT_EQ(state.drives[19].letter, 'V');
}

TEST_F(Bench, LettersStopAtTwentyFourAndSkipAAndB) {
    for (char l = 'C'; l <= 'Z'; ++l) platform.addPlainDisk(0), platform.addVolume(l, 0);
    EXPECT_EQ(discovery.EnumerateLetters(), 24);
    EXPECT_EQ(std::string(state.letters.data()), "CDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST_F(Bench, AVolumeThatCannotBeQueriedKeepsItsOldExtent) {
    platform.addPlainDisk(0);
    platform.addVolume('C', 0);
    discovery.EnumerateLetters();
    state.drives[0].startingOffset = 12345;
    state.drives[0].diskNumber = 9;
    platform.detach(0);  // volume gone: open fails
    discovery.BuildDriveTable();
    EXPECT_EQ(state.drives[0].driveType, 0xFF);
    EXPECT_EQ(state.drives[0].startingOffset, 12345);
}

TEST_F(Bench, TheHeldDeviceIsNotProbedButStaysListed) {
    platform.attach(1, sim::Path::Mailbox, identity, status);
    platform.attach(3, sim::Path::Vu1, sim::makeIdentityPage(sim::IdentityOptions().setModel("OTHER")), status);
    ASSERT_EQ(detect(), 2);
    state.ActiveDevices = {};
    state.ActiveDevices[0] = state.FoundDevices[0];
    state.ActiveDevices[1] = state.FoundDevices[1];
    state.ActiveCount = 2;
    state.EnclosureIdentity = state.freshPages;
    state.FirstPass = false;
    state.HeldDevice = 1;
    platform.enclosure(3)->clearMailboxLog();
    const std::uint64_t before = transport.requestCount();
    discovery.CountPhysicalDrives();
    const std::uint64_t counted = transport.requestCount();
    discovery.DetectionPass();
    EXPECT_EQ(state.FoundCount, 2);
    EXPECT_EQ(state.FoundDevices[1], 0xA3u);
    EXPECT_EQ(state.freshPages[3], state.EnclosureIdentity[3]);
    // The mailbox enclosure's probe and status read happened; nothing more.
    EXPECT_GT(transport.requestCount(), counted);
    EXPECT_EQ(before, counted);
}

TEST_F(Bench, NothingReadsPastABufferWhateverTheDeviceAnswers) {
    // Enclosures whose pages are all 0xFF or all zero still run through every test.
    sim::Block ff;
    ff.fill(0xFF);
    sim::Block zero{};
    platform.attach(0, sim::Path::Vu2, ff, ff);
    platform.attach(1, sim::Path::Ata, zero, zero);
    platform.addPlainDisk(2);
    for (int i = 0; i < 3; ++i) platform.failNext(2, sim::FaultKind::Any, 1), detect();
    EXPECT_LE(state.FoundCount, 2);
}

}  // namespace
}  // namespace raid

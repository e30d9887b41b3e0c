// Discovery and the status read against the simulated enclosure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "app/DevicePresenter.h"
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

// What device work handed its report, as values (each step, each failure with where it
// was met), passed on to the presenter the engine uses.
struct Heard final : DeviceReport {
    explicit Heard(DeviceReport& next) : next_(next) {}
    std::vector<std::string> steps;
    std::vector<std::tuple<DeviceSite, DeviceFault, std::string>> failures;
    void step(const std::string& text) override {
        steps.push_back(text);
        next_.step(text);
    }
    void result(const DeviceResult& r, DeviceSite site) override {
        for (const DeviceError& e : r.errors()) failures.emplace_back(site, e.fault, e.text);
        next_.result(r, site);
    }

private:
    DeviceReport& next_;
};

struct Bench : ::testing::Test {
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(0);
    sim::SimPlatform platform;
    XorShiftRandom random{7};
    RecordingReporter reporter;
    DevicePresenter presenter{reporter};
    Heard heard{presenter};
    Transport transport{platform, *sched, random, heard};
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
        return read(out);
    }
    // Reads the status of the current device as the poll cycle does, and shows a failure.
    bool read(Sector& out) {
        const DeviceResult r = readStatusRecord(transport, state, out.data());
        transport.report().result(r, DeviceSite::status);
        return r.ok();
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
    EXPECT_FALSE(read(out));
    EXPECT_EQ(reporter.panels.back(), "4:Device not found!!!");
    EXPECT_EQ(reporter.boxes.back(), "Message:No Device found !");

    state.ActiveCount = 1;
    platform.detach(0);
    EXPECT_FALSE(read(out));
    EXPECT_EQ(reporter.boxes.back(), "Error:Invalid Drive");
}

// Every drive is asked the ways in one fixed order - the mailbox's identification
// page, the ATA IDENTIFY, then only for a vendor-unique drive nothing else reached the
// short and the long VU prefix - and the code records the way that answered. What
// recognition meets is handed on as values, and the presenter shows them as before.
TEST_F(Bench, EachDriveIsAskedTheWaysInOrderAndWhatItMeetsIsAValue) {
    auto model = [](const char* m) { return sim::makeIdentityPage(sim::IdentityOptions().setModel(m)); };
    platform.attach(0, sim::Path::Mailbox, model("UNREAD"), status);
    platform.attach(1, sim::Path::Ata, model("ATA"), status);
    platform.attach(2, sim::Path::Vu1, model("SHORT"), status);
    platform.attach(3, sim::Path::Vu2, model("LONG"), status);
    platform.addPlainDisk(4);
    platform.attach(5, sim::Path::Mailbox, model("MAILBOX"), status);
    platform.failNext(0, sim::FaultKind::Read, 1);  // its identification page cannot be read
    ASSERT_EQ(detect(), 4);

    const std::vector<std::uint32_t> codes(state.FoundDevices.begin(), state.FoundDevices.begin() + 4);
    EXPECT_EQ(codes, (std::vector<std::uint32_t>{0x11, 0xA2, 0x23, 0x45}));
    std::vector<std::string> paths;
    for (std::uint32_t code : codes) paths.push_back(pathOf(code).name());
    EXPECT_EQ(paths, (std::vector<std::string>{"ata", "vu", "vu", "mailbox"}));

    // The simulated disks all answer INQUIRY as vendor-unique devices: the two the
    // mailbox and the ATA way reached are not asked the VU ways.
    EXPECT_EQ(heard.steps, (std::vector<std::string>{"Mode 2", "Mode 3", "Mode 4",  // unreadable page
                                                     "Mode 2",                      // ATA
                                                     "Mode 2", "Mode 3",            // short prefix
                                                     "Mode 2", "Mode 3", "Mode 4",  // long prefix
                                                     "Mode 2", "Mode 3", "Mode 4",  // plain disk
                                                     "Mode 2"}));                   // mailbox
    ASSERT_EQ(heard.failures.size(), 1u);
    EXPECT_EQ(heard.failures[0], std::make_tuple(DeviceSite::detection, DeviceFault::request, std::string("Error code 580")));
    ASSERT_GE(reporter.panels.size(), 2u);
    EXPECT_EQ(reporter.panels[0], "4:Error code 580");
    EXPECT_EQ(reporter.panels[1], "2:Mode 2");
    EXPECT_TRUE(reporter.boxes.empty());
    // A request whose block cannot be allocated is told in a box of its own.
    presenter.result(outOfMemory(), DeviceSite::request);
    EXPECT_EQ(reporter.boxes, (std::vector<std::string>{"Error:Menory Alloc Error!!"}));
}

// Device work shows nothing itself: no status-bar line or box is written in device/,
// and failures become lines and boxes in one presenter, in app/. Nothing reads a
// status record through a routine that shows its failure on the way.
TEST(DeviceLayer, ShowsNothingItself) {
    namespace fs = std::filesystem;
    const fs::path root = RAID_SOURCE_DIR;
    const std::regex shows(R"((\.|->)\s*(panel|messageBox)\s*\()");
    const std::regex presents(R"(\bpresentDeviceResult\s*\()");
    const std::regex showingRead(R"(\bReadStatus\s*\()");
    for (const char* folder : {"app", "device", "gui", "maintenance", "monitor", "notify", "platform", "service", "sim"}) {
        if (!fs::exists(root / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const fs::path& p = entry.path();
            if (!entry.is_regular_file() || (p.extension() != ".cpp" && p.extension() != ".h")) continue;
            const std::string rel = p.lexically_relative(root).generic_string();
            std::ifstream in(p);
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                if (rel.starts_with("device/")) {
                    EXPECT_FALSE(std::regex_search(line, shows)) << rel << ":" << n << " shows: " << line;
                }
                if (!rel.starts_with("app/")) {
                    EXPECT_FALSE(std::regex_search(line, presents)) << rel << ":" << n << " presents: " << line;
                }
                EXPECT_FALSE(std::regex_search(line, showingRead)) << rel << ":" << n << " reads and shows: " << line;
            }
        }
    }
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
    ASSERT_EQ(heard.failures.size(), 1u);
    EXPECT_EQ(heard.failures[0],
              std::make_tuple(DeviceSite::detection, DeviceFault::tooManyDrives, std::string("Drive Count Must less than 20.")));
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

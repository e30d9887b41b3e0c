// Detection on the virtual clock against simulated machines: what is found, what the
// user sees, and which requests reach the drives in which order.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::describeAll;
using test::ScenarioKit;

// Requests from the first OPEN of `drive` in the detection pass up to its CLOSE.
std::vector<std::string> probeOf(const std::vector<std::string>& all, int drive, std::size_t from = 0) {
    const std::string open = "OPEN PhysicalDrive" + std::to_string(drive);
    std::vector<std::string> out;
    for (std::size_t i = from; i < all.size(); ++i) {
        if (all[i] != open) continue;
        // Skip bare count opens (OPEN immediately followed by CLOSE).
        if (i + 1 < all.size() && all[i + 1] == "CLOSE") continue;
        for (std::size_t j = i; j < all.size(); ++j) {
            out.push_back(all[j]);
            if (all[j] == "CLOSE") return out;
        }
    }
    return out;
}

std::size_t indexOf(const std::vector<std::string>& v, const std::vector<std::string>& seq, std::size_t from = 0) {
    for (std::size_t i = from; i + seq.size() <= v.size(); ++i)
        if (std::equal(seq.begin(), seq.end(), v.begin() + static_cast<std::ptrdiff_t>(i))) return i;
    return std::string::npos;
}

struct Machines : ::testing::Test {
    ScenarioKit kit;
    std::string id, st;
    void SetUp() override {
        id = kit.block("id.bin", sim::makeIdentityPage());
        st = kit.block("raid1.bin", sim::makeStatusRecord());
    }
};

TEST_F(Machines, ThreeEnclosuresOnThreePathsAreFoundWithTheRecognitionSequence) {
    kit.block("id2.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("SECOND BOX")));
    kit.block("id3.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("THIRD BOX")));
    kit.line("0 disk 0")
        .line("0 volume C 0")
        .line("0 attach 1 mailbox identity=" + id + " status=" + st)
        .line("0 volume E 1")
        .line("0 attach 2 vu2 identity=id2.bin status=" + st)
        .line("0 attach 3 ata identity=id3.bin status=" + st)
        .line("0 member 4 3");
    auto& r = kit.run(5);
    ASSERT_EQ(kit.loadError, "");
    MainForm& f = r.form();
    ASSERT_EQ(f.dev.FoundCount, 3);
    EXPECT_EQ(f.dev.ActiveCount, 3);
    EXPECT_EQ(f.dev.ActiveDevices[0], 0x41u);
    EXPECT_EQ(f.dev.ActiveDevices[1], 0x22u);  // VU, two-byte prefix: no 0x80
    EXPECT_EQ(f.dev.ActiveDevices[2], 0x13u);
    EXPECT_EQ(f.dev.groupCount[2], 1);
    EXPECT_EQ(f.dev.groupMembers[2][0], 4);
    EXPECT_EQ(r.linesWith("StatusBar1.Panel1 Detected OK").size(), 1u);
    EXPECT_TRUE(f.controls().checked("CheckBox1"));
    EXPECT_TRUE(f.controls().checked("CheckBox3"));

    const auto all = describeAll(kit.trace());
    // Plain disk: every test, both prefixes, nothing found.
    EXPECT_EQ(probeOf(all, 0), (std::vector<std::string>{"OPEN PhysicalDrive0", "READ58", "RESCAN", "IDENTIFY",
                                                        "INQUIRY", "VU fe8b", "TABLE fe78", "VU fefe8b",
                                                        "TABLE fefe78", "CLOSE"}));
    // Mailbox: found at sector 58, so no INQUIRY; then its status at sector 33.
    auto p1 = probeOf(all, 1);
    EXPECT_EQ(p1, (std::vector<std::string>{"OPEN PhysicalDrive1", "READ58", "RESCAN", "IDENTIFY", "CLOSE"}));
    const std::size_t at1 = indexOf(all, p1);
    EXPECT_EQ(indexOf(all, {"OPEN PhysicalDrive1", "READ33", "CLOSE"}, at1), at1 + p1.size());
    // VU with the two-byte prefix: the one-byte forms fail first.
    auto p2 = probeOf(all, 2);
    EXPECT_EQ(p2, (std::vector<std::string>{"OPEN PhysicalDrive2", "READ58", "RESCAN", "IDENTIFY", "INQUIRY",
                                           "VU fe8b", "TABLE fe78", "VU fefe8b", "CLOSE"}));
    // Its status comes from the record area: slots 0..2 used, so probes at 78000..78300
    // then the record read at 78200.
    const std::size_t at2 = indexOf(all, p2) + p2.size();
    EXPECT_EQ(indexOf(all, {"OPEN PhysicalDrive2", "PROBE 78000", "PROBE 78000", "PROBE 78100", "PROBE 78200",
                            "PROBE 78300", "VUREAD 78200", "CLOSE"},
                      at2),
              at2);
    // ATA: the mark in IDENTIFY; status at sector 33.
    auto p3 = probeOf(all, 3);
    EXPECT_EQ(p3, (std::vector<std::string>{"OPEN PhysicalDrive3", "READ58", "RESCAN", "IDENTIFY", "CLOSE"}));
    const std::size_t at3 = indexOf(all, p3) + p3.size();
    EXPECT_EQ(indexOf(all, {"OPEN PhysicalDrive3", "READ33", "CLOSE"}, at3), at3);

    // The exact IDENTIFY registers and INQUIRY CDB travel as given.
    const auto lines = kit.traceLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("ATA regs=00000000" "00e0ec sectors=1 ok") != std::string::npos;
    }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("SCSI in 36 cdb=12000000240000000000 ok") != std::string::npos;
    }));
}

TEST_F(Machines, PanelTwoEndsAtModeFourForATwoBytePrefixEnclosure) {
    kit.line("0 attach 0 vu2 identity=" + id + " status=" + st);
    auto& r = kit.run(3);
    ASSERT_EQ(kit.loadError, "");
    std::vector<std::string> modes;
    for (const auto& l : r.linesWith("StatusBar1.Panel2 ")) modes.push_back(l.substr(l.find("Panel2 ") + 7));
    ASSERT_GE(modes.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(modes.end() - 4, modes.end()),
              (std::vector<std::string>{"Mode 2", "Mode 3", "Mode 4", " "}));
    EXPECT_EQ(r.form().dev.ActiveDevices[0], 0x20u);
}

TEST_F(Machines, OnlyPlainDisksFindNothing) {
    kit.line("0 disk 0").line("0 volume C 0").line("0 disk 1");
    auto& r = kit.run(10);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_EQ(r.form().dev.FoundCount, 0);
    EXPECT_EQ(r.controls().text("StaticText1"), "No Drive found! ");
    EXPECT_TRUE(r.controls().visible("StaticText1"));
    EXPECT_FALSE(r.controls().enabled("Image_Sts"));
    EXPECT_FALSE(r.controls().visible("CheckBox1"));
    EXPECT_FALSE(r.scheduler().timerEnabled(r.form().Timer2));
    EXPECT_EQ(r.form().detection().passTimesUs().size(), 1u);
}

TEST_F(Machines, FailingSector58ReadStillFindsTheDriveOnAnotherPath) {
    kit.line("0 attach 0 ata identity=" + id + " status=" + st).line("0 fail 0 read 1");
    auto& r = kit.run(3);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_EQ(r.linesWith("StatusBar1.Panel4 Error code 580").size(), 1u);
    EXPECT_EQ(r.form().dev.ActiveDevices[0], 0x10u);
}

TEST_F(Machines, DriveTableRowsComeFromVolumesAndTheirExtents) {
    kit.line("0 disk 0").line("0 volume C 0").line("0 attach 1 mailbox identity=" + id + " status=" + st)
        .line("0 volume E 1").line("0 volume F 1");
    auto& r = kit.run(2);
    ASSERT_EQ(kit.loadError, "");
    const DeviceState& d = r.form().dev;
    ASSERT_EQ(d.LogicalCount, 3);
    EXPECT_EQ(std::string(d.letters.data()), "CEF");
    EXPECT_EQ(d.drives[0].letter, 'C');
    EXPECT_EQ(d.drives[0].diskNumber, 0);
    EXPECT_EQ(d.drives[1].letter, 'E');
    EXPECT_EQ(d.drives[1].diskNumber, 1);
    EXPECT_EQ(d.drives[1].driveType, kDriveFixed);
    EXPECT_EQ(d.drives[2].diskNumber, 1);
}

// --- re-detection after device changes ---

struct Replug : Machines {
    void base() {
        kit.line("0 disk 0").line("0 volume C 0").line("0 attach 1 mailbox identity=" + id + " status=" + st)
            .line("0 volume E 1");
    }
    std::vector<double> passSeconds() {
        std::vector<double> s;
        for (auto us : kit.runner().form().detection().passTimesUs()) s.push_back(static_cast<double>(us) / 1e6);
        return s;
    }
};

TEST_F(Replug, AnUnplugCausesOneRedetectionFiveSecondsLater) {
    base();
    kit.line("30 detach 1");
    kit.run(60);
    const auto s = passSeconds();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_GE(s[1], 35.0);
    EXPECT_LE(s[1], 36.1);
    EXPECT_EQ(kit.runner().form().dev.ActiveCount, 0);
    EXPECT_EQ(kit.runner().controls().text("StaticText1"), "No Drive found! ");
}

TEST_F(Replug, TwoChangesTwoSecondsApartCauseOnePassAfterTheSecond) {
    base();
    kit.line("30 detach 1").line("32 attach 2 mailbox identity=" + id + " status=" + st);
    kit.run(60);
    const auto s = passSeconds();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_GE(s[1], 37.0);
    EXPECT_LE(s[1], 38.1);
    EXPECT_EQ(kit.runner().form().dev.ActiveDevices[0], 0x42u);
}

TEST_F(Replug, AChangeThatLeavesTheCountsAloneCausesNone) {
    base();
    kit.line("30 detach 1").line("31 attach 1 mailbox identity=" + id + " status=" + st).line("31 volume E 1");
    kit.run(60);
    EXPECT_EQ(passSeconds().size(), 1u);
    EXPECT_EQ(kit.runner().form().dev.ActiveCount, 1);
}

TEST_F(Replug, DetectingBlinksUntilThePassIsPublished) {
    // Slow requests keep the first pass running for a few ticks.
    base();
    auto& r = kit.run(5, 100000);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_GE(r.linesWith("StaticText1 hidden").size(), 2u);
    EXPECT_GE(r.linesWith("StaticText1 shown").size(), 1u);
    EXPECT_EQ(r.linesWith("StatusBar1.Panel1 Detected OK").size(), 1u);
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

TEST(Redetection, ADeviceChangeDuringAPassWaitsForItToEnd) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                              " status=" + kit.block("st.bin", sim::makeStatusRecord()));
    // A second per request: the first pass runs for half a minute; a disk arrives meanwhile.
    kit.line("1 disk 2");
    auto& r = kit.run(120, 1000000);
    ASSERT_EQ(kit.loadError, "");
    // Had the re-count run inside the pass, it would have closed the pass's handle
    // under it: a request would then follow a CLOSE (or a failed OPEN) directly.
    bool open = false;
    for (const auto& t : kit.trace()) {
        using K = sim::TraceLine::Kind;
        if (t.kind == K::Open)
            open = t.ok;
        else if (t.kind == K::Close)
            open = false;
        else
            EXPECT_TRUE(open) << "request " << t.seq << " without an open handle";
    }
    ASSERT_EQ(r.form().detection().passTimesUs().size(), 2u);
    EXPECT_EQ(r.form().dev.ActiveCount, 1);
}

}  // namespace
}  // namespace raid

// Scenario files: refusals before the run (with file:line), what the steps do to the
// platform, and the built-in default scenario written out and read back.
#include "Requests.h"
#include "sim/Records.h"
#include "sim/Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace raid::sim;
using namespace simtest;
namespace fs = std::filesystem;

namespace {

class ScenarioFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("raid-sim-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_TRUE(writeBlockFile((dir / "id.bin").string(), makeIdentityPage()));
        ASSERT_TRUE(writeBlockFile((dir / "ok.bin").string(), makeStatusRecord()));
        ASSERT_TRUE(writeBlockFile((dir / "bad.bin").string(),
                                   makeStatusRecord(StatusOptions().setDriveState(1, kDriveAbsent))));
        std::ofstream((dir / "short.bin").string(), std::ios::binary) << "tiny";
    }
    void TearDown() override { fs::remove_all(dir); }

    bool parse(const std::string& text, Scenario& sc, std::string& err, const ExtraVerbs& extra = {}) {
        std::istringstream in(text);
        return parseScenario(in, "t.scn", dir.string(), sc, err, extra);
    }
    std::string refusal(const std::string& text) {
        Scenario sc;
        std::string err;
        EXPECT_FALSE(parse(text, sc, err)) << text;
        return err;
    }
    fs::path dir;
};

TEST_F(ScenarioFiles, ParsesEveryVerbWithCommentsAndFractions) {
    Scenario sc;
    std::string err;
    ASSERT_TRUE(parse("# machine\n"
                      "0 disk 0   # system disk\n"
                      "\n"
                      "0 attach 1 vu2 status=ok.bin identity=id.bin\n"
                      "0 volume e 1\n"
                      "0 member 2 1\n"
                      "20.3 status 2 bad.bin\n"
                      "20.3 fail 1 inquiry 4\n"
                      "30 detach 2\n"
                      "31 check 1 on\n",
                      sc, err, {"check"}))
        << err;
    ASSERT_EQ(sc.steps.size(), 8u);
    EXPECT_EQ(sc.name, "t");
    const ScenarioStep& a = sc.steps[1];
    EXPECT_EQ(a.line, 4);
    EXPECT_EQ(a.path, Path::Vu2);
    EXPECT_EQ(a.identity, makeIdentityPage());
    EXPECT_EQ(a.status, makeStatusRecord());
    EXPECT_EQ(sc.steps[2].letter, 'E');
    EXPECT_EQ(sc.steps[3].other, 1);
    EXPECT_DOUBLE_EQ(sc.steps[4].seconds, 20.3);
    EXPECT_EQ(sc.steps[4].status[raidrec::kDriveFlags], 0x42);
    EXPECT_EQ(sc.steps[5].fault, FaultKind::Inquiry);
    EXPECT_EQ(sc.steps[5].count, 4);
    EXPECT_EQ(sc.steps[7].verb, "check");
    EXPECT_EQ(sc.steps[7].args, (std::vector<std::string>{"1", "on"}));

    // Applied in order: hot-plugs after second 0 ask for a device-change notification.
    SimPlatform p;
    std::vector<bool> hot;
    for (const auto& s : sc.steps) hot.push_back(applyStep(p, s));
    EXPECT_EQ(hot, (std::vector<bool>{false, false, false, false, false, false, true, false}));
    EXPECT_FALSE(p.present(2));
    EXPECT_EQ(p.enclosure(1)->status(), sc.steps[4].status);
    EXPECT_EQ(p.logicalDriveMask(), 1u << ('E' - 'A'));
}

TEST_F(ScenarioFiles, RefusesBadStepsWithFileAndLine) {
    const std::string attach = "0 attach 1 mailbox identity=id.bin status=ok.bin\n";
    struct Case { std::string text, message; };
    const Case cases[] = {
        {"0 fly 1\n", "t.scn:1: unknown verb 'fly'"},
        {"\n# x\n0 disk 10\n", "t.scn:3: drive number 10 is outside 0..9"},
        {"0 disk one\n", "t.scn:1: bad drive number 'one'"},
        {"0 disk 1 2\n", "t.scn:1: 'disk' takes 1 argument, not 2"},
        {"0 attach 1 mailbox identity=id.bin\n", "t.scn:1: 'attach' takes 4 arguments, not 3"},
        {"0 attach 1 usb identity=id.bin status=ok.bin\n", "t.scn:1: unknown path 'usb' (mailbox, ata, vu1 or vu2)"},
        {"0 attach 1 ata identity=id.bin identity=ok.bin\n",
         "t.scn:1: unexpected argument 'identity=ok.bin' (expected identity=FILE status=FILE)"},
        {"0 attach 1 ata identity=none.bin status=ok.bin\n", "t.scn:1: identity file cannot read '" + (dir / "none.bin").string() + "'"},
        {"0 attach 1 ata identity=id.bin status=short.bin\n",
         "t.scn:1: status file '" + (dir / "short.bin").string() + "' is 4 bytes, not 512"},
        {"0 disk 1\n0 member 2 1\n", "t.scn:2: drive 1 is not an enclosure"},
        {attach + "5 detach 1\n6 member 2 1\n", "t.scn:3: drive 1 is not an enclosure"},
        {attach + "0 disk 1\n", "t.scn:2: drive 1 is already present"},
        {"0 status 3 ok.bin\n", "t.scn:1: drive 3 is not an enclosure"},
        {"0 detach 4\n", "t.scn:1: drive 4 is not present"},
        {"0 volume B 1\n", "t.scn:1: bad volume letter 'B' (C..Z)"},
        {"0 fail 1 write 0\n", "t.scn:1: bad count '0'"},
        {"0 fail 1 smoke 2\n", "t.scn:1: unknown fault 'smoke' (read, write, inquiry, ata, vu, any, flashread, flasherase, flashprogram or flashmode)"},
        {"10 disk 0\n9.5 disk 1\n", "t.scn:2: time 9.5 is before the previous step's 10"},
        {"-1 disk 0\n", "t.scn:1: bad time '-1'"},
        {"1e3 disk 0\n", "t.scn:1: bad time '1e3'"},
        {"5\n", "t.scn:1: missing verb after the time"},
        {"0 check 1 on\n", "t.scn:1: unknown verb 'check'"},  // only when the caller handles it
    };
    for (const Case& c : cases) EXPECT_EQ(refusal(c.text), c.message);
}

TEST_F(ScenarioFiles, LoadResolvesFilesNextToTheScenario) {
    const fs::path file = dir / "two.scenario";
    std::ofstream(file) << "0 attach 3 ata identity=id.bin status=ok.bin\n1.5 status 3 " << (dir / "bad.bin").string() << "\n";
    Scenario sc;
    std::string err;
    ASSERT_TRUE(loadScenario(file.string(), sc, err)) << err;
    EXPECT_EQ(sc.name, "two");
    EXPECT_EQ(sc.steps[1].status[raidrec::kDriveFlags], 0x42);

    EXPECT_FALSE(loadScenario((dir / "missing.scenario").string(), sc, err));
    EXPECT_EQ(err, (dir / "missing.scenario").string() + ":0: cannot read the scenario file");
}

TEST_F(ScenarioFiles, DefaultScenarioRoundTripsThroughFiles) {
    const Scenario def = defaultScenario();
    std::string err;
    const std::string path = saveScenario(def, dir.string(), err);
    ASSERT_FALSE(path.empty()) << err;
    Scenario back;
    ASSERT_TRUE(loadScenario(path, back, err)) << err;
    ASSERT_EQ(back.steps.size(), def.steps.size());
    for (std::size_t i = 0; i < def.steps.size(); ++i) {
        const ScenarioStep &a = def.steps[i], &b = back.steps[i];
        EXPECT_EQ(a.seconds, b.seconds);
        EXPECT_EQ(a.verb, b.verb);
        EXPECT_EQ(a.drive, b.drive);
        EXPECT_EQ(a.letter, b.letter);
        EXPECT_EQ(a.path, b.path);
        EXPECT_EQ(a.identity, b.identity);
        EXPECT_EQ(a.status, b.status);
    }

    // What the default machine looks like from the program's side.
    SimPlatform p;
    for (const auto& s : back.steps) EXPECT_FALSE(applyStep(p, s));
    EXPECT_EQ(p.logicalDriveMask(), (1u << 2) | (1u << 4));
    ASSERT_NE(p.enclosure(1), nullptr);
    EXPECT_EQ(p.enclosure(1)->path(), Path::Mailbox);
    EXPECT_EQ(p.enclosure(0), nullptr);
    const DriveHandle h = p.open(1);
    auto r58 = read10(58);
    ASSERT_TRUE(r58.send(p, h));
    EXPECT_TRUE(hasMark(r58.data.data()));
    auto r33 = read10(33);
    ASSERT_TRUE(r33.send(p, h));
    EXPECT_EQ(r33.data[raidrec::kMode], kMirroring);
    EXPECT_EQ(r33.data[raidrec::kDriveFlags], 0x22);
}

TEST(Records, FieldsLandWhereTheDecoderLooks) {
    const Block id = makeIdentityPage(IdentityOptions().setFirmware("100126.0").setProductClass(1));
    EXPECT_EQ(getAtaString(id.data() + identity::kFirmware, 8), "100126.0");
    EXPECT_EQ(id[identity::kFirmware], '0');  // "10" stored as '0','1'
    EXPECT_EQ(id[identity::kFirmware + 1], '1');
    EXPECT_EQ(id[identity::kProductClass], 1);
    EXPECT_TRUE(hasMark(id.data()));

    DriveRecord big;
    big.serial = "S2";
    big.sectors = 0x123456789Aull;
    const Block raid = makeStatusRecord(
        StatusOptions().setMode(kStriping).setDrive(1, big).setDriveState(0, kDriveFailed).setFan(0xA5, 0x1234, 61));
    EXPECT_EQ(raid[0], 0x00);
    EXPECT_EQ(raid[1], kKindRaid);
    EXPECT_EQ(raid[raidrec::kMode], kStriping);
    EXPECT_EQ(raid[raidrec::kDriveFlags], 0x28);
    EXPECT_EQ(getLe40(raid.data() + raidrec::kCapacity2), 0x123456789Aull);
    EXPECT_EQ(getLe40(raid.data() + raidrec::kCapacity), 2 * k4TbSectors);  // striping: twice the smaller drive
    EXPECT_EQ(getAtaString(raid.data() + raidrec::kModel1, 40), "WDC WD40EFRX-68N32N0");
    EXPECT_EQ(getAtaString(raid.data() + raidrec::kSerial2, 20), "S2");
    EXPECT_EQ(getLe16(raid.data() + raidrec::kFanSpeed), 0x1234);
    EXPECT_EQ(raid[raidrec::kTemperature], 61);
    EXPECT_EQ(raid[raidrec::kSataSpeeds], 0x33);
    EXPECT_EQ(std::string(raid.begin() + raidrec::kSubCode, raid.begin() + raidrec::kSubCode + 3), "A01");

    const Block hyb = makeStatusRecord(StatusOptions().setKind(kKindHybrid).setMode(2));
    EXPECT_EQ(hyb[hybridrec::kMode], 2);
    EXPECT_EQ(hyb[hybridrec::kDriveFlags], 0x22);
    EXPECT_EQ(getLe32(hyb.data() + hybridrec::kFlushPosition), 0xFFFFFFFFu);
    EXPECT_EQ(getAtaString(hyb.data() + hybridrec::kModel2, 40), "WDC WD40EFRX-68N32N0");
    EXPECT_EQ(getLe40(hyb.data() + hybridrec::kCapacity1), k4TbSectors);
    const Block b0 = makeStatusRecord(StatusOptions().setKind(kKindHybridNoMode).setMode(2));
    EXPECT_EQ(b0[hybridrec::kMode], 0);  // this kind has no mode byte
}

}  // namespace

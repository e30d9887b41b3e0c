// The Status page model against records made the way the simulated controller makes
// them: every text, colour and enabled state a drawing leaves, and the shared state
// that decides what a later drawing leaves untouched.
#include <gtest/gtest.h>

#include "monitor/StatusPageModel.h"
#include "monitor/StatusRecord.h"
#include "sim/Records.h"

namespace raid {
namespace {

using sim::StatusOptions;

// One or two watched enclosures with the given firmware revisions.
struct Tables {
    DeviceState dev;
    explicit Tables(std::vector<std::string> firmware = {"101208.0"}) {
        dev.ActiveCount = static_cast<int>(firmware.size());
        for (std::size_t i = 0; i < firmware.size(); ++i) {
            const std::uint8_t slot = static_cast<std::uint8_t>(i + 1);
            dev.ActiveDevices[i] = slot | kCodeMailbox;
            sim::IdentityOptions o;
            o.firmware = firmware[i];
            o.model = "ENCLOSURE " + std::to_string(i + 1);
            dev.EnclosureIdentity[slot] = sim::makeIdentityPage(o);
        }
    }
};

struct Model : ::testing::Test {
    Tables tables;
    StatusPageModel model;
    void SetUp() override { model.refreshDevices(tables.dev, 0, "T"); }
    StatusDrawing draw(const StatusOptions& o, bool full = true) {
        const Sector record = sim::makeStatusRecord(o);
        return model.draw(record, 0, true, full);
    }
    StatusDrawing draw(const Sector& record, bool full = true) { return model.draw(record, 0, true, full); }
};

TEST_F(Model, ModeTextsForEveryRaidAndHybridModeAndTheRest) {
    const std::pair<std::uint8_t, const char*> raidModes[] = {{0, "Striping(RAID0)"}, {1, "Mirroring(RAID1)"},
                                                             {2, "NRAID"},           {3, "JBOD"},
                                                             {63, "Bypass"},         {4, "Undefine"},
                                                             {62, "Undefine"},       {255, "Undefine"}};
    for (auto [mode, text] : raidModes) EXPECT_EQ(draw(StatusOptions().setMode(mode)).mode, text) << int(mode);
    const std::pair<std::uint8_t, const char*> hybridModes[] = {
        {'D', "CacheHDD"}, {'M', "Safe"},         {'S', "Extended"},  {'d', "CacheSSD"},
        {'s', "SingleHDD"}, {127, "VirtualDisk"}, {'x', "Undefined"}, {0, "Undefined"}};
    for (auto [mode, text] : hybridModes) {
        const StatusDrawing d = draw(StatusOptions().setKind(sim::kKindHybrid).setMode(mode));
        EXPECT_EQ(d.mode, text) << int(mode);
        EXPECT_EQ(d.driveNames[0], "SSD");
        EXPECT_EQ(d.driveNames[1], "HDD");
    }
    const StatusDrawing raid = draw(StatusOptions());
    EXPECT_EQ(raid.driveNames[0], "HDD1");
    EXPECT_EQ(raid.firmware, "101208.0.A01");
    EXPECT_EQ(raid.configured, "3726 GB");
}

TEST_F(Model, EachDriveStateDrawsItsLabels) {
    // Present: navy capacity with its line break, the untrimmed 40-character model.
    StatusDrawing d = draw(StatusOptions());
    ASSERT_TRUE(d.drivesDrawn);
    EXPECT_EQ(d.drives[0].action, DriveDraw::Action::Fill);
    EXPECT_EQ(d.drives[0].capacity, "3726 GB\n");
    EXPECT_EQ(d.drives[0].capacityColor, "navy");
    EXPECT_EQ(d.drives[0].model, std::string("WDC WD40EFRX-68N32N0") + std::string(20, ' '));
    EXPECT_TRUE(d.drives[0].capacityEnabled && d.drives[0].modelEnabled);

    // Failed: red capacity, enabled; the model greyed.
    d = draw(StatusOptions().setDriveState(1, sim::kDriveFailed));
    EXPECT_EQ(d.drives[1].capacityColor, "red");
    EXPECT_TRUE(d.drives[1].capacityEnabled);
    EXPECT_FALSE(d.drives[1].modelEnabled);
    EXPECT_EQ(d.drives[1].model.substr(0, 20), "WDC WD40EFRX-68N32N0");
    EXPECT_FALSE(d.ssdMessage);
    EXPECT_EQ(d.centre, "Single HDD\nPresent");

    // Absent with its serial still in the record: shown greyed.
    d = draw(StatusOptions().setDriveState(0, sim::kDriveAbsent));
    EXPECT_EQ(d.drives[0].action, DriveDraw::Action::Grey);
    EXPECT_EQ(d.drives[0].capacity, "3726 GB\n");
    EXPECT_FALSE(d.drives[0].capacityEnabled || d.drives[0].modelEnabled);
    EXPECT_EQ(d.drives[0].capacityColor, "");  // the colour stays as it was

    // Absent without a serial: greyed and emptied.
    Sector gone = sim::makeStatusRecord(StatusOptions().setDriveState(0, sim::kDriveAbsent));
    std::fill(gone.begin() + sim::raidrec::kSerial1, gone.begin() + sim::raidrec::kSerial1 + 20, 0);
    d = draw(gone);
    EXPECT_EQ(d.drives[0].action, DriveDraw::Action::Grey);
    EXPECT_EQ(d.drives[0].capacity, "");
    EXPECT_EQ(d.drives[0].model, "");

    // No state bits: emptied. Drive 1's inserted bit alone changes nothing; drive 2's
    // inserted bit is not looked at.
    d = draw(StatusOptions().setDriveState(0, 0).setDriveState(1, 0));
    EXPECT_EQ(d.drives[0].action, DriveDraw::Action::Empty);
    EXPECT_EQ(d.drives[1].action, DriveDraw::Action::Empty);
    EXPECT_EQ(d.centre, "Failure");
    d = draw(StatusOptions().setDriveState(0, sim::kDriveInserted).setDriveState(1, sim::kDriveInserted));
    EXPECT_EQ(d.drives[0].action, DriveDraw::Action::Keep);
    EXPECT_EQ(d.drives[1].action, DriveDraw::Action::Empty);
}

TEST_F(Model, DrivesAreRedrawnOnlyWhenTheirFlagsChangeOrInFull) {
    EXPECT_TRUE(draw(StatusOptions(), false).drivesDrawn);  // 0xFF at start: always differs
    EXPECT_EQ(model.lastDrawnFlags(), 0x22);
    EXPECT_FALSE(draw(StatusOptions(), false).drivesDrawn);
    EXPECT_TRUE(draw(StatusOptions(), true).drivesDrawn);
    EXPECT_TRUE(draw(StatusOptions().setDriveState(1, sim::kDriveFailed), false).drivesDrawn);
}

TEST_F(Model, FanAndTemperatureAndTheirPanel) {
    Sector record = sim::makeStatusRecord(StatusOptions());
    record[349] = 0x10;
    record[350] = 0x27;
    StatusDrawing d = draw(record);
    EXPECT_EQ(d.fan, "10000");
    EXPECT_EQ(d.fanColor, "blue");
    EXPECT_EQ(d.temperature, "38");
    EXPECT_TRUE(d.panelVisible);

    d = draw(StatusOptions().setFan(0xA5, 900, 61));
    EXPECT_EQ(d.fanColor, "red");
    EXPECT_EQ(d.temperatureColor, "red");
    EXPECT_TRUE(d.panelVisible);
    EXPECT_FALSE(draw(StatusOptions().setFan(0xAA, 900, 61)).panelVisible);  // 0xAA: not valid values
    EXPECT_FALSE(draw(StatusOptions().setFan(0x50, 900, 61)).panelVisible);  // high nibble not 0xA
    EXPECT_FALSE(draw(StatusOptions().setKind(sim::kKindHybrid)).panelVisible);

    // A firmware without fan and temperature monitoring never shows the panel.
    Tables old({"100125.0"});
    model.refreshDevices(old.dev, 0, "T");
    EXPECT_FALSE(model.monitorCapable(0));
    EXPECT_FALSE(draw(StatusOptions()).panelVisible);
}

TEST_F(Model, RebuildProgressAndDirection) {
    StatusDrawing d = draw(StatusOptions().setActivity(0x01, 37));
    EXPECT_EQ(d.centre, "37%\n<<<<\nRebuilding");
    EXPECT_TRUE(d.showLogImage);
    ASSERT_TRUE(d.bays);
    EXPECT_EQ(baysWords(*d.bays), "raid present present rebuild 1 37");
    // The same percentage again leaves the centre text and the picture untouched.
    d = draw(StatusOptions().setActivity(0x01, 37), false);
    EXPECT_FALSE(d.centre);
    EXPECT_FALSE(d.bays);
    EXPECT_TRUE(d.showLogImage);
    d = draw(StatusOptions().setActivity(0x02, 38), false);
    EXPECT_EQ(d.centre, "38%\n>>>>\nRebuilding");
    // Kind 0xB0 keeps its activity at 203 while direction and progress stay at 105 and
    // 106: with neither direction bit only the percentage is remembered.
    Sector second = sim::makeStatusRecord(StatusOptions().setKind(sim::kKindHybridNoMode).setActivity(0x01, 0));
    second[105] = 0;
    second[106] = 39;
    d = draw(second, false);
    EXPECT_EQ(d.centre, std::nullopt);
    EXPECT_EQ(model.lastShownProgress(), 39);
    // Idle: the drive summary, and the next activity is shown whatever its percentage.
    d = draw(StatusOptions(), false);
    EXPECT_EQ(d.centre, "Normal");
    EXPECT_EQ(model.lastShownProgress(), 0xFF);
    EXPECT_EQ(baysWords(*d.bays), "raid present present idle");
    EXPECT_EQ(draw(StatusOptions().setActivity(0x01, 39), false).centre, "39%\n<<<<\nRebuilding");
}

TEST_F(Model, ScanTextsOnlyWithAScanCapableFirmware) {
    // 0x81: a scan of drive 1 on a firmware that reports scans.
    Tables scanning({"090619.0"});
    model.refreshDevices(scanning.dev, 0, "T");
    EXPECT_TRUE(model.scanCapable(0));
    StatusDrawing d = draw(StatusOptions().setActivity(0x81, 12));
    EXPECT_EQ(d.centre, "12%\nHDD1 Scan");
    EXPECT_EQ(baysWords(*d.bays), "raid present present scan 1 12");
    EXPECT_EQ(draw(StatusOptions().setActivity(0x82, 13), false).centre, "13%\nHDD2 Scan");

    // The same record on an older firmware is a rebuild.
    Tables old({"090101.0"});
    model.refreshDevices(old.dev, 0, "T");
    EXPECT_FALSE(model.scanCapable(0));
    draw(StatusOptions());
    EXPECT_EQ(draw(StatusOptions().setActivity(0x81, 12)).centre, "12%\n<<<<\nRebuilding");
}

StatusOptions hybrid(std::uint8_t cacheState, std::uint32_t flush = 0xFFFFFFFFu) {
    StatusOptions o;
    o.setKind(sim::kKindHybrid).setMode('D');
    o.activity = cacheState;
    o.flushPosition = flush;
    o.flushPosition2 = 0x12345678AAull;
    return o;
}

TEST_F(Model, HybridCacheDisabledAfterEnabledAnnouncesTheSsdOnce) {
    StatusDrawing d = draw(hybrid(0x00));
    EXPECT_EQ(d.centre, "Normal");
    EXPECT_TRUE(d.resetSlowDivider);
    EXPECT_TRUE(model.cacheEnabledSeen());
    EXPECT_EQ(d.mailOptOutEnabled, true);
    EXPECT_FALSE(d.ssdMessage);
    d = draw(hybrid(0x02), false);
    EXPECT_TRUE(d.ssdMessage);
    EXPECT_FALSE(draw(hybrid(0x02), false).ssdMessage);  // once per change
    EXPECT_FALSE(draw(hybrid(0x00), false).ssdMessage);
    EXPECT_TRUE(draw(hybrid(0x02), false).ssdMessage);
    EXPECT_EQ(std::string(kSsdRemovalMessage), "You can shut down the system and\nremove the SSD from Hybrid Device. ");
}

TEST_F(Model, HybridFlushShowsPositionsAndStatusTexts) {
    StatusDrawing d = draw(hybrid(0x00, 123456789));
    EXPECT_EQ(d.centre, "-> flushing ->");
    EXPECT_EQ(d.flush[0], "LBA: 123456789");
    EXPECT_EQ(d.flush[1], "LBA: " + std::to_string(0x12345678AAull));
    ASSERT_TRUE(d.panels);
    EXPECT_EQ((*d.panels)[0], "DataShow 22");
    EXPECT_EQ((*d.panels)[1], "[203] = 00");
    EXPECT_EQ((*d.panels)[2], "[204] = 00");
    EXPECT_FALSE(d.resetSlowDivider);
    EXPECT_EQ(baysWords(*d.bays), "hybrid present present flush");

    // A cache disable request (byte 204 = 1) hides the texts and greys CheckBox2.
    StatusOptions req = hybrid(0x00, 5);
    req.cacheDisableRequest = 1;
    d = draw(req);
    EXPECT_FALSE(d.panels);
    EXPECT_EQ(d.mailOptOutEnabled, false);
    d = draw(hybrid(0x08, 5));
    EXPECT_FALSE(d.panels);
    EXPECT_EQ(d.mailOptOutEnabled, false);

    // VirtualDisk: the drive summary and empty flush labels.
    d = draw(hybrid(0x00, 5).setMode(127));
    EXPECT_EQ(d.centre, "Normal");
    EXPECT_EQ(d.flush[0], "");
    EXPECT_FALSE(d.mailOptOutEnabled);
    // One drive missing and not VirtualDisk: the centre is left alone.
    d = draw(hybrid(0x00, 5).setDriveState(1, sim::kDriveAbsent));
    EXPECT_FALSE(d.centre);
}

TEST_F(Model, TimerTextsForAHybridOutsideTheFlush) {
    model.refreshDevices(tables.dev, 0, "T");
    const Sector plain = sim::makeStatusRecord(hybrid(0x00));
    EXPECT_FALSE(model.timerTexts(plain, false));  // product class 1
    sim::IdentityOptions o;
    o.productClass = 1;
    tables.dev.EnclosureIdentity[1] = sim::makeIdentityPage(o);
    model.refreshDevices(tables.dev, 0, "T");
    EXPECT_EQ(model.productClass(), 4);
    const auto t = model.timerTexts(sim::makeStatusRecord(hybrid(0x04)), false);
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)[0], "Timer5 22");
    EXPECT_EQ((*t)[1], "[203] = 04");
    EXPECT_EQ((*t)[2], "[204] = 00");
    EXPECT_FALSE(model.timerTexts(plain, true));
    EXPECT_FALSE(model.timerTexts(sim::makeStatusRecord(hybrid(0x08)), false));
    model.switching = true;
    EXPECT_FALSE(model.timerTexts(plain, false));
}

TEST_F(Model, NothingIsDrawnWithoutACheckedDeviceAndUnknownKindsStopAfterTheFirmware) {
    const Sector record = sim::makeStatusRecord(StatusOptions());
    EXPECT_EQ(model.draw(record, 0, false, true).result, -1);
    EXPECT_EQ(model.lastDrawnFlags(), 0xFF);
    Sector odd = record;
    odd[1] = 0x55;
    const StatusDrawing d = draw(odd);
    EXPECT_EQ(d.result, 0);
    EXPECT_FALSE(d.controller);
    EXPECT_EQ(d.firmware, "101208.0.A01");
    EXPECT_FALSE(d.drivesDrawn);
}

TEST_F(Model, DeviceNamesCarryTheirLettersAndTheCaptionTheCurrentDevice) {
    Tables two({"101208.0", "090101.0"});
    DeviceState& dev = two.dev;
    dev.LogicalCount = 4;
    dev.drives[0] = {'C', 3, 0, 0, 0};
    dev.drives[1] = {'E', 3, 1, 0, 0};
    dev.drives[2] = {'F', 2, 1, 0, 0};  // removable: not a volume of the enclosure
    dev.drives[3] = {'G', 3, 1, 0, 0};
    DeviceRefreshView v = model.refreshDevices(dev, 1, "RAID GUI v0.23.7-3");
    EXPECT_EQ(v.names[0], "ENCLOSURE 1 [EG]");
    EXPECT_EQ(v.names[1], "ENCLOSURE 2 []");
    EXPECT_EQ(v.caption, "RAID GUI v0.23.7-3 - ENCLOSURE 2 []");
    EXPECT_EQ(v.revision, "090101.0");
    EXPECT_TRUE(model.monitorCapable(0));
    EXPECT_FALSE(model.scanCapable(1));
    // A device no longer watched has no name and no capabilities.
    dev.ActiveCount = 1;
    v = model.refreshDevices(dev, 0, "T");
    EXPECT_EQ(v.names[1], "");
    EXPECT_FALSE(v.watched[1]);
    EXPECT_FALSE(model.scanCapable(1));
    EXPECT_FALSE(model.scanCapable(7));
}

}  // namespace
}  // namespace raid

// What stops an upgrade or makes it fail half-way: refusals before anything is written,
// a request failing at each step, an enclosure pulled out, a read-back that differs,
// and the record area's sector rules. Each time the user is told in the controller's
// words and the program is back to normal afterwards.
#include "support/UpgradeRig.h"

namespace raid {
namespace {

using namespace raid::test;
using Faults = UpgradeRig;
using sim::FaultKind;

TEST_P(Faults, RefusalsBeforeAnythingIsWritten) {
    const auto before = flash();
    // Nothing loaded.
    EXPECT_EQ(press(), std::vector<std::string>{"Message:Please Load Firmware File First "});
    EXPECT_FALSE(form->MaintenanceBusy);

    load(sim::makeFirmwareImage());
    sim::Block busy = sim::makeStatusRecord();
    busy[105] |= 0x01;  // a rebuild is running
    platform.setStatus(1, busy);
    EXPECT_EQ(press(), std::vector<std::string>{"Error:Don't upgrade new firmware when device is rebuilding or scanning."});

    sim::Block odd = sim::makeStatusRecord();
    odd[1] = 0xD0;
    platform.setStatus(1, odd);
    EXPECT_EQ(press(), std::vector<std::string>{"Error:SPI Configuration Version Error"});

    platform.setStatus(1, sim::makeStatusRecord());
    const bool vu = GetParam() == Path::Vu1 || GetParam() == Path::Vu2;
    // A VU device gets no upgrade-mode command: its record read fails instead (every
    // probe of the search and the read itself).
    platform.failNext(1, vu ? FaultKind::Vu : FaultKind::FlashMode, vu ? 130 : 1);
    const auto shown = press();
    if (vu)
        EXPECT_EQ(shown, std::vector<std::string>{"Message:Get SPI Record fail "});
    else
        EXPECT_TRUE(shown.empty());  // the mode command's failure stays in the status bar
    EXPECT_EQ(flash(), before);
    EXPECT_FALSE(enclosure->flashModes().upgrade);
    expectIdleAgain();
}

// The step at which a request fails, the request kind, and the text the user gets.
struct Failure {
    const char* panel;  // the progress panel's text when the fault is armed
    FaultKind kind;
    const char* full;   // the box of a full upgrade ("" = step not in it)
    const char* sub;    // the box of a sub-code update
};

TEST_P(Faults, ARequestFailingAtEachStepEndsTheUpgradeWithItsText) {
    const bool vu = GetParam() == Path::Vu1 || GetParam() == Path::Vu2;
    const Failure failures[] = {
        {"Process 1 / 4", FaultKind::FlashErase, "Message:SPI Test Fail.", ""},
        {"Process 2 / 4", FaultKind::FlashErase, "Message:SPI Erase Fail.", ""},
        {"Process 3 / 4", FaultKind::FlashProgram, "Message:SPI Program Fail.", ""},
        {"Process 4 / 4", FaultKind::FlashRead,
         vu ? "Message:Read SPI Error USB"
            : GetParam() == Path::Ata ? "Message:VU command 0x88 FEA 0x01 Read Error" : "Message:Error code ",
         ""},
        {"Process 1 / 2", FaultKind::FlashErase, "", "Firmware Upgrade Message:SPI Erase fail"},
        {"Process 1 / 2", FaultKind::FlashProgram, "", "Firmware Upgrade Message:SPI Page Program fail"},
        {"Process 2 / 2", FaultKind::FlashRead, "", "Firmware Upgrade Message:SPI Read fail"},
    };
    for (const Failure& f : failures) {
        const bool full = *f.sub == 0;
        SCOPED_TRACE(std::string(f.panel) + (full ? " full" : " sub-code") + " " + sim::faultName(f.kind));
        load(sim::makeFirmwareImage(full ? fullImage() : sim::FirmwareImageOptions{}));
        enclosure->setRecordSlotsUsed(0, 3);  // records that list nothing: a sub-code image stays one
        const auto before = flash();
        triggers.clear();
        when(f.panel, [this, f] { platform.failNext(1, f.kind, 1); });
        const auto shown = press();
        ASSERT_EQ(shown.size(), 1u);
        if (full) {
            // The box names the copy of the flash kept before anything was erased.
            EXPECT_EQ(shown[0].rfind(f.full, 0), 0u) << shown[0];
            EXPECT_EQ(readFile(backupIn(shown[0])), before);
        } else {
            EXPECT_EQ(shown[0], f.sub);
        }
        EXPECT_FALSE(enclosure->flashModes().primitive);
        EXPECT_FALSE(form->MaintenanceBusy);
        EXPECT_EQ(platform.openHandles(), 0);
    }
    expectIdleAgain();
}

TEST_P(Faults, AModeCommandThatFailsEndsThePrimitive) {
    if (GetParam() == Path::Vu1 || GetParam() == Path::Vu2) GTEST_SKIP() << "no mode commands on the VU path";
    load(sim::makeFirmwareImage(fullImage()));
    when("Process 2 / 4", [this] { platform.failNext(1, FaultKind::FlashMode, 1); });
    const auto shown = press();
    ASSERT_EQ(shown.size(), 1u);
    // The primitive-mode command of the erase failed: nothing was erased.
    EXPECT_EQ(shown[0].rfind("Message:SPI Erase Fail.", 0), 0u) << shown[0];
    EXPECT_EQ(enclosure->flashRefusals().size(), 0u);
    expectIdleAgain();
}

TEST_P(Faults, AReadBackThatDiffersIsAFailedVerify) {
    load(sim::makeFirmwareImage(fullImage()));
    when("Process 4 / 4", [this] { enclosure->flipBitOfRead(100); });
    auto shown = press();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Message:SPI Verify fail !!!", 0), 0u) << shown[0];

    load(sim::makeFirmwareImage());
    enclosure->setRecordSlotsUsed(0, 3);
    triggers.clear();
    when("Process 1 / 2", [this] { enclosure->flipBitOfRead(10); });
    shown = press();
    EXPECT_EQ(shown, std::vector<std::string>{"Firmware Upgrade Message:CodeType 0x31 Verify Fail"});
    expectIdleAgain();
}

TEST_P(Faults, AnEnclosurePulledOutHalfWay) {
    load(sim::makeFirmwareImage(fullImage()));
    when("Process 3 / 4", [this] {
        platform.detach(1);
        form->DeviceChange();  // the platform's notification, taken up once the upgrade is over
    });
    const auto shown = press();
    // Ending the upgrade mode finds no drive to open ("Invalid Drive"), then the step's text.
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Error:Invalid Drive");
    EXPECT_EQ(shown[1].rfind("Message:SPI Program Fail.", 0), 0u) << shown[1];
    EXPECT_FALSE(form->MaintenanceBusy);
    EXPECT_EQ(form->dev.HeldDevice, kNoHeldDevice);
    EXPECT_FALSE(controls.visible(names::UpgradePanel));
    EXPECT_EQ(platform.openHandles(), 0);
    // The detection that waited for the upgrade has run: the enclosure is gone.
    EXPECT_EQ(form->dev.ActiveCount, 0);
}

TEST_P(Faults, EntriesTheUpgradeCannotTakeAreSkipped) {
    sim::FirmwareImageOptions o;
    o.subCodes = {{0x31, std::nullopt, true}, {0x33, 0x10000, true}, {0x35, 0x7C000, true}};
    load(sim::makeFirmwareImage(o));
    const auto shown = press();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], "Error:FileOffset Error of bin file!!");
    EXPECT_EQ(shown[1], "Error:FileOffset Error of bin file!!");  // a sub-code reaching past the file's end
    EXPECT_EQ(shown[2].rfind("Firmware Upgrade Message:Firmware Upgrade 1/3completed!", 0), 0u) << shown[2];
    const auto after = flash();
    EXPECT_EQ(after[0xC000], sim::subCodeByte(0x31, 0));
    const FlashDirectory dir = readFlashDirectory(std::span(after).subspan(kArea, 0x8000));
    EXPECT_EQ(dir.record.entry(0).offset, 0xC000u);
    EXPECT_EQ(dir.record.entry(1).offset, 0x10000u);  // left as the image has it
    EXPECT_EQ(barTexts.back(), std::to_string(upgrade::kSubCodeUnits) + "/" + std::to_string(upgrade::kSubCodeUnits));
}

TEST_P(Faults, TheRecordAreaKeepsOnlyItsNewestSector) {
    load(sim::makeFirmwareImage());
    // Sixteen records: the next one opens the second sector, and the first goes.
    enclosure->setRecordSlotsUsed(0, 16);
    ASSERT_EQ(press().size(), 1u);
    auto after = flash();
    EXPECT_TRUE(std::all_of(after.begin() + kArea, after.begin() + kArea + 0x1000, [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(after[0x79000], 16);
    EXPECT_EQ(readFlashDirectory(std::span(after).subspan(kArea, 0x8000)).currentIndex, 16u);

    // An erased area: the record goes to slot 0 with sequence 0, and the last sector
    // (where the newest record would otherwise be) is erased after it.
    enclosure->setRecordSlotsUsed(0, 0);
    auto withLast = flash();
    std::fill(withLast.begin() + 0x7F000 + 0x100, withLast.begin() + 0x7F000 + 0x200, std::uint8_t{0x00});
    withLast[0x7F000 + 0x100] = 0xFF;  // slot 113 looks erased to the search, yet its sector is not
    enclosure->loadFlash(withLast);
    ASSERT_EQ(press().size(), 1u);
    after = flash();
    EXPECT_EQ(after[kArea], 0);
    EXPECT_EQ(readFlashDirectory(std::span(after).subspan(kArea, 0x8000)).currentIndex, 0u);
    EXPECT_TRUE(std::all_of(after.begin() + 0x7F000, after.end(), [](auto b) { return b == 0xFF; }));
}

TEST_P(Faults, WhileItRunsNothingElseReachesTheDevice) {
    load(sim::makeFirmwareImage(fullImage()));
    bool closed = true, ended = true;
    int page = -1;
    std::uint32_t held = 0;
    std::size_t traceFrom = 0;
    std::string between;
    when("Process 2 / 4", [&] { traceFrom = traceText.str().size(); });
    when("Process 4 / 4", [&] { between = traceText.str().substr(traceFrom); });
    when("Process 3 / 4", [&] {
        form->Click(names::Image_Sts);
        form->Click(names::Image2_D2);
        form->Click(names::Image2_Upgrade);
        form->Click(names::Image2_Load);
        form->CheckBoxClick(names::CheckBox1, false);
        form->DeviceChange();
        closed = form->CloseRequest();
        ended = form->QueryEndSession();
        page = form->CurrentPage;
        held = form->dev.HeldDevice;
        EXPECT_FALSE(controls.enabled(names::CheckBox1));
    });
    const auto shown = press();
    EXPECT_FALSE(closed);
    EXPECT_FALSE(ended);
    EXPECT_EQ(page, 2);
    EXPECT_EQ(held, 0u);
    EXPECT_EQ(form->UpgradeDevice, 0);
    EXPECT_TRUE(controls.checked(names::CheckBox1));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Message:Firmware is upgrading, please wait a moment.");
    EXPECT_EQ(shown[1].rfind("Firmware Upgrade Message:Firmware Upgrade 4/4 completed!", 0), 0u);
    EXPECT_EQ(flash(), sim::makeFirmwareImage(fullImage()));
    // Two steps long, with polls due every 4 s: not one status read, not one action.
    ASSERT_FALSE(between.empty());
    EXPECT_EQ(between.find("cdb=28000000002100"), std::string::npos);
    EXPECT_EQ(between.find("data=33581f"), std::string::npos);
    EXPECT_EQ(between.find("data=335824"), std::string::npos);
    expectIdleAgain();
}

INSTANTIATE_TEST_SUITE_P(Transports, Faults, ::testing::Values(Path::Mailbox, Path::Ata, Path::Vu1),
                         [](const auto& p) { return std::string(sim::pathName(p.param)); });

}  // namespace
}  // namespace raid

// The firmware side's and the view's operations called directly, as a front end without
// the window would call them, on a simulated enclosure: every outcome says in values
// what the window shows (the boxes, the status bar, the file name, the version, the
// bar), and while an upgrade runs the other operations are refused, each saying why.

#include "app/UpgradeOperations.h"
#include "app/ViewOperations.h"
#include "support/UpgradeRig.h"

namespace raid {
namespace {

using namespace raid::test;
using Operations = UpgradeRig;

TEST_P(Operations, OutcomesAreWhatTheWindowShows) {
    // Pages: the one asked for comes up, a page that does not exist is refused.
    PageSwitch page = switchPage(*form, ShownPage::upgrade);
    EXPECT_TRUE(page.switched);
    EXPECT_EQ(page.page, ShownPage::upgrade);
    EXPECT_EQ(form->CurrentPage, 2);
    EXPECT_EQ(controls.text(names::Image_FWUpg), names::yellowPicture(names::Image_FWUpg));
    page = switchPage(*form, static_cast<ShownPage>(1));
    EXPECT_FALSE(page.switched);
    EXPECT_EQ(page.refusal, ViewRefusal::unknown);
    EXPECT_EQ(page.page, ShownPage::upgrade);
    EXPECT_EQ(form->CurrentPage, 2);

    // Device tabs: the version and name given are those the page and the tab show.
    DeviceSelection device = selectShownDevice(*form, DeviceTabs::upgrade, 1);
    EXPECT_TRUE(device.selected);
    EXPECT_EQ(device.device, 1);
    EXPECT_EQ(device.firmwareVersion, "");  // no second enclosure
    EXPECT_EQ(controls.text(names::FirmwareVersion), "");
    device = selectShownDevice(*form, DeviceTabs::upgrade, 0);
    EXPECT_EQ(device.device, 0);
    EXPECT_EQ(device.firmwareVersion, "101208.0.A01");
    EXPECT_EQ(controls.text(names::FirmwareVersion), device.firmwareVersion);
    EXPECT_FALSE(device.name.empty());
    EXPECT_EQ(controls.get(names::Image2_D1).hint, device.name);
    EXPECT_EQ(controls.text(names::Image2_D1), names::yellowPicture(names::Image2_D1));
    for (const int wrong : {-1, 2, 1 << 30}) {
        device = selectShownDevice(*form, DeviceTabs::upgrade, wrong);
        EXPECT_FALSE(device.selected);
        EXPECT_EQ(device.refusal, ViewRefusal::unknown);
        EXPECT_EQ(device.device, 0);
        EXPECT_EQ(selectShownDevice(*form, DeviceTabs::status, wrong).refusal, ViewRefusal::unknown);
    }
    EXPECT_EQ(form->UpgradeDevice, 0);
    EXPECT_EQ(form->StatusDevice, 0);
    device = selectShownDevice(*form, DeviceTabs::status, 0);
    EXPECT_TRUE(device.selected);
    EXPECT_EQ(controls.get(names::Image0_D1).hint, device.name);
    EXPECT_EQ(device.firmwareVersion, "");

    // An upgrade without an image is refused in the words of its box, which stay as
    // the engine's last upgrade failure.
    UpgradeOutcome outcome;
    auto upgrade = [&](UpgradeWatch watch = {}) {
        dialogs.shown.clear();
        sched->post([&, watch] { outcome = startUpgrade(*form, watch); });
        sched->run(sched->nowUs() + 30'000'000);
        return dialogs.shown;
    };
    EXPECT_EQ(upgrade(), std::vector<std::string>{"Message:Please Load Firmware File First "});
    EXPECT_FALSE(outcome.started);
    EXPECT_EQ(outcome.refusal, UpgradeRefusal::noImage);
    EXPECT_EQ(outcome.failure.fault(), DeviceFault::refused);
    EXPECT_EQ(outcome.failure.lastWords(), "Please Load Firmware File First ");
    EXPECT_EQ(form->upgradePage().lastUpgradeFailure().lastWords(), outcome.failure.lastWords());

    // Loads: the problem is the box's words, the sum and the name those of the status
    // bar and the file-name field.
    auto wrong = sim::makeFirmwareImage();
    wrong[0x78001] = 0xD0;
    loadFile(wrong);
    ImageLoadOutcome loaded = loadFirmwareImage(*form, kit.dir() + "/fw.bin");
    EXPECT_FALSE(loaded.loaded);
    EXPECT_EQ(loaded.result, ImageLoadResult::rejected);
    EXPECT_EQ(dialogs.shown, std::vector<std::string>(2, "Error:" + loaded.problem));
    ASSERT_TRUE(loaded.checksum);
    EXPECT_EQ(*loaded.checksum, byteSum(wrong));
    EXPECT_EQ(controls.text(panelName(0)), ImageLoader::checksumText(*loaded.checksum));
    EXPECT_EQ(loaded.fileName, kit.dir() + "/fw.bin");
    EXPECT_EQ(controls.text(names::Edit9), loaded.fileName);
    // What cannot be a file to read is refused at once, a name with control characters
    // and other scripts shown as it is.
    const test::PlantedPipe fifo(kit.dir(), "fifo.bin");
    ASSERT_FALSE(fifo.path.empty());
    for (const std::string& path :
         {kit.dir() + "/missing\n\x01\xC3\xA9.bin", fifo.path, std::string(test::kEndlessDevice), kit.dir()}) {
        dialogs.shown.clear();
        loaded = loadFirmwareImage(*form, path);
        EXPECT_EQ(loaded.result, ImageLoadResult::openFailed) << path;
        EXPECT_FALSE(loaded.checksum);
        EXPECT_EQ(loaded.problem, "Fail to open firmware file");
        EXPECT_EQ(dialogs.shown, std::vector<std::string>{"Error:" + loaded.problem});
        EXPECT_EQ(loaded.fileName, path);
        EXPECT_EQ(controls.text(names::Edit9), loaded.fileName);
    }

    const auto image = sim::makeFirmwareImage(fullImage());
    load(image);
    loaded = loadFirmwareImage(*form, kit.dir() + "/fw.bin");
    EXPECT_TRUE(loaded.loaded);
    EXPECT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.kind, 0xA0);
    EXPECT_EQ(loaded.subCodes, 5u);
    EXPECT_EQ(controls.text(panelName(0)), ImageLoader::checksumText(byteSum(image)));
    EXPECT_TRUE(dialogs.shown.empty());

    // A full upgrade followed step by step. While it runs, every other operation is
    // refused and says why; the refused upgrade leaves the last failure alone.
    std::vector<UpgradeProgress> seen;
    bool triedMeanwhile = false;
    auto meanwhile = [&] {
        triedMeanwhile = true;
        const PageSwitch away = switchPage(*form, ShownPage::status);
        EXPECT_FALSE(away.switched);
        EXPECT_EQ(away.refusal, ViewRefusal::maintenance);
        EXPECT_EQ(away.page, ShownPage::upgrade);
        const DeviceSelection other = selectShownDevice(*form, DeviceTabs::upgrade, 1);
        EXPECT_FALSE(other.selected);
        EXPECT_EQ(other.refusal, ViewRefusal::maintenance);
        EXPECT_EQ(other.device, 0);
        const ImageLoadOutcome again = loadFirmwareImage(*form, kit.dir() + "/fw.bin");
        EXPECT_FALSE(again.result);
        EXPECT_TRUE(form->firmwareImage().loaded());
        const UpgradeOutcome twice = startUpgrade(*form);
        EXPECT_FALSE(twice.started);
        EXPECT_EQ(twice.refusal, UpgradeRefusal::busy);
        EXPECT_EQ(form->upgradePage().lastUpgradeFailure().lastWords(), "Please Load Firmware File First ");
        EXPECT_EQ(upgradeProgress(*form), seen.back());
    };
    const auto before = flash();
    const auto shown = upgrade([&](const UpgradeProgress& p) {
        seen.push_back(p);
        if (p.step == "Process 2 / 4" && !triedMeanwhile) meanwhile();
    });
    EXPECT_TRUE(triedMeanwhile);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(outcome.started);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.refusal, UpgradeRefusal::none);
    EXPECT_EQ(outcome.kind, UpgradeKind::Full);
    EXPECT_TRUE(outcome.failure.ok());
    EXPECT_TRUE(form->upgradePage().lastUpgradeFailure().ok());
    EXPECT_EQ(outcome.backupPath, backupIn(shown[0]));
    EXPECT_EQ(readFile(outcome.backupPath), before);
    EXPECT_EQ(flash(), image);
    const std::uint32_t full = upgrade::kFullUpgradeUnits + 2 * upgrade::kFlashReadUnits;
    ASSERT_GT(seen.size(), 100u);  // followed request by request
    EXPECT_TRUE(seen.front().running);
    EXPECT_EQ(seen.front().maximum, full);
    EXPECT_EQ(seen.front().step, "Saving the current firmware");
    for (std::size_t i = 1; i < seen.size(); ++i) ASSERT_GE(seen[i].value, seen[i - 1].value) << i;
    // The last word is the end: the bar full, as the window's bar shows it last.
    EXPECT_FALSE(seen.back().running);
    EXPECT_EQ(seen.back().value, full);
    EXPECT_EQ(seen.back(), upgradeProgress(*form));
    EXPECT_EQ(barTexts.back(), std::to_string(full) + "/" + std::to_string(full));

    // A sub-code update whose erase fails: the failure as a value, in the words the
    // box and the status bar gave, kept until the next upgrade.
    load(sim::makeFirmwareImage());
    enclosure->setRecordSlotsUsed(0, 3);  // records that list nothing: a sub-code image stays one
    when("Process 1 / 2", [this] { platform.failNext(1, sim::FaultKind::FlashErase, 1); });
    const auto failed = upgrade();
    EXPECT_EQ(failed, std::vector<std::string>{"Firmware Upgrade Message:" + outcome.failure.lastWords()});
    EXPECT_TRUE(outcome.started);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.kind, UpgradeKind::SubCode);
    EXPECT_EQ(outcome.failure.fault(), DeviceFault::request);
    EXPECT_EQ(outcome.failure.lastWords(), "SPI Erase fail");
    EXPECT_EQ(outcome.failure.context(), std::vector<std::string>{"SPI Erase fail"});
    EXPECT_EQ(controls.text(panelName(4)), outcome.failure.lastWords());
    EXPECT_EQ(form->upgradePage().lastUpgradeFailure().lastWords(), "SPI Erase fail");
    expectIdleAgain();
    EXPECT_EQ(form->upgradePage().lastUpgradeFailure().lastWords(), "SPI Erase fail");
}

INSTANTIATE_TEST_SUITE_P(Transports, Operations, ::testing::Values(Path::Mailbox, Path::Vu2),
                         [](const auto& p) { return std::string(sim::pathName(p.param)); });

}  // namespace
}  // namespace raid

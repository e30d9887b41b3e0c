// The Upgrade image on simulated enclosures of each transport: what lands in the flash,
// what the user is told, and that the program is itself again afterwards.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/MainForm.h"
#include "maintenance/FirmwareUpgrade.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"
#include "sim/Trace.h"
#include "support/QuietDialogs.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using sim::Path;

constexpr std::uint32_t kArea = 0x78000;

// Five sub-codes: more than the sub-code update takes, so the upgrade is a full one.
sim::FirmwareImageOptions fullImage() {
    sim::FirmwareImageOptions o;
    o.subCodes = {{0x31, std::nullopt, true}, {0x32, std::nullopt, true}, {0x33, std::nullopt, true},
                  {0x34, std::nullopt, true}, {0x36, std::nullopt, true}};
    return o;
}

struct Upgrade : ::testing::TestWithParam<Path> {
    test::ScenarioKit kit;
    sim::SimPlatform platform{[this](std::int64_t us) { sched->sleepUs(us); }};
    std::ostringstream traceText;
    sim::TracePort trace{platform, traceText};
    test::QuietDialogs dialogs;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    Controls controls;
    std::unique_ptr<MainForm> form;
    sim::SimEnclosure* enclosure = nullptr;
    std::vector<std::string> barTexts;

    void SetUp() override {
        platform.addPlainDisk(0);
        enclosure = &platform.attach(1, GetParam(), sim::makeIdentityPage(), sim::makeStatusRecord());
        platform.setLatencyUs(500);
        controls.addListener([this](const ControlChange& c) {
            if (c.control == names::ProgressBar1 && c.prop == Prop::Text) barTexts.push_back(c.state.text);
        });
        form = std::make_unique<MainForm>(
            Ports{*sched, trace, platform, dialogs, nullptr, nullptr, nullptr, kit.dir(), kit.dir()}, controls);
        form->FormCreate();
        sched->run(6'000'000);
        ASSERT_EQ(form->dev.ActiveCount, 1);
    }
    void load(const std::vector<std::uint8_t>& bytes) {
        const std::string path = kit.dir() + "/fw.bin";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        form->Click(names::Image_FWUpg);
        form->upgradePage().loadImage(path);
        ASSERT_TRUE(form->firmwareImage().loaded());
    }
    // Presses Upgrade while the engine runs (its clock moving with every request) and
    // returns the boxes it showed.
    std::vector<std::string> press() {
        dialogs.shown.clear();
        traceText.str("");
        sched->post([this] { form->Click(names::Image2_Upgrade); });
        sched->run(sched->nowUs() + 30'000'000);
        return dialogs.shown;
    }
    std::vector<std::uint8_t> flash() const { return enclosure->flashCopy(); }
    void expectIdleAgain() {
        EXPECT_FALSE(form->MaintenanceBusy);
        EXPECT_EQ(form->dev.HeldDevice, kNoHeldDevice);
        EXPECT_FALSE(form->dev.UpgradeHoldsDevice);
        EXPECT_TRUE(controls.enabled(names::CheckBox1));
        EXPECT_FALSE(controls.visible(names::UpgradePanel));
        EXPECT_FALSE(sched->timerEnabled(form->Timer1));
        EXPECT_EQ(platform.openHandles(), 0);
        // Polling resumes: the next polls read the status record again.
        traceText.str("");
        sched->run(sched->nowUs() + 10'000'000);
        EXPECT_NE(traceText.str().find("SCSI"), std::string::npos);
    }
    // Mode commands on the wire: mailbox codes 0x03/0x04/0x10 written as commands, or
    // the ATA vendor command with any features but the read.
    int modeCommands() const {
        int n = 0;
        std::istringstream in(traceText.str());
        for (std::string line; std::getline(in, line);) {
            if (line.find("ATA regs=") != std::string::npos && line.find("88 ") != std::string::npos &&
                line.find("regs=01") == std::string::npos)
                ++n;
            for (const char* code : {"data=335803", "data=335804", "data=335810"})
                if (line.find(code) != std::string::npos) ++n;
        }
        return n;
    }
};

TEST_P(Upgrade, AFullUpgradeLeavesTheFlashEqualToTheImageAndKeepsTheOldOne) {
    const auto before = flash();
    const auto image = sim::makeFirmwareImage(fullImage());
    load(image);
    const auto shown = press();

    EXPECT_EQ(flash(), image);
    ASSERT_EQ(shown.size(), 1u);
    const std::string text = shown[0];
    EXPECT_EQ(text.rfind("Firmware Upgrade Message:Firmware Upgrade 4/4 completed!\n\nPlease power off this device "
                         "or the system,\nand power on it to enable the new firmware!\n\n",
                         0),
              0u)
        << text;
    // The copy of the flash as it was lies beside the day logs, under its model's name.
    const std::size_t at = text.find(kit.dir());
    ASSERT_NE(at, std::string::npos) << text;
    const std::string backup = text.substr(at);
    EXPECT_NE(backup.find("-flash-"), std::string::npos);
    std::ifstream in(backup, std::ios::binary);
    const std::vector<std::uint8_t> saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, before);

    EXPECT_EQ(controls.text(panelName(4)), "SPI Verify OK");
    EXPECT_EQ(controls.text(names::UpgradeTitle), "Firmware Update...");
    ASSERT_FALSE(barTexts.empty());
    const std::string full = std::to_string(upgrade::kFullUpgradeUnits + upgrade::kFlashReadUnits);
    EXPECT_EQ(barTexts.back(), full + "/" + full);
    EXPECT_GT(barTexts.size(), 3u);  // the timer showed it moving
    if (GetParam() == Path::Vu1 || GetParam() == Path::Vu2) {
        EXPECT_EQ(modeCommands(), 0);
    } else {
        EXPECT_GT(modeCommands(), 0);
    }
    EXPECT_TRUE(enclosure->flashRefusals().empty());
    const sim::FlashModes modes = enclosure->flashModes();
    EXPECT_FALSE(modes.upgrade || modes.primitive || modes.lowArea);
    expectIdleAgain();
}

TEST_P(Upgrade, ASubCodeUpdateFillsTheNextSlotsAndAppendsARecord) {
    // The simulated flash starts with records in slots 0..2 that list nothing.
    const auto image = sim::makeFirmwareImage();
    load(image);
    const auto before = flash();
    const auto shown = press();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Firmware Upgrade Message:Firmware Upgrade 2/2completed!\n\nPlease power off this device or "
                        "the system,\nand power on it to enable the new firmware!");
    const auto after = flash();
    for (std::uint32_t i = 0; i < 0xC000; ++i) {
        ASSERT_EQ(after[0xC000 + i], sim::subCodeByte(0x31, i)) << i;
        ASSERT_EQ(after[0x18000 + i], sim::subCodeByte(0x32, i)) << i;
    }
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 0xC000, after.begin()));  // the head stays
    const FlashDirectory dir = readFlashDirectory(std::span(after).subspan(kArea, 0x8000));
    EXPECT_EQ(dir.currentIndex, 3u);
    EXPECT_EQ(dir.record.sequence(), 3);
    EXPECT_EQ(dir.record.entry(0).offset, 0xC000u);
    EXPECT_EQ(dir.record.entry(1).offset, 0x18000u);
    EXPECT_EQ(dir.record.nextSlot(), 0x24000u);
    EXPECT_EQ(dir.record.storedChecksum(), FirmwareImage(image).configRecord()->storedChecksum());
    EXPECT_EQ(controls.text(panelName(4)), "CodeType 0x32 Verify OK.");
    EXPECT_EQ(barTexts.back(), std::to_string(2 * upgrade::kSubCodeUnits) + "/" + std::to_string(2 * upgrade::kSubCodeUnits));
    EXPECT_TRUE(enclosure->flashRefusals().empty());
    if (GetParam() == Path::Vu1) {
        EXPECT_EQ(modeCommands(), 0);
    }

    // A second update goes to the other bank, since the flash now lists low sub-codes.
    const auto second = press();
    ASSERT_EQ(second.size(), 1u);
    const auto again = flash();
    EXPECT_EQ(again[0x3C000], sim::subCodeByte(0x31, 0));
    EXPECT_EQ(readFlashDirectory(std::span(again).subspan(kArea, 0x8000)).record.entry(1).offset, 0x48000u);
    expectIdleAgain();
}

INSTANTIATE_TEST_SUITE_P(Transports, Upgrade, ::testing::Values(Path::Mailbox, Path::Ata, Path::Vu1, Path::Vu2),
                         [](const auto& p) { return std::string(sim::pathName(p.param)); });

}  // namespace
}  // namespace raid

// The Upgrade image on simulated enclosures of each transport: what lands in the flash,
// what the user is told, and that the program is itself again afterwards.
#include "support/UpgradeRig.h"

namespace raid {
namespace {

using namespace raid::test;
using Upgrade = UpgradeRig;

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
    // The copy of the flash as it was lies beside the day logs, under its model's name
    // and serial.
    const std::string backup = backupIn(text);
    EXPECT_NE(backup.find(std::string(1, static_cast<char>(std::filesystem::path::preferred_separator)) +
                          "SIM_DUAL_BAY_RAID_ENCLOSURE-SIMENC00000000000001-flash-20261207-"),
              std::string::npos)
        << text;
    EXPECT_EQ(readFile(backup), before);

    EXPECT_EQ(controls.text(panelName(4)), "SPI Verify OK");
    EXPECT_EQ(controls.text(names::UpgradeTitle), "Firmware Update...");
    ASSERT_FALSE(barTexts.empty());
    // The copy is read twice.
    const std::string full = std::to_string(upgrade::kFullUpgradeUnits + 2 * upgrade::kFlashReadUnits);
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

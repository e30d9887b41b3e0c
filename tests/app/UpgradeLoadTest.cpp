// The Load image of the Firmware Upgrade page on the engine: the dialog's filter, the
// panel texts and the image held afterwards, and what keeps it from loading.
#include <gtest/gtest.h>

#include <fstream>

#include "app/MainForm.h"
#include "sim/FirmwareImages.h"
#include "sim/SimPlatform.h"
#include "support/QuietDialogs.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

struct UpgradeLoad : ::testing::Test {
    test::ScenarioKit kit;
    sim::SimPlatform platform;
    test::QuietDialogs dialogs;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    Controls controls;
    std::unique_ptr<MainForm> form;
    void SetUp() override {
        platform.addPlainDisk(0);
        platform.attach(1, sim::Path::Mailbox, sim::makeIdentityPage(), sim::makeStatusRecord());
        form = std::make_unique<MainForm>(
            Ports{*sched, platform, platform, dialogs, nullptr, nullptr, nullptr, kit.dir(), kit.dir()}, controls);
        form->FormCreate();
        sched->run(2'000'000);
    }
    std::string file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = kit.dir() + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

TEST_F(UpgradeLoad, AValidImageIsHeldWithItsChecksumAndPath) {
    const auto bytes = sim::makeFirmwareImage();
    std::uint32_t sum = 0;
    for (auto b : bytes) sum += b;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", sum);
    dialogs.nextFile = file("fw.bin", bytes);
    form->Click(names::Image2_Load);
    ASSERT_EQ(dialogs.fileFilters.size(), 1u);
    EXPECT_EQ(dialogs.fileFilters[0], "Binary code (*.bin)|*.bin|All files (*.*)|*.*");
    EXPECT_EQ(form->firmwareImage().size(), 0x80000u);
    EXPECT_EQ(controls.text(panelName(0)), std::string("Chksum:") + hex);
    EXPECT_EQ(controls.text(panelName(4)), "File:" + dialogs.nextFile);
    EXPECT_EQ(controls.text(names::Edit9), dialogs.nextFile);
    EXPECT_TRUE(dialogs.shown.empty());

    // A file that is no image replaces it with nothing.
    std::vector<std::uint8_t> wrong = bytes;
    wrong[0x78001] = 0xD0;
    dialogs.nextFile = file("wrong.bin", wrong);
    form->Click(names::Image2_Load);
    EXPECT_EQ(form->firmwareImage().size(), 0u);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0], "Error:The firmware file is not correct.\nPlease check it.");
}

TEST_F(UpgradeLoad, ThePageShowsTheChosenDevicesFirmwareVersion) {
    form->Click(names::Image_FWUpg);
    EXPECT_EQ(form->CurrentPage, 2);
    EXPECT_EQ(controls.text(names::FirmwareVersion), "101208.0.A01");
    form->Click(names::Image2_D2);  // no second enclosure: nothing to show
    EXPECT_EQ(form->UpgradeDevice, 1);
    EXPECT_EQ(controls.text(names::FirmwareVersion), "");
}

TEST_F(UpgradeLoad, CancelAndMaintenanceLeaveTheImageAlone) {
    dialogs.nextFile = file("fw.bin", sim::makeFirmwareImage());
    form->Click(names::Image2_Load);
    ASSERT_TRUE(form->firmwareImage().loaded());
    dialogs.nextFile.clear();  // the user cancels the dialog
    form->Click(names::Image2_Load);
    EXPECT_TRUE(form->firmwareImage().loaded());
    form->MaintenanceBusy = true;
    dialogs.nextFile = file("other.bin", {1, 2, 3});
    form->Click(names::Image2_Load);
    EXPECT_EQ(dialogs.fileFilters.size(), 2u);  // no dialog while an upgrade runs
    EXPECT_TRUE(form->firmwareImage().loaded());
    form->MaintenanceBusy = false;
    form->Click(names::Image2_Load);
    EXPECT_EQ(controls.text(panelName(0)), "Chksum:00000006");
    EXPECT_FALSE(form->firmwareImage().loaded());
}

}  // namespace
}  // namespace raid

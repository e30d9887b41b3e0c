// The upgrade on the real clock with the engine's workers on their own threads: while
// it runs, another thread keeps handing the engine what a restless user and the
// platform would (page changes, closing, session ends, device changes). The flash ends
// up as the image, each of those is refused or deferred, and the program goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

TEST(UpgradeRealTime, OtherThreadsCannotGetInTheWay) {
    test::ScenarioKit kit;
    sim::FirmwareImageOptions o;
    o.subCodes.assign(5, sim::SubCodeOptions{});  // five sub-codes: a full upgrade
    const std::vector<std::uint8_t> image = sim::makeFirmwareImage(o);
    ASSERT_TRUE(sim::writeFlashFile(kit.dir() + "/fw.bin", image));
    kit.line("0 disk 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
             " status=" + kit.block("st.bin", sim::makeStatusRecord()));
    kit.line("2 upgrade fw.bin 1");
    // The run's end is only a safety bound: it ends once the upgrade and the
    // re-detection it deferred are over.
    sim::SimRunner r(kit.realTimeOptions(900, 40), nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;

    std::atomic<bool> stop{false};
    std::atomic<int> refusedWhileBusy{0};
    std::thread restless([&] {
        MainForm* f = &r.form();
        while (!stop) {
            if (f->MaintenanceBusy) {
                r.scheduler().post([f, &refusedWhileBusy] {
                    // Posted while busy, run later: the upgrade may have ended since, and
                    // a click then would be a real one, not one to refuse.
                    if (!f->MaintenanceBusy) return;
                    f->Click(names::Image_Sts);
                    f->Click(names::Image2_D2);
                    f->Click(names::Image2_Upgrade);
                    if (f->MaintenanceBusy && !f->CloseRequest() && !f->QueryEndSession()) ++refusedWhileBusy;
                    f->DeviceChange();
                });
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    const bool over = test::runUntilDone(r, [](sim::SimRunner& run) {
        MainForm& f = run.form();
        return !run.linesWith("Firmware Upgrade 4/4 completed!").empty() && !f.MaintenanceBusy &&
               f.DeviceChangeCountdown == 0 && !f.dev.DetectionPending && !f.detection().busy();
    });
    stop = true;
    restless.join();
    r.scheduler().joinWorkers();

    EXPECT_TRUE(over) << "the upgrade or the re-detection after it did not end";
    EXPECT_EQ(r.linesWith("Firmware Upgrade 4/4 completed!").size(), 1u);
    EXPECT_GT(refusedWhileBusy.load(), 0);
    EXPECT_FALSE(r.form().MaintenanceBusy);
    EXPECT_EQ(r.form().dev.HeldDevice, kNoHeldDevice);
    EXPECT_EQ(r.form().CurrentPage, 2);
    EXPECT_TRUE(r.platform().enclosure(1)->flashCopy() == image);
    EXPECT_EQ(r.platform().openHandles(), 0);
    // The device changes waited: the detection after them found the enclosure again.
    EXPECT_EQ(r.form().dev.ActiveCount.load(), 1);
}

}  // namespace
}  // namespace raid

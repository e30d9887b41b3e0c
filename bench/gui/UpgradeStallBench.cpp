// The window during a full firmware upgrade: the upgrade runs on the engine thread in
// real time with every request taking --latency-us (500 by default) against a
// simulated enclosure, while the window's thread is measured for its longest stall.
//
//   raid_bench_upgrade [--latency-us U] [--path mailbox|ata|vu1]
#include <QApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "WindowStall.h"
#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "app/UpgradeOperations.h"
#include "gui/GuiApp.h"
#include "gui/GuiDialogs.h"
#include "gui/MainWindow.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

int main(int argc, char** argv) {
    long latencyUs = 500;
    raid::sim::Path path = raid::sim::Path::Mailbox;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--latency-us")) latencyUs = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--path"))
            path = !std::strcmp(argv[i + 1], "ata") ? raid::sim::Path::Ata
                   : !std::strcmp(argv[i + 1], "vu1") ? raid::sim::Path::Vu1 : raid::sim::Path::Mailbox;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    std::atomic<long> requests{0};
    raid::sim::SimPlatform platform([&](std::int64_t us) {
        ++requests;
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    });
    platform.setLatencyUs(latencyUs);
    platform.addPlainDisk(0);
    platform.attach(1, path, raid::sim::makeIdentityPage(), raid::sim::makeStatusRecord());
    // Five sub-codes: a full upgrade, the longest there is.
    raid::sim::FirmwareImageOptions o;
    o.subCodes.assign(5, raid::sim::SubCodeOptions{});
    const std::string image = "/tmp/raid-bench-upgrade-" + std::to_string(getpid()) + ".bin";
    raid::sim::writeFlashFile(image, raid::sim::makeFirmwareImage(o));

    raid::EngineHost host(raid::makeRealScheduler(), [&](raid::Scheduler& s, raid::Controls& c, raid::DialogPort& d) {
        raid::Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, "/tmp", "/tmp"};
        return std::make_unique<raid::MainForm>(ports, c);
    });
    raid::gui::GuiSession session(host);
    std::atomic<int> boxes{0};
    session.dialogs().setTestHook([&](const std::string&, const std::string&, int) {
        ++boxes;
        return raid::DialogPort::Ok;
    });
    session.start();
    std::atomic<bool> detected{false};
    raid::bench::runMeasuring(30000, 20, [&] {
        host.post([&](raid::MainForm& f) { detected = f.dev.ActiveCount > 0 && !f.dev.DetectionPending; });
        return detected.load();
    });

    std::atomic<bool> done{false};
    std::atomic<long> upgradeRequests{0};
    std::atomic<double> upgradeSeconds{0};
    host.post([&](raid::MainForm& f) {
        f.Click(raid::names::Image_FWUpg);
        loadFirmwareImage(f, image);
        const long before = requests;
        const auto start = std::chrono::steady_clock::now();
        f.Click(raid::names::Image2_Upgrade);
        upgradeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        upgradeRequests = requests - before;
        done = true;
    });
    const double worst = raid::bench::runMeasuring(600000, 2, [&] { return done.load(); });
    std::remove(image.c_str());

    const double deviceSeconds = static_cast<double>(upgradeRequests) * static_cast<double>(latencyUs) / 1e6;
    std::printf("full upgrade              %8.2f s (%ld requests, %ld us each: %.2f s of device time)\n",
                upgradeSeconds.load(), upgradeRequests.load(), latencyUs, deviceSeconds);
    std::printf("longest window stall      %8.1f ms during the upgrade (target 16 ms)\n", worst);
    std::printf("boxes shown               %8d (the closing message)\n", boxes.load());
    host.stop();
    return 0;
}

// How the window fares while the engine works: the longest stall of the window's
// thread during detection passes over ten slow simulated drives, the time from start
// to the window shown, and the resident memory and CPU use after a spell of idle
// polling.
//
//   raid_bench_gui [--passes N] [--idle-seconds S] [--latency-us U]
#include <QApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui/GuiApp.h"
#include "gui/MainWindow.h"
#include "WindowStall.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace {

long residentKiB() {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    int passes = 3, idleSeconds = 60;
    long latencyUs = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--passes")) passes = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--idle-seconds")) idleSeconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--latency-us")) latencyUs = std::atol(argv[i + 1]);
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const auto start = std::chrono::steady_clock::now();
    QApplication app(argc, argv);

    // Ten drives: a plain system disk and nine enclosures on every path.
    raid::sim::SimPlatform platform([](std::int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); });
    platform.setLatencyUs(latencyUs);
    platform.addPlainDisk(0);
    platform.addVolume('C', 0);
    const raid::sim::Path paths[] = {raid::sim::Path::Mailbox, raid::sim::Path::Vu1, raid::sim::Path::Vu2,
                                     raid::sim::Path::Ata};
    for (int n = 1; n < 10; ++n) {
        platform.attach(n, paths[n % 4],
                        raid::sim::makeIdentityPage(raid::sim::IdentityOptions().setModel("BOX " + std::to_string(n))),
                        raid::sim::makeStatusRecord());
    }

    std::atomic<int> passesDone{0};
    raid::EngineHost host(raid::makeRealScheduler(),
                          [&](raid::Scheduler& s, raid::Controls& c, raid::DialogPort& d) {
                              raid::Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, "/tmp", "/tmp"};
                              return std::make_unique<raid::MainForm>(ports, c);
                          });
    raid::gui::GuiSession session(host);
    session.start();
    while (!session.window().isVisible()) app.processEvents(QEventLoop::AllEvents, 5);
    const double shownMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    // Detection passes one after another, each started from the engine thread once the
    // previous one has been published.
    double worst = 0;
    for (int p = 0; p < passes; ++p) {
        std::atomic<bool> published{false};
        host.post([&](raid::MainForm& f) {
            f.dev.DetectionPending = true;
            f.detection().request();
        });
        // Wait for the pass to be published (DetectionPending cleared again).
        auto check = [&] {
            host.post([&](raid::MainForm& f) {
                if (f.detection().phase() == raid::DetectionPhase::Idle && !f.dev.DetectionPending) published = true;
            });
            return published.load();
        };
        worst = std::max(worst, raid::bench::runMeasuring(120000, 2, [&] {
            static int n = 0;
            return (++n % 20 == 0) && check();
        }));
        ++passesDone;
    }
    const double detectionWorst = worst;

    const double cpuBefore = cpuSeconds();
    // A coarse tick while idle, so the measurement itself hardly costs CPU.
    const double idleWorst = raid::bench::runMeasuring(idleSeconds * 1000, 100);
    const double cpuIdle = cpuSeconds() - cpuBefore;

    std::printf("window shown after        %8.1f ms\n", shownMs);
    std::printf("detection passes          %8d (10 drives, %ld us per request)\n", passesDone.load(), latencyUs);
    std::printf("longest window stall      %8.1f ms during detection\n", detectionWorst);
    std::printf("longest window stall      %8.1f ms while idle polling\n", idleWorst);
    std::printf("resident memory           %8ld KiB after %d s idle polling\n", residentKiB(), idleSeconds);
    std::printf("CPU use while idle        %8.2f %% of one core\n", 100.0 * cpuIdle / idleSeconds);
    host.stop();
    return 0;
}

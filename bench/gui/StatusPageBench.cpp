// What the Status page costs while a rebuild is shown, on a real window and a real
// engine thread over one simulated RAID1 enclosure:
//
// - one poll: the engine reads the record, decodes it and refreshes the Status page
//   (poll cycle on the engine thread), the window applies the changes and repaints
//   the page. Timed end to end on the window's thread, and split into the engine's
//   part and the window's part. Target: under 2 ms.
// - the longest stall of the window's thread while polls run back to back with the
//   rebuild's progress changing at every poll. Target: under 16 ms (one frame).
//
//   raid_bench_status [--polls N] [--seconds S] [--interval-ms M]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "WindowStall.h"
#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui/GuiApp.h"
#include "gui/MainWindow.h"
#include "gui/pages/BaysPicture.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

raid::sim::Block rebuildRecord(int percent) {
    raid::sim::StatusOptions o;
    o.setActivity(0x01, static_cast<std::uint8_t>(percent));
    return raid::sim::makeStatusRecord(o);
}

struct Figures {
    double median = 0, p99 = 0, worst = 0, mean = 0;
};

Figures summarise(std::vector<double> v) {
    Figures f;
    if (v.empty()) return f;
    std::sort(v.begin(), v.end());
    f.median = v[v.size() / 2];
    f.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
    f.worst = v.back();
    for (double x : v) f.mean += x;
    f.mean /= static_cast<double>(v.size());
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("%-34s median %6.3f  mean %6.3f  p99 %6.3f  worst %6.3f ms\n", what, f.median, f.mean, f.p99,
                f.worst);
}

// Runs `fn` on the engine thread and waits for it, keeping the window's events going.
template <class F>
void onEngine(raid::EngineHost& host, F fn) {
    std::promise<void> done;
    std::future<void> ready = done.get_future();
    host.post([&](raid::MainForm& f) {
        fn(f);
        done.set_value();
    });
    while (ready.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

}  // namespace

int main(int argc, char** argv) {
    int polls = 500, seconds = 20, intervalMs = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--polls")) polls = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--interval-ms")) intervalMs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    raid::sim::SimPlatform platform;
    platform.addPlainDisk(0);
    platform.addVolume('C', 0);
    platform.attach(1, raid::sim::Path::Mailbox, raid::sim::makeIdentityPage(), rebuildRecord(0));
    platform.addVolume('E', 1);

    raid::EngineHost host(raid::makeRealScheduler(), [&](raid::Scheduler& s, raid::Controls& c, raid::DialogPort& d) {
        raid::Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, "/tmp", "/tmp"};
        return std::make_unique<raid::MainForm>(ports, c);
    });
    raid::gui::GuiSession session(host);
    session.start();
    raid::gui::TForm1& window = session.window();
    auto* book = window.control<QStackedWidget>(raid::gui::qname(raid::names::Notebook1));
    auto* bays = window.control<raid::gui::BaysPicture>(raid::gui::qname(raid::names::Image0_Bays));
    QWidget* page = book ? book->widget(0) : nullptr;
    if (!page || !bays) {
        std::fprintf(stderr, "raid_bench_status: the window has no Status page\n");
        return 1;
    }

    // Until detection has found the enclosure and the first poll has drawn the page.
    QElapsedTimer wait;
    wait.start();
    bool armed = false;
    while (!armed && wait.elapsed() < 30000) {
        onEngine(host, [&](raid::MainForm& f) { armed = (f.RequestMask & raid::kPollingArmed) && !f.dev.FirstPass; });
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (!armed) {
        std::fprintf(stderr, "raid_bench_status: the enclosure was not polled within 30 s\n");
        return 1;
    }
    // From here on the polls are the benchmark's: the poll clock stays quiet.
    onEngine(host, [](raid::MainForm& f) { f.scheduler().setTimerEnabled(f.Timer2, false); });

    // One poll after another, each with the next percentage.
    std::vector<double> total, engine, windowSide;
    const int rendersBefore = bays->renders();
    for (int i = 0; i < polls; ++i) {
        platform.setStatus(1, rebuildRecord(1 + i % 99));
        const auto t0 = Clock::now();
        Clock::duration engineTime{};
        onEngine(host, [&](raid::MainForm& f) {
            const auto e0 = Clock::now();
            f.PollCycle();
            engineTime = Clock::now() - e0;
        });
        const auto t1 = Clock::now();
        // The changes the poll made are queued to the window: apply them and paint.
        QCoreApplication::processEvents();
        page->repaint();
        const auto t2 = Clock::now();
        total.push_back(ms(t2 - t0));
        engine.push_back(ms(engineTime));
        windowSide.push_back(ms(t2 - t1));
    }
    const int pictures = bays->renders() - rendersBefore;

    // Polls back to back through the request worker, as the poll clock asks for them,
    // while a 2 ms timer on the window's thread notes every gap beyond its interval.
    std::atomic<int> percent{0};
    std::atomic<int> served{0};
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, [&] {
        platform.setStatus(1, rebuildRecord(1 + percent++ % 99));
        host.post([&](raid::MainForm& f) {
            f.RequestMask |= raid::kRequestPoll;
            ++served;
        });
    });
    ask.start(intervalMs);
    const int stallRendersBefore = bays->renders();
    const double stall = raid::bench::runMeasuring(seconds * 1000, 2);
    ask.stop();
    const int stallRenders = bays->renders() - stallRendersBefore;

    std::printf("Status page, one RAID1 enclosure rebuilding, %d polls\n", polls);
    print("poll + window update + repaint", summarise(total));
    print("  engine: poll cycle", summarise(engine));
    print("  window: apply changes + repaint", summarise(windowSide));
    std::printf("%-34s %d of %d polls\n", "enclosure picture drawn anew", pictures, polls);
    std::printf("longest window stall               %6.3f ms over %d s, a poll asked every %d ms "
                "(%d asked, picture drawn anew %d times)\n",
                stall, seconds, intervalMs, served.load(), stallRenders);
    host.stop();
    return 0;
}

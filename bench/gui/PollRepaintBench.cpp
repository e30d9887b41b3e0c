// From the service's poll to a client window's repainted Status page, in real time:
// raid-gui-monitor-sim publishes one simulated enclosure, rebuilding with the progress
// moving on every second, on a private system-like bus; a real window (offscreen, in
// this process, the same GuiSession and ServiceClient raid-gui runs) follows it.
//
// Per poll, timed on one steady clock in this process:
// - from: the service's PropertiesChanged for the enclosure, as a monitor connection of
//   this process receives the bus daemon's copy of it (the moment it leaves the bus for
//   its subscribers), with the progress it carries;
// - to: the Status page's progress text (the centre text, drawn after the bays picture
//   in the same repaint) having finished painting that progress.
// The service polls every 4 s and offers no faster clock, so 30 polls take a little
// over two minutes with the start-up. Target: under 50 ms (median and p99).
//
//   raid_bench_poll_repaint [--polls N] [--each]   (default 30 polls; --each: a line per poll)
#include <sys/stat.h>

#include "bus/BusTraffic.h"  // sd-bus before Qt: Qt makes "signals" a word of its own

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "app/ServiceFeed.h"
#include "gui/EngineActions.h"
#include "gui/GuiApp.h"
#include "gui/GuiDialogs.h"
#include "gui/MainWindow.h"
#include "gui/ServiceClient.h"
#include "sim/Records.h"
#include "support/PrivateBus.h"
#include "support/ToolRun.h"

namespace {

using Clock = std::chrono::steady_clock;
using raid::bench::PollWatcher;
using raid::test::PrivateBus;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The centre text's paints: when each one had finished, and the text it drew.
class PaintClock : public QObject {
public:
    struct Paint {
        Clock::time_point done;
        QString text;
    };
    explicit PaintClock(QLabel* label) : label_(label) { label->installEventFilter(this); }
    const std::vector<Paint>& paints() const { return paints_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != label_ || e->type() != QEvent::Paint) return false;
        // Painted here, inside the repaint the window is doing, so that the moment
        // noted is the one the paint is over.
        static_cast<QObject*>(label_)->event(e);
        paints_.push_back({Clock::now(), label_->text()});
        return true;
    }

private:
    QLabel* label_;
    std::vector<Paint> paints_;
};

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

// Runs the window's event loop until `done` holds (asked every 20 ms) or `bound` has
// passed. The loop sleeps between events, as the window's own does: a busy loop here
// would compete with the engine and the service for the processor being timed.
bool runUntil(const std::function<bool()>& done, std::chrono::seconds bound) {
    const auto until = Clock::now() + bound;
    QEventLoop loop;
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, &loop, [&] {
        if (done() || Clock::now() > until) loop.quit();
    });
    ask.start(20);
    if (!done()) loop.exec();
    return done();
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    int polls = 30;
    bool each = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--polls") && i + 1 < argc) polls = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--each")) each = true;
    }
    constexpr int kWarmUp = 2;  // polls after the window first shows the rebuild

    char pattern[] = "/tmp/raid-bench-repaint-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    ::chmod(dir.c_str(), 0755);
    // Nothing reaches the desktop this runs on: an alert's notification finds no bus.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/no-session-bus").c_str(), 1);
    std::filesystem::create_directory(dir + "/runtime");
    ::chmod((dir + "/runtime").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // A rebuild of drive 1 whose progress moves on every second, for longer than the
    // run: each 4 s poll reads another percentage than the one before.
    const int seconds = 4 * (polls + kWarmUp + 20) + 120;
    {
        for (int p = 1; p <= 99; ++p) {
            raid::sim::StatusOptions o;
            o.setActivity(0x01, static_cast<std::uint8_t>(p));
            raid::sim::writeBlockFile(dir + "/st" + std::to_string(p) + ".bin", raid::sim::makeStatusRecord(o));
        }
        raid::sim::writeBlockFile(dir + "/id.bin", raid::sim::makeIdentityPage({}));
        std::ofstream scenario(dir + "/bench.scenario");
        scenario << "0 disk 0\n0 volume C 0\n0 attach 1 mailbox identity=id.bin status=st1.bin\n0 volume E 1\n";
        for (int s = 1; s < seconds; ++s) scenario << s << " status 1 st" << 1 + s % 99 << ".bin\n";
    }

    int rc = 1;
    std::vector<double> delays;
    int missed = 0;
    std::string error;
    {
        PrivateBus bus(dir);
        if (!bus.start()) {
            std::fprintf(stderr, "raid_bench_poll_repaint: no dbus-daemon\n");
            return 1;
        }
        const std::string object = "/org/qxraidgui/Monitor1/enclosure/drive1";
        PollWatcher watcher(bus.address(), object);
        raid::test::BackgroundTool service;
        const std::string err = dir + "/service.err";
        if (!watcher.ok()) {
            error = "no monitor connection on the bus";
        } else if (!service.start("raid-gui-monitor-sim",
                                  {"--scenario", dir + "/bench.scenario", "--until", std::to_string(seconds),
                                   "--log-dir", dir + "/logs", "--settings", dir + "/settings.reg", "--bus",
                                   bus.address()},
                                  dir + "/service.out", err)) {
            error = "raid-gui-monitor-sim did not start";
        }

        QApplication app(argc, argv);
        raid::NoDevices none;
        raid::gui::ServiceLink link;
        raid::EngineHost host(raid::makeRealScheduler(),
                              [&](raid::Scheduler& s, raid::Controls& c, raid::DialogPort& d) {
                                  return std::make_unique<raid::MainForm>(raid::Ports{.scheduler = s,
                                                                                      .storage = none,
                                                                                      .volumes = none,
                                                                                      .dialogs = d,
                                                                                      .logFolder = {},
                                                                                      .fallbackLogFolder = {},
                                                                                      .service = &link},
                                                                          c);
                              });
        auto session = std::make_unique<raid::gui::GuiSession>(host);
        session->dialogs().setTestHook([](const std::string&, const std::string&, int) { return raid::DialogPort::Ok; });
        session->start();
        session->attachService(link, QString::fromStdString(bus.address()));
        raid::gui::TForm1& window = session->window();
        auto* centre = window.control<QLabel>(raid::gui::qname(raid::names::Label18));
        if (error.empty() && !centre) error = "the window has no centre text on its Status page";
        std::unique_ptr<PaintClock> clock;
        if (centre) clock = std::make_unique<PaintClock>(centre);

        // Until the window draws the rebuild: the service is up, has found the
        // enclosure and the window follows it.
        if (error.empty() &&
            !runUntil([&] { return !clock->paints().empty() && clock->paints().back().text.contains(QLatin1Char('%')); },
                      std::chrono::seconds(120)))
            error = "the window did not show the rebuild within 120 s (see " + err + ")";
        if (error.empty() && !centre->isVisible()) error = "the Status page's centre text is not visible";

        // The polls the benchmark times: those after the warm-up, each with the first
        // paint of its progress after it (none before the next poll: missed).
        std::size_t first = 0;
        if (error.empty()) first = watcher.polls().size() + kWarmUp;
        const auto enough = [&] { return watcher.polls().size() >= first + static_cast<std::size_t>(polls) + 1; };
        if (error.empty() && !runUntil(enough, std::chrono::seconds(60 + 8 * (polls + kWarmUp))))
            error = "fewer polls than expected (see " + err + ")";
        if (error.empty()) {
            // The last poll's paint is waited for too: its next poll marks the end.
            const std::vector<PollWatcher::Poll> seen = watcher.polls();
            const auto& paints = clock->paints();
            for (std::size_t i = first; i < first + static_cast<std::size_t>(polls); ++i) {
                const QString shown = QString::number(seen[i].progress) + QStringLiteral("%\n");
                auto hit = std::find_if(paints.begin(), paints.end(), [&](const PaintClock::Paint& p) {
                    return p.done >= seen[i].seen && p.done < seen[i + 1].seen && p.text.startsWith(shown);
                });
                if (seen[i].progress < 0 || hit == paints.end()) {
                    ++missed;
                    if (each) std::printf("poll %u: %d%% not painted before the next poll\n", seen[i].poll, seen[i].progress);
                } else {
                    delays.push_back(ms(hit->done - seen[i].seen));
                    if (each) std::printf("poll %u: %d%% painted after %.3f ms\n", seen[i].poll, seen[i].progress, delays.back());
                }
            }
            rc = missed == 0 ? 0 : 1;
        }
        session.reset();
        host.stop();
        if (service.running() && service.stop() != 0 && error.empty()) error = "the service did not end cleanly";
        if (!error.empty()) std::fprintf(stderr, "raid_bench_poll_repaint: %s\n%s", error.c_str(), slurp(err).c_str());
    }
    if (!error.empty()) return 1;

    const Figures f = summarise(delays);
    std::printf("From the service's PropertiesChanged to the client window's Status page painted with its progress\n");
    std::printf("one RAID1 enclosure rebuilding, a poll every 4 s, %d polls (%d missed)\n", polls, missed);
    std::printf("%-34s median %6.2f  mean %6.2f  p99 %6.2f  max %6.2f ms   (target 50 ms)\n", "poll to repaint",
                f.median, f.mean, f.p99, f.worst);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}

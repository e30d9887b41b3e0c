// The native window's longest stall while the engine works beside it, on simulated
// enclosures in this process and in real time, every request taking --latency-us (500
// by default) so that a poll and an upgrade take the time they take on a device:
//
//   (a) polling: one RAID1 enclosure rebuilding, its progress moving on every second,
//       so that each 4 s poll changes the Status page and the window repaints it;
//   (b) a full firmware upgrade (five sub-codes): the Upgrade page, the device, the
//       image loaded through the engine's command, Upgrade, the progress bar running
//       to its end, any box the window puts up answered.
//
// A thread of the benchmark sends the window WM_NULL every 2 ms and times each round
// trip (StallMeter.h); another answers every message box the window puts up, as a
// user would, by clicking its first button. Target: 16 ms, as for the Qt window.
//
//   raid_bench_win32_stall [--seconds N] [--latency-us U] [--path mailbox|ata|vu1]
//
// Run under Wine on a virtual display with bench/win32/run.sh (a Wine prefix that
// draws windows' frames itself: see there why).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StallMeter.h"
#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "app/UpgradeOperations.h"
#include "gui-win32/WinApp.h"
#include "platform/Platform.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/Scenario.h"
#include "sim/run/SimRunner.h"

namespace {

using raid::bench::win::StallFigures;
using raid::bench::win::StallMeter;
constexpr double kTargetMs = 16;

// Answers the window's message boxes (dialogs of the window's thread) by clicking the
// first button of each: OK on a notice, Yes on a question.
class BoxAnswerer {
public:
    explicit BoxAnswerer(DWORD windowThread) : thread_(windowThread) {
        worker_ = std::thread([this] {
            while (!stop_) {
                EnumThreadWindows(thread_, &BoxAnswerer::visit, reinterpret_cast<LPARAM>(this));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~BoxAnswerer() {
        stop_ = true;
        worker_.join();
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    int answered() const { return answered_; }
    std::string lastCaption() const {
        std::lock_guard<std::mutex> lock(mu_);
        return lastCaption_;
    }

private:
    static BOOL CALLBACK visit(HWND w, LPARAM self) {
        auto* me = reinterpret_cast<BoxAnswerer*>(self);
        wchar_t cls[16] = {};
        if (!IsWindowVisible(w) || !GetClassNameW(w, cls, 16) || std::wcscmp(cls, L"#32770") != 0) return TRUE;
        HWND button = FindWindowExW(w, nullptr, L"Button", nullptr);
        if (!button) return TRUE;
        // One answer per box: it may take a moment to go.
        if (w == me->lastBox_) return TRUE;
        me->lastBox_ = w;
        char caption[256] = {};
        GetWindowTextA(w, caption, sizeof caption);
        {
            std::lock_guard<std::mutex> lock(me->mu_);
            me->lastCaption_ = caption;
        }
        ++me->answered_;
        PostMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return TRUE;
    }

    DWORD thread_;
    HWND lastBox_ = nullptr;  // the worker's own
    std::atomic<int> answered_{0};
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    std::string lastCaption_;
    std::thread worker_;
};

// A rebuild of drive 1 from drive 2 whose progress moves on one percent a second for
// `seconds` seconds, on the built-in machine (system disk C:, the enclosure as E:).
raid::sim::Scenario rebuildScenario(int seconds) {
    raid::sim::Scenario sc = raid::sim::defaultScenario();
    for (int s = 0; s <= seconds; ++s) {
        raid::sim::StatusOptions o;
        o.setActivity(0x01, static_cast<std::uint8_t>(1 + s % 99));
        raid::sim::ScenarioStep step;
        step.seconds = s;
        step.line = static_cast<int>(sc.steps.size()) + 1;
        step.verb = "status";
        step.drive = 1;
        step.status = raid::sim::makeStatusRecord(o);
        sc.steps.push_back(std::move(step));
    }
    return sc;
}

// The engine on the simulated machine with the native window, as raid-gui-sim.exe runs
// it, driven from this thread.
class Rig {
public:
    Rig(raid::sim::RunOptions options, raid::sim::Scenario scenario)
        : host_(raid::makeRealScheduler(), [this, options, scenario](raid::Scheduler& s, raid::Controls& c,
                                                                     raid::DialogPort& d) {
              runner_ = std::make_unique<raid::sim::SimRunner>(options, nullptr, s, c, d);
              runner_->useScenario(scenario);
              std::string error;
              auto form = runner_->buildForm(error);
              if (!form) std::fprintf(stderr, "raid_bench_win32_stall: %s\n", error.c_str());
              return form;
          }) {
        host_.onCreated = [this](raid::MainForm&) { runner_->afterCreate(); };
        // Every change the engine hands the window (counted on the engine thread).
        host_.controls().addListener([this](const raid::ControlChange& c) {
            ++changes_;
            {
                std::lock_guard<std::mutex> lock(changesMu_);
                changeLog_.push_back({StallMeter::Clock::now(), c.control});
            }
            if (c.prop == raid::Prop::Progress && c.control == raid::names::ProgressBar1) {
                ++progressSteps_;
                progressMax_ = c.state.progress.maximum;
                progressTop_ = std::max(progressTop_.load(), c.state.progress.value);
            }
        });
        session_ = std::make_unique<raid::win::WinSession>(host_);
        session_->setQuitHandler([] {});
        session_->start();
        answerer_ = std::make_unique<BoxAnswerer>(GetCurrentThreadId());
    }
    ~Rig() {
        answerer_.reset();
        session_.reset();
        host_.stop();
    }

    HWND window() const { return session_->window(); }
    raid::EngineHost& host() { return host_; }
    long changes() const { return changes_; }
    HWND control(const char* name) const { return session_->control(name); }
    // The controls the engine changed in the `windowMs` before `t`, for telling what
    // the window was drawing when it stalled.
    std::string changedBefore(StallMeter::Clock::time_point t, int windowMs) {
        std::lock_guard<std::mutex> lock(changesMu_);
        std::vector<std::string> seen;
        for (const auto& [when, name] : changeLog_) {
            if (when > t || when < t - std::chrono::milliseconds(windowMs)) continue;
            if (std::find(seen.begin(), seen.end(), name) == seen.end()) seen.push_back(name);
        }
        if (seen.empty()) return "none";
        // A page's worth of changes is named by its first few.
        constexpr std::size_t kNamed = 6;
        std::string names;
        for (std::size_t i = 0; i < std::min(kNamed, seen.size()); ++i) names += (i ? " " : "") + seen[i];
        if (seen.size() > kNamed) names += " and " + std::to_string(seen.size() - kNamed) + " more";
        return names;
    }
    // The engine's progress bar: how often it moved, how far, out of what.
    long progressSteps() const { return progressSteps_; }
    std::uint32_t progressTop() const { return progressTop_; }
    std::uint32_t progressMax() const { return progressMax_; }
    int boxes() const { return answerer_->answered(); }
    std::string lastBox() const { return answerer_->lastCaption(); }

    // Asks the engine `question` (on its thread) until it holds, pumping the window's
    // messages meanwhile; false after `bound`.
    bool waitFor(const std::function<bool(raid::MainForm&)>& question, std::chrono::seconds bound) {
        auto answer = std::make_shared<std::atomic<int>>(-1);
        const auto until = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < until) {
            answer->store(-1);
            host_.post([answer, question](raid::MainForm& f) { answer->store(question(f) ? 1 : 0); });
            raid::win::pumpUntil([&] { return answer->load() >= 0; }, 10000);
            if (answer->load() == 1) return true;
            raid::win::pumpUntil([] { return false; }, 100);
        }
        return false;
    }

private:
    std::unique_ptr<raid::sim::SimRunner> runner_;
    std::atomic<long> changes_{0};
    std::mutex changesMu_;
    std::vector<std::pair<StallMeter::Clock::time_point, std::string>> changeLog_;
    std::atomic<long> progressSteps_{0};
    std::atomic<std::uint32_t> progressTop_{0}, progressMax_{0};
    raid::EngineHost host_;
    std::unique_ptr<raid::win::WinSession> session_;
    std::unique_ptr<BoxAnswerer> answerer_;
};

bool detected(raid::MainForm& f) { return f.dev.ActiveCount > 0 && !f.dev.DetectionPending; }

void print(const char* what, const StallFigures& s) {
    std::printf("%-34s max %7.2f  p99 %6.2f  median %5.2f ms   %zu round trips, %zu over %.0f ms, %zu unanswered\n",
                what, s.max, s.p99, s.median, s.samples, s.overTarget, kTargetMs, s.unanswered);
}

// The three longest round trips of a phase: when they were sent (s into the phase),
// and which controls the engine changed from 200 ms before until the answer.
void printLongest(StallMeter& meter, Rig& rig, StallMeter::Clock::time_point phaseStart) {
    for (const StallMeter::Sample& s : meter.longest(3))
        std::printf("%-34s %7.2f ms at %6.2f s; changed from 200 ms before: %s\n", "  long round trip", s.ms,
                    std::chrono::duration<double>(s.sent - phaseStart).count(),
                    rig.changedBefore(s.sent + std::chrono::milliseconds(1 + static_cast<long>(s.ms)),
                                      201 + static_cast<int>(s.ms))
                        .c_str());
}

}  // namespace

int benchMain(int argc, char** argv) {
    int seconds = 30;
    long latencyUs = 500;
    raid::sim::Path path = raid::sim::Path::Mailbox;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::max(5, std::min(3600, std::atoi(argv[i + 1])));
        if (!std::strcmp(argv[i], "--latency-us")) latencyUs = std::max(0L, std::min(1000000L, std::atol(argv[i + 1])));
        if (!std::strcmp(argv[i], "--path"))
            path = !std::strcmp(argv[i + 1], "ata")   ? raid::sim::Path::Ata
                   : !std::strcmp(argv[i + 1], "vu1") ? raid::sim::Path::Vu1
                                                      : raid::sim::Path::Mailbox;
    }

    // The run's day logs and image, gone with it however it ends.
    struct TempDir {
        std::filesystem::path path;
        ~TempDir() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    std::error_code ec;
    const TempDir temp{std::filesystem::temp_directory_path(ec) /
                       ("raid-bench-stall-" + std::to_string(GetCurrentProcessId()))};
    const std::filesystem::path& dir = temp.path;
    std::filesystem::create_directories(dir / "logs", ec);
    if (ec) {
        std::fprintf(stderr, "raid_bench_win32_stall: cannot make %s\n", (dir / "logs").string().c_str());
        return 1;
    }
    raid::sim::RunOptions options;
    options.virtualTime = false;
    options.latencyUs = latencyUs;
    options.logDir = (dir / "logs").string();
    options.untilSeconds = 1e6;
    options.keepLines = false;
    options.watchSignals = false;
    int rc = 0;

    std::printf("The native window's longest stall: WM_NULL sent every 2 ms, each round trip timed (target %.0f ms)\n",
                kTargetMs);
    std::printf("simulated enclosures in this process, real time, %ld us per request\n", latencyUs);

    // (a) Polling, the Status page following a rebuild.
    {
        Rig rig(options, rebuildScenario(seconds + 60));
        if (!rig.waitFor(detected, std::chrono::seconds(120))) {
            std::fprintf(stderr, "raid_bench_win32_stall: the enclosure was not detected within 120 s\n");
            return 1;
        }
        StallMeter meter(rig.window());
        const auto phaseStart = StallMeter::Clock::now();
        const long before = rig.changes();
        raid::win::pumpUntil([] { return false; }, seconds * 1000);
        meter.stop();
        const StallFigures f = meter.figures(kTargetMs);
        char what[64];
        std::snprintf(what, sizeof what, "polling %d s (rebuild)", seconds);
        print(what, f);
        printLongest(meter, rig, phaseStart);
        std::printf("%-34s %ld control changes handed to the window\n", "", rig.changes() - before);
        if (f.samples == 0) rc = 1;
    }

    // (b) A full firmware upgrade.
    {
        raid::sim::Scenario sc = raid::sim::defaultScenario();
        for (auto& step : sc.steps)
            if (step.verb == "attach") step.path = path;
        Rig rig(options, sc);
        if (!rig.waitFor(detected, std::chrono::seconds(120))) {
            std::fprintf(stderr, "raid_bench_win32_stall: the enclosure was not detected within 120 s\n");
            return 1;
        }
        raid::sim::FirmwareImageOptions o;
        o.subCodes.assign(5, raid::sim::SubCodeOptions{});
        for (std::size_t i = 0; i < o.subCodes.size(); ++i) o.subCodes[i].codeType = static_cast<std::uint8_t>(0x31 + i);
        const std::string image = (dir / "full.bin").string();
        if (!raid::sim::writeFlashFile(image, raid::sim::makeFirmwareImage(o))) {
            std::fprintf(stderr, "raid_bench_win32_stall: cannot write %s\n", image.c_str());
            return 1;
        }

        StallMeter meter(rig.window());
        const auto phaseStart = StallMeter::Clock::now();
        // Shared with the engine thread, which may still be upgrading when a run that
        // timed out ends.
        struct Outcome {
            std::atomic<bool> done{false}, loaded{false};
            std::atomic<double> seconds{0};
        };
        auto outcome = std::make_shared<Outcome>();
        rig.host().post([outcome, image](raid::MainForm& form) {
            form.Click(raid::names::Image_FWUpg);
            form.Click(raid::names::upgradeDeviceImage[0]);
            outcome->loaded = loadFirmwareImage(form, image).loaded;
            const auto start = std::chrono::steady_clock::now();
            if (outcome->loaded) form.Click(raid::names::Image2_Upgrade);
            outcome->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            outcome->done = true;
        });
        const bool finished = raid::win::pumpUntil([&] { return outcome->done.load(); }, 600000);
        meter.stop();
        const StallFigures f = meter.figures(kTargetMs);
        if (!finished || !outcome->loaded) {
            std::fprintf(stderr, "raid_bench_win32_stall: the upgrade %s\n",
                         !finished ? "did not end within 600 s" : "image was not loaded");
            rc = 1;
        }
        std::printf("full upgrade (%s path)%*s %7.2f s, %d box(es) answered (last: \"%s\")\n",
                    path == raid::sim::Path::Ata ? "ATA" : path == raid::sim::Path::Vu1 ? "VU" : "mailbox",
                    path == raid::sim::Path::Mailbox ? 7 : 11, "", outcome->seconds.load(), rig.boxes(),
                    rig.lastBox().c_str());
        print("during the upgrade", f);
        printLongest(meter, rig, phaseStart);
        // What the window's own progress bar shows at the end (the engine hides the
        // panel when it is over; the bar keeps its last position).
        // The engine's last move may still be on its way to the window's thread.
        HWND bar = rig.control(raid::names::ProgressBar1);
        const auto position = [bar] { return bar ? static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1; };
        raid::win::pumpUntil([&] { return position() == static_cast<long>(rig.progressTop()); }, 10000);
        const long shown = position();
        const long range = bar ? static_cast<long>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)) : -1;
        std::printf("%-34s %ld moves of the engine's bar, up to %u of %u; the window's bar at %ld of %ld\n",
                    "progress bar", rig.progressSteps(), rig.progressTop(), rig.progressMax(), shown, range);
    }
    return rc;
}

int main(int argc, char** argv) { return raid::withProgramArguments(argc, argv, benchMain); }

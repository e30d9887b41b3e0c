// The hand-overs between the engine thread and its workers, on real threads: what a
// test on the virtual clock cannot see (a pass really running beside the engine, a
// task that throws while its worker waits).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <random>
#include <stdexcept>
#include <thread>

#include "app/MainForm.h"
#include "sim/SimPlatform.h"
#include "support/QuietDialogs.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using namespace std::chrono_literals;

using test::QuietDialogs;

TEST(EngineThreads, ATaskThatThrowsInsideInvokeSyncStillReleasesItsWorker) {
    auto sched = makeRealScheduler();
    std::atomic<int> after{0};
    sched->startWorker("w", 10, [&] {
        if (after > 0) return;
        try {
            sched->invokeSync([] { throw std::runtime_error("handler broke"); });
        } catch (...) {
        }
        ++after;  // reached only when the waiter was told the task is over
    });
    std::thread engine([&] { sched->run(); });
    for (int i = 0; i < 300 && after == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_GT(after.load(), 0) << "the worker still waits for a task that threw";
    sched->quit();
    engine.join();
    sched->joinWorkers();
}

// A port whose requests throw while armed: stands for a pass that fails half way.
class ThrowingPort final : public StoragePort {
public:
    explicit ThrowingPort(StoragePort& inner) : inner_(inner) {}
    std::atomic<bool> armed{false};
    std::atomic<int> requests{0};
    DriveHandle open(std::uint8_t target) override {
        ++requests;
        if (armed && target == 1) throw std::runtime_error("bus reset");
        return inner_.open(target);
    }
    void close(DriveHandle h) override { inner_.close(h); }
    bool scsiPassThrough(DriveHandle h, std::uint8_t* r, std::uint8_t* d) override {
        ++requests;
        return inner_.scsiPassThrough(h, r, d);
    }
    bool idePassThrough(DriveHandle h, std::uint8_t* b, std::size_t n) override {
        ++requests;
        return inner_.idePassThrough(h, b, n);
    }
    bool rescanBus(DriveHandle h) override { return inner_.rescanBus(h); }
    bool volumeDiskExtents(DriveHandle h, DiskExtent& e) override { return inner_.volumeDiskExtents(h, e); }

private:
    StoragePort& inner_;
};

struct VirtualForm {
    test::ScenarioKit kit;  // for a log folder
    sim::SimPlatform platform;
    ThrowingPort port{platform};
    QuietDialogs dialogs;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    Controls controls;
    std::unique_ptr<MainForm> form;
    VirtualForm() {
        platform.addPlainDisk(0);
        platform.attach(1, sim::Path::Mailbox, sim::makeIdentityPage(), sim::makeStatusRecord());
        form = std::make_unique<MainForm>(
            Ports{*sched, port, platform, dialogs, nullptr, nullptr, nullptr, kit.dir(), kit.dir()}, controls);
    }
    void runUntil(double s) { sched->run(static_cast<std::int64_t>(s * 1e6)); }
};

TEST(EngineThreads, AThrowingPassEndsAsAFailedPassAndTheNextDetectionStillRuns) {
    VirtualForm v;
    v.form->FormCreate();
    v.port.armed = true;  // the pass, not the first count, meets the failure
    v.runUntil(2);
    MainForm& f = *v.form;
    EXPECT_EQ(f.detection().phase(), DetectionPhase::Idle);
    EXPECT_FALSE(f.dev.DetectionPending.load());
    ASSERT_FALSE(v.dialogs.shown.empty());
    EXPECT_EQ(v.dialogs.shown.back(), ":bus reset");
    EXPECT_EQ(f.dev.ActiveCount.load(), 0);

    // The next device change looks again, whatever it counts, and that pass publishes.
    v.port.armed = false;
    f.DeviceChange();
    v.runUntil(12);
    EXPECT_EQ(f.detection().passTimesUs().size(), 2u);
    EXPECT_EQ(f.dev.ActiveCount.load(), 1);
    EXPECT_EQ(f.controls().text(panelName(1)), "Detected OK");
}

TEST(EngineThreads, ARequestHandedOverWhileAPassIsRequestedWaitsForThePass) {
    VirtualForm v;
    v.form->FormCreate();
    v.runUntil(6);
    MainForm& f = *v.form;
    ASSERT_EQ(f.dev.ActiveCount.load(), 1);
    // The engine asks for a pass between the worker's look and the hand-over.
    f.detection().request();
    f.RequestMask |= kRequestPoll | kRequestAction;
    const auto before = v.port.requests.load();
    f.RunRequest();
    EXPECT_EQ(v.port.requests.load(), before) << "a request reached the drives while a pass owned them";
    EXPECT_EQ(f.RequestMask & (kRequestPoll | kRequestAction), kRequestPoll | kRequestAction);
}

// --- real-time hot-plug runs

struct PlugRun {
    test::ScenarioKit kit;
    std::unique_ptr<sim::SimRunner> runner;
    std::string seedText;
};

// Enclosures with their own identities plugged in seconds apart, at random offsets,
// while every request takes real time; nothing is ever unplugged.
void prepareHotPlugs(PlugRun& run, unsigned seed, int enclosures, double& until) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> gap(1.5, 6.0);
    const std::string st = run.kit.block("raid1.bin", sim::makeStatusRecord());
    run.kit.line("0 disk 0");
    double t = 0;
    for (int n = 1; n <= enclosures; ++n) {
        const std::string id = run.kit.block(
            "id" + std::to_string(n) + ".bin",
            sim::makeIdentityPage(sim::IdentityOptions().setModel("BOX " + std::to_string(n))));
        if (n > 1) t += gap(rng);
        char at[32];
        std::snprintf(at, sizeof at, "%.1f", t);
        run.kit.line(std::string(at) + " attach " + std::to_string(n) + " mailbox identity=" + id + " status=" + st);
        run.seedText += std::string(" ") + at;
    }
    until = t + 12;  // the last countdown (5 s), its pass, a poll and the drawing
}

void startRealTime(PlugRun& run, double until, std::int64_t latencyUs) {
    const sim::RunOptions o = run.kit.realTimeOptions(until, latencyUs);
    run.runner = std::make_unique<sim::SimRunner>(o, nullptr);
    std::string error;
    ASSERT_TRUE(run.runner->load(error)) << error;
    ASSERT_TRUE(run.runner->start(error)) << error;
}

TEST(HotPlugsRealTime, NoFalseRemovalsOrAlertsTwentyRunsEachOfThreeAndFourEnclosures) {
    // Forty runs side by side, each on its own engine and worker threads.
    std::vector<std::unique_ptr<PlugRun>> runs;
    std::vector<std::future<void>> done;
    for (int i = 0; i < 40; ++i) {
        auto run = std::make_unique<PlugRun>();
        double until = 0;
        prepareHotPlugs(*run, 1000u + static_cast<unsigned>(i), i < 20 ? 3 : 4, until);
        // The run's end is a safety bound only: each run ends once its last plug has
        // been re-detected and the watched enclosures are written into the day file.
        startRealTime(*run, until + 300, 15000 + 1000 * (i % 10));
        if (::testing::Test::HasFatalFailure()) return;
        sim::SimRunner* r = run->runner.get();
        const std::int64_t lastPlugUs = static_cast<std::int64_t>((until - 12) * 1e6);
        done.push_back(std::async(std::launch::async, [r, lastPlugUs] {
            test::runUntilDone(*r, [lastPlugUs](sim::SimRunner& runner) {
                MainForm& f = runner.form();
                if (runner.scheduler().nowUs() < lastPlugUs || f.DeviceChangeCountdown != 0 || f.dev.DetectionPending ||
                    f.detection().busy())
                    return false;
                int information = 0;
                for (const auto& line : f.eventLog().lines())
                    information += line == "Device1 information :" || line == "Device2 information :";
                return information >= 2;
            });
        }));
        runs.push_back(std::move(run));
    }
    for (auto& d : done) d.wait();
    // Real time: the day file is named after today.
    char today[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "%y%m%d", std::localtime(&now));
    for (auto& run : runs) {
        sim::SimRunner& r = *run->runner;
        const std::string where = "plugs at" + run->seedText;
        EXPECT_TRUE(r.linesWith("Alert[").empty()) << where << ": " << r.linesWith("Alert[").front();
        const auto day = run->kit.dayFile(today);
        int information = 0;
        for (const auto& line : day) {
            EXPECT_EQ(line.find("removed"), std::string::npos) << where << ": " << line;
            if (line == "Device1 information :" || line == "Device2 information :") ++information;
        }
        EXPECT_GE(information, 2) << where << ": the two watched enclosures are described";
    }
}

TEST(HotPlugsRealTime, HundredsOfPlugsPollsAndASessionEndDuringAPass) {
    test::ScenarioKit kit;
    const std::string st = kit.block("raid1.bin", sim::makeStatusRecord());
    const std::string id1 = kit.block("id1.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("BOX 1")));
    const std::string id3 = kit.block("id3.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("BOX 3")));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + id1 + " status=" + st);
    // 200 attach/detach pairs of drive 3, 25 ms apart, from second 1.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(0, 9);
    double t = 1.0;
    for (int i = 0; i < 200; ++i) {
        char at[32];
        std::snprintf(at, sizeof at, "%.3f", t);
        kit.line(std::string(at) + " attach 3 mailbox identity=" + id3 + " status=" + st);
        t += 0.020 + 0.001 * jitter(rng);
        std::snprintf(at, sizeof at, "%.3f", t);
        kit.line(std::string(at) + " detach 3");
        t += 0.020 + 0.001 * jitter(rng);
    }
    // Settle with drive 3 attached, then end the session while a pass runs.
    char at[32];
    std::snprintf(at, sizeof at, "%.3f", t + 0.1);
    kit.line(std::string(at) + " attach 3 mailbox identity=" + id3 + " status=" + st);
    std::snprintf(at, sizeof at, "%.3f", t + 5.9);
    kit.line(std::string(at) + " sessionend");
    sim::SimRunner r(kit.realTimeOptions(t + 40, 20000), nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;
    const auto before = std::chrono::steady_clock::now();
    r.run();
    EXPECT_TRUE(r.quitRequested()) << "the session end was not taken up";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(static_cast<int>(t) + 30));
    r.scheduler().joinWorkers();  // a pass cut short by the end finishes its request
    EXPECT_EQ(r.platform().openHandles(), 0);
}

}  // namespace
}  // namespace raid

// The engine on its own thread, as the window runs it.
#include <gtest/gtest.h>


#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <ctime>
#include <functional>
#include <vector>

#include "app/EngineHost.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"
#include "sim/run/SyntheticHistory.h"
#include "support/QuietDialogs.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::QuietDialogs;

TEST(EngineHost, StoppingDuringADetectionPassWaitsForItInsteadOfCrashing) {
    sim::SimPlatform platform([](std::int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); });
    platform.setLatencyUs(20000);  // a pass takes well over a second
    for (int n = 0; n < 4; ++n)
        platform.attach(n, sim::Path::Vu2, sim::makeIdentityPage(sim::IdentityOptions().setModel("B" + std::to_string(n))),
                        sim::makeStatusRecord());
    QuietDialogs dialogs;
    test::ScenarioKit kit;  // for a log folder
    {
        EngineHost host(makeRealScheduler(), [&](Scheduler& s, Controls& c, DialogPort& d) {
            Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, kit.dir(), kit.dir()};
            return std::make_unique<MainForm>(ports, c);
        });
        host.start(dialogs);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto before = std::chrono::steady_clock::now();
        host.stop();
        // The pass was cut short at its next request, or finished: either way the
        // host is down within the time a pass takes.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    }
    EXPECT_EQ(platform.openHandles(), 0);
}

// The history chart across threads: the window's requests come from another thread,
// the source answers later on the engine thread (released from a third), and the
// charts go out to the window in order; nothing reaches a closed window.
TEST(EngineHost, HistoryChartRequestsAndLateAnswersAcrossThreads) {
    sim::SimPlatform platform;
    platform.addPlainDisk(0);
    QuietDialogs dialogs;
    test::ScenarioKit kit;
    std::unique_ptr<EngineHost> host;
    const double now = static_cast<double>(std::time(nullptr));
    sim::FakeHistorySource source([&host](std::function<void()> fn) { host->post([fn](MainForm&) { fn(); }); },
                                  sim::fanFailureHistory(now), true);
    host = std::make_unique<EngineHost>(makeRealScheduler(), [&](Scheduler& s, Controls& c, DialogPort& d) {
        Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, kit.dir(), kit.dir()};
        return std::make_unique<MainForm>(ports, c);
    });
    std::mutex m;
    std::vector<HistoryChart> charts;
    std::atomic<int> opened{0};
    host->historySource = &source;
    host->onShowHistoryWindow = [&] { ++opened; };
    host->onHistoryChart = [&](const HistoryChart& chart) {
        std::lock_guard lock(m);
        charts.push_back(chart);
    };
    const auto count = [&] {
        std::lock_guard lock(m);
        return charts.size();
    };
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 12000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };
    host->start(dialogs);
    host->command([](EngineCommands& f) { f.Click(names::Panel11); });
    host->command([](EngineCommands& f) { f.HistoryRangeClick(HistoryRange::Week); });
    ASSERT_TRUE(waitFor([&] { return source.requests() == 2 && count() == 2; }));
    // Both answers come; only the one asked last is shown.
    std::thread([&] { source.release(); }).join();
    ASSERT_TRUE(waitFor([&] { return count() == 3; }));
    {
        std::lock_guard lock(m);
        EXPECT_EQ(charts[0].message, kHistoryLoading);
        EXPECT_EQ(charts[1].message, kHistoryLoading);
        EXPECT_EQ(charts[2].message, "");
        EXPECT_EQ(charts[2].range, HistoryRange::Week);
        EXPECT_EQ(charts[2].fan.alarms.size(), 1u);
    }
    EXPECT_EQ(opened, 1);
    EXPECT_NEAR(static_cast<double>(source.lastFrom()), now - 7 * 86400.0, 600.0);
    // Closed while an answer is out: it is dropped.
    host->command([](EngineCommands& f) { f.HistoryRangeClick(HistoryRange::Quarter); });
    ASSERT_TRUE(waitFor([&] { return source.requests() == 3; }));
    host->command([](EngineCommands& f) { f.HistoryWindowClosed(); });
    std::promise<bool> closed;
    host->post([&](MainForm& f) { closed.set_value(!f.historyWindow().open()); });
    ASSERT_TRUE(closed.get_future().get());
    const std::size_t before = count();
    source.release();
    std::promise<void> drained;
    host->post([&](MainForm&) { drained.set_value(); });
    drained.get_future().wait();
    host->stop();
    EXPECT_EQ(count(), before);
}

TEST(EngineHost, AnExceptionInAHandlerIsShownAndTheEngineGoesOn) {
    sim::SimPlatform platform;
    platform.addPlainDisk(0);
    QuietDialogs dialogs;
    test::ScenarioKit kit;
    EngineHost host(makeRealScheduler(), [&](Scheduler& s, Controls& c, DialogPort& d) {
        Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, kit.dir(), kit.dir()};
        return std::make_unique<MainForm>(ports, c);
    });
    host.start(dialogs);
    host.post([](MainForm&) { throw std::runtime_error("something broke"); });
    std::atomic<bool> after{false};
    host.post([&](MainForm&) { after = true; });
    for (int i = 0; i < 500 && !after; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(after);
    host.stop();
    std::lock_guard<std::mutex> lock(dialogs.m);
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0], ":something broke");
}

// The window's program ends with the engine thread. Day log lines no folder could take
// get a last try there, and what is still lost is handed to the program to say; on the
// way the window reads log files through the engine, which never opens a FIFO.
TEST(EngineHost, TheEndOfTheEngineSavesTheDayLogOrSaysWhatIsLost) {
    sim::SimPlatform platform;
    platform.addPlainDisk(0);
    QuietDialogs dialogs;
    test::ScenarioKit kit;
    std::ofstream(kit.dir() + "/box") << "in the way";
    std::ofstream(kit.dir() + "/state") << "in the way";
    const test::PlantedPipe fifo(kit.dir(), "fifo.log");
    ASSERT_FALSE(fifo.path.empty());
    std::ofstream(kit.dir() + "/old.log", std::ios::binary) << "old one\r\nold two\r\n";
    // Joined as the program joins them (it shows them in its messages).
    const std::string logs = test::pathText(std::filesystem::path(kit.dir()) / "box" / "logs"),
                      spare = test::pathText(std::filesystem::path(kit.dir()) / "state" / "raid-gui");
    const auto runWindow = [&](std::vector<LogFileText>& viewed) {
        std::atomic<bool> quit{false};
        EngineHost host(makeRealScheduler(), [&](Scheduler& s, Controls& c, DialogPort& d) {
            Ports ports{s, platform, platform, d, nullptr, nullptr, nullptr, logs, spare};
            return std::make_unique<MainForm>(ports, c);
        });
        host.onQuit = [&] { quit = true; };
        host.start(dialogs);
        host.post([](MainForm& f) {
            f.eventLog().prepareForPass(f.scheduler().wallSeconds(), false);
            f.eventLog().addLine("D1 HDD2 was removed");
            f.eventLog().save();
        });
        auto answers = std::make_shared<std::promise<std::vector<LogFileText>>>();
        auto viewedFuture = answers->get_future();
        const std::string dir = kit.dir(), pipe = fifo.path;
        host.command([answers, dir, pipe](EngineCommands& c) {
            answers->set_value({c.readLogFile(pipe), c.readLogFile(dir + "/old.log")});
        });
        host.command([](EngineCommands& c) { c.CloseRequest(); });
        EXPECT_EQ(viewedFuture.wait_for(std::chrono::seconds(120)), std::future_status::ready);
        viewed = viewedFuture.get();
        for (int i = 0; i < 12000 && !quit; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(quit);
        host.stop();
        return host.eventLogLoss();
    };

    std::vector<LogFileText> viewed;
    EXPECT_EQ(runWindow(viewed), "2 event lines could not be saved: neither " + logs + " nor " +
                                     EventLog::fallbackSubfolder(spare, logs) + " can be written");
    ASSERT_EQ(viewed.size(), 2u);
    EXPECT_FALSE(viewed[0].ok);
    EXPECT_EQ(viewed[0].problem, "Log file " + fifo.path + " is not a regular file");
    EXPECT_TRUE(viewed[1].ok);
    EXPECT_EQ(viewed[1].lines, (std::vector<std::string>{"old one", "old two"}));

    // The fallback folder can be made by the next end.
    std::filesystem::remove(kit.dir() + "/state");
    EXPECT_EQ(runWindow(viewed), "");
    std::string saved;
    for (const auto& entry : std::filesystem::directory_iterator(EventLog::fallbackSubfolder(spare, logs))) {
        if (entry.path().extension() != ".log") continue;
        std::ifstream copy(entry.path(), std::ios::binary);
        saved.append((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(saved.find("D1 HDD2 was removed\r\n"), std::string::npos) << saved;
}

TEST(SessionEnd, WithNoEnclosureTheSessionEndsWithoutABox) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("10 sessionend");
    auto& r = kit.run(20);
    EXPECT_TRUE(r.quitRequested());
    EXPECT_TRUE(r.linesWith("MessageBox").empty());
}

}  // namespace
}  // namespace raid

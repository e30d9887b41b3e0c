// The engine on its own thread, as the window runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "app/EngineHost.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"
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

TEST(SessionEnd, WithNoEnclosureTheSessionEndsWithoutABox) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("10 sessionend");
    auto& r = kit.run(20);
    EXPECT_TRUE(r.quitRequested());
    EXPECT_TRUE(r.linesWith("MessageBox").empty());
}

}  // namespace
}  // namespace raid

// Two programs on one PC, one enclosure: the second one (same lock folder) sends the
// enclosure's drive nothing while the first holds it, says why, and takes the
// enclosure over once the first ends, without alerting anybody. Plus a user
// without a usable lock folder and a user without rights to the drives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;

// Requests sent to `drive` (not its opens and closes), from a trace file.
int commandsTo(const std::string& tracePath, int drive) {
    std::ifstream f(tracePath);
    std::string target;
    int commands = 0;
    for (std::string l; std::getline(f, l);) {
        sim::TraceLine t;
        if (!sim::parseTraceLine(l, t)) continue;
        if (t.kind == sim::TraceLine::Kind::Open) target = t.ok ? t.target : "";
        else if (t.kind == sim::TraceLine::Kind::Close) target.clear();
        else if (target == "PhysicalDrive" + std::to_string(drive)) ++commands;
    }
    return commands;
}

struct TwoPrograms : ::testing::Test {
    ScenarioKit kit;
    sim::SimPlatform machine;  // the one PC both programs run on

    void SetUp() override {
        const std::string st = kit.block("raid1.bin", sim::makeStatusRecord());
        const std::string id = kit.block("id.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("BOX")));
        kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + id + " status=" + st);
    }
    sim::RunOptions options(const std::string& name, bool virtualTime, double until) {
        kit.run(0);  // writes the scenario file
        sim::RunOptions o = kit.realTimeOptions(until, virtualTime ? 0 : 2000);
        o.virtualTime = virtualTime;
        o.tracePath = kit.dir() + "/trace-" + name + ".txt";
        o.logDir = kit.dir() + "/" + name;
        std::filesystem::create_directories(o.logDir);
        o.settingsPath = o.logDir + "/settings.reg";
        o.lockDir = kit.dir() + "/locks";
        return o;
    }
    // The first program plays the scenario (the machine's drives) and ends at `endAt`;
    // the second brings nothing of its own. On the real clock the second starts once
    // the first has its enclosure.
    std::unique_ptr<sim::SimRunner> first, second;
    std::future<void> runFirst, runSecond;
    void start(bool virtualTime, double endAt, double until) {
        sim::RunOptions a = options("first", virtualTime, until);
        sim::RunOptions b = options("second", virtualTime, until);
        std::ofstream(a.scenarioPath, std::ios::app) << endAt << " sessionend\n";
        first = std::make_unique<sim::SimRunner>(a, nullptr, &machine);
        std::string error;
        ASSERT_TRUE(first->load(error)) << error;
        ASSERT_TRUE(first->start(error)) << error;
        if (!virtualTime) {
            sim::SimRunner* r = first.get();
            runFirst = std::async(std::launch::async, [r] { r->run(); });
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (first->form().dev.ActiveCount.load() == 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ASSERT_EQ(first->form().dev.ActiveCount.load(), 1);
        }
        second = std::make_unique<sim::SimRunner>(b, nullptr, &machine);
        second->useScenario(sim::Scenario{});
        ASSERT_TRUE(second->start(error)) << error;
        if (!virtualTime) {
            // On the real clock the second runs until it has taken the enclosure over
            // and polled it (`until` and `endAt` are only safety bounds): once it has
            // found the drive busy, the first is ended as at a session end.
            sim::SimRunner* r = second.get();
            MainForm* firstForm = &first->form();
            Scheduler* firstScheduler = &first->scheduler();
            runSecond = std::async(std::launch::async, [r, firstForm, firstScheduler] {
                bool askedFirst = false;
                test::runUntilDone(*r, [&](sim::SimRunner& run) {
                    if (!askedFirst && !run.linesWith("PhysicalDrive1 is in use by another RAID GUI").empty()) {
                        askedFirst = true;
                        firstScheduler->post([firstForm] { firstForm->QueryEndSession(); });
                    }
                    return run.form().dev.ActiveCount.load() == 1 && run.form().PollsDone > 0;
                });
            });
        }
    }
    std::string trace(const std::string& name) const { return kit.dir() + "/trace-" + name + ".txt"; }
};

TEST_F(TwoPrograms, TheSecondSendsTheEnclosureNothingSaysWhyAndTakesOverWhenTheFirstEnds) {
    start(true, 12, 30);
    // Both engines on this thread, a quarter second at a time.
    for (double t = 0.25; t <= 11.0; t += 0.25) {
        first->runUntil(t);
        second->runUntil(t);
    }
    EXPECT_GT(commandsTo(trace("first"), 1), 0);
    EXPECT_EQ(first->form().dev.ActiveCount, 1);
    EXPECT_EQ(commandsTo(trace("second"), 1), 0) << "the second program talked to the first one's enclosure";
    EXPECT_GT(commandsTo(trace("second"), 0), 0);  // the plain disk is nobody's: probed
    EXPECT_EQ(second->form().dev.ActiveCount, 0);
    const auto busy = second->linesWith("StatusBar1.Panel4 PhysicalDrive1 is in use by another RAID GUI");
    EXPECT_FALSE(busy.empty());
    // Retries every 5 s, not a busy loop: a handful of passes in 11 s.
    const auto passes = second->form().detection().passTimesUs();
    EXPECT_GE(passes.size(), 2u);
    EXPECT_LE(passes.size(), 4u);

    for (double t = 11.25; t <= 30.0; t += 0.25) {
        if (!first->quitRequested()) first->runUntil(t);
        second->runUntil(t);
    }
    EXPECT_TRUE(first->quitRequested());
    EXPECT_EQ(second->form().dev.ActiveCount, 1) << "the second program did not take the enclosure over";
    EXPECT_GT(commandsTo(trace("second"), 1), 0);
    EXPECT_TRUE(second->linesWith("Alert[").empty()) << second->linesWith("Alert[").front();
    EXPECT_TRUE(first->linesWith("Alert[").empty()) << first->linesWith("Alert[").front();
    // The passes that found the drive busy were detection passes like any other:
    // nobody was told that a device was missing.
    EXPECT_TRUE(second->linesWith("MessageBox").empty()) << second->linesWith("MessageBox").front();
    EXPECT_TRUE(second->linesWith("Device not found").empty()) << second->linesWith("Device not found").front();
    // The busy text went away with the takeover, and no more retries follow.
    EXPECT_NE(second->controls().text(panelName(4)), "PhysicalDrive1 is in use by another RAID GUI");
    const std::size_t passesAtTakeover = second->form().detection().passTimesUs().size();
    const int commandsAtTakeover = commandsTo(trace("second"), 1);
    for (double t = 30.25; t <= 45.0; t += 0.25) second->runUntil(t);
    EXPECT_EQ(second->form().detection().passTimesUs().size(), passesAtTakeover);
    EXPECT_GT(commandsTo(trace("second"), 1), commandsAtTakeover);  // it polls the enclosure
    // And now the first program, started again, is the one kept out.
    sim::RunOptions again = options("again", true, 60);
    sim::SimRunner third(again, nullptr, &machine);
    third.useScenario(sim::Scenario{});
    std::string error;
    ASSERT_TRUE(third.start(error)) << error;
    third.runUntil(3);
    EXPECT_EQ(commandsTo(trace("again"), 1), 0);
    EXPECT_FALSE(third.linesWith("PhysicalDrive1 is in use by another RAID GUI").empty());
}

TEST_F(TwoPrograms, OnRealThreadsTheSecondStaysOffUntilTheFirstEndsThenTakesOver) {
    // Each program on its own engine and worker threads.
    start(false, 250, 300);
    if (HasFatalFailure()) return;
    runFirst.wait();
    runSecond.wait();
    first->scheduler().joinWorkers();
    second->scheduler().joinWorkers();
    EXPECT_TRUE(first->quitRequested());
    EXPECT_GT(commandsTo(trace("first"), 1), 0);
    EXPECT_FALSE(second->linesWith("PhysicalDrive1 is in use by another RAID GUI").empty());
    EXPECT_EQ(second->form().dev.ActiveCount, 1) << "no takeover after the first program ended";
    EXPECT_GT(commandsTo(trace("second"), 1), 0);
    EXPECT_TRUE(second->linesWith("Alert[").empty()) << second->linesWith("Alert[").front();
    EXPECT_EQ(machine.openHandles(), 0);
}

#ifndef _WIN32  // a lock folder under /proc, which nobody can make: Linux's
TEST(DriveLocksUnavailable, ALockFolderThatCannotBeMadeIsToldOnceAndOnlyARootProgramGoesOn) {
    ScenarioKit kit;
    const std::string st = kit.block("raid1.bin", sim::makeStatusRecord());
    const std::string id = kit.block("id.bin", sim::makeIdentityPage(sim::IdentityOptions()));
    kit.line("0 attach 1 mailbox identity=" + id + " status=" + st).line("10 detach 1").line("15 attach 1 mailbox identity=" + id + " status=" + st);
    kit.run(0);
    sim::RunOptions o = kit.realTimeOptions(40);
    o.virtualTime = true;
    o.lockDir = "/proc/self/raid-gui-locks";
    sim::SimRunner r(o, nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;
    r.run();
    EXPECT_TRUE(r.linesWith("in use by another").empty());
    if (!test::isRoot()) {
        // Another user's program never talks to a drive without its lock.
        EXPECT_EQ(r.form().dev.ActiveCount, 0);
        const auto told = r.linesWith("PhysicalDrive1 not used, no lock: ");
        ASSERT_EQ(told.size(), 1u);
        EXPECT_NE(told.front().find("/proc/self/raid-gui-locks"), std::string::npos) << told.front();
        return;
    }
    EXPECT_EQ(r.form().dev.ActiveCount, 1);
    const auto told = r.linesWith("Drives not locked against other RAID GUI programs: ");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told.front().find("/proc/self/raid-gui-locks"), std::string::npos) << told.front();
}

#endif

TEST(DriveRights, AUserWithoutRightsIsToldSoNotJustThatNothingWasFound) {
    ScenarioKit kit;
    const std::string st = kit.block("raid1.bin", sim::makeStatusRecord());
    const std::string id = kit.block("id.bin", sim::makeIdentityPage(sim::IdentityOptions()));
    kit.line("0 attach 1 mailbox identity=" + id + " status=" + st);
    kit.run(0);
    sim::SimPlatform machine;
    machine.setAccessDenied(true);
    sim::RunOptions o = kit.realTimeOptions(10);
    o.virtualTime = true;
    sim::SimRunner r(o, nullptr, &machine);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;
    r.run();
    EXPECT_EQ(r.form().dev.ActiveCount, 0);
    EXPECT_FALSE(r.linesWith("StaticText1 No Drive found!").empty());
    EXPECT_FALSE(
        r.linesWith("StatusBar1.Panel4 No access to the drives: " + raid::driveAccessAdvice()).empty());

    // With the rights the same machine shows no such text.
    sim::SimPlatform allowed;
    sim::SimRunner ok(o, nullptr, &allowed);
    ASSERT_TRUE(ok.load(error)) << error;
    ASSERT_TRUE(ok.start(error)) << error;
    ok.run();
    EXPECT_EQ(ok.form().dev.ActiveCount, 1);
    EXPECT_TRUE(ok.linesWith("No access").empty());
}

}  // namespace
}  // namespace raid

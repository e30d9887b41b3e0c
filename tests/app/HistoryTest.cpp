// The engine's history of a simulated enclosure: one sample a minute, kept for the
// bound and no longer, read back through the window's history source.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <mutex>
#include <thread>
#include <cmath>

#include "app/HistorySources.h"
#include "support/ScenarioKit.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using test::ScenarioKit;

constexpr double kDec7 = 1796601600.0;  // 2026-12-07 00:00:00 UTC
constexpr std::int64_t kDay = 86400;

std::vector<fs::path> historyFiles(const std::string& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir + "/history")) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(History, TenDaysOnTheVirtualClockFillTheStoreToItsBoundAndNoFurther) {
    ScenarioKit kit;
    kit.historyDays = 7;
    auto st = [&](const std::string& name, const sim::StatusOptions& o) { return kit.block(name, sim::makeStatusRecord(o)); };
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) + " status=" +
             st("ok.bin", sim::StatusOptions().setFan(0xA0, 3000, 40)));
    // Day 3: the fan slows down and its alarm rises at 900 RPM, the enclosure warms up.
    kit.line(std::to_string(2 * kDay + 3600) + " status 1 " + st("slow.bin", sim::StatusOptions().setFan(0xA0, 1500, 45)));
    kit.line(std::to_string(2 * kDay + 7200) + " status 1 " + st("fail.bin", sim::StatusOptions().setFan(0xA1, 900, 52)));
    // Day 9: a rebuild at 37 % with the fan replaced; then a record without readings.
    kit.line(std::to_string(8 * kDay) + " status 1 " +
             st("rebuild.bin", sim::StatusOptions().setFan(0xA0, 3100, 41).setActivity(0x01, 37)));
    kit.line(std::to_string(9 * kDay + 600) + " status 1 " + st("blind.bin", sim::StatusOptions().setFan(0x00, 3100, 41)));
    auto& r = kit.run(10 * kDay - 30, 0, kDec7);
    ASSERT_EQ(kit.loadError, "");

    // Seven day files, the oldest from day 4; each full day holds one sample a minute.
    const auto files = historyFiles(kit.dir());
    ASSERT_EQ(files.size(), 7u);
    EXPECT_NE(files.front().filename().string().find("-20261210.rgh"), std::string::npos) << files.front();
    EXPECT_NE(files.back().filename().string().find("-20261216.rgh"), std::string::npos) << files.back();
    std::uintmax_t total = 0;
    for (const auto& f : files) total += fs::file_size(f);
    EXPECT_EQ(fs::file_size(files.front()), HistoryStore::kMaxFileBytes);
    EXPECT_LE(total, 7 * HistoryStore::kMaxFileBytes);
    // The file name holds no device text but letters and digits.
    EXPECT_EQ(files.front().filename().string().find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-."),
              std::string::npos);

    // Read back as the window does, from another thread, answered on the engine's.
    HistorySeries got;
    std::atomic<bool> answered{false};
    std::thread asker([&] {
        r.form().historySource().history(0, 0, [&](bool ok, const HistorySeries& s, const std::string& error) {
            EXPECT_TRUE(ok) << error;
            got = s;
            answered = true;
        });
    });
    asker.join();
    r.scheduler().processPending();
    ASSERT_TRUE(answered);
    EXPECT_EQ(got.label, "SIM DUAL BAY RAID ENCLOSURE SIMENC00000000000001");
    ASSERT_GT(got.samples.size(), 6u * 1440u);
    EXPECT_EQ(got.samples.front().minute, static_cast<std::int64_t>(kDec7) + 3 * kDay);
    for (std::size_t i = 1; i < got.samples.size(); ++i) ASSERT_EQ(got.samples[i].minute - got.samples[i - 1].minute, 60);
    // The fan alarm rose on day 3, before what is kept: the series no longer shows it.
    EXPECT_EQ(got.fanAlarmAt, kNoFanSpeed);
    const HistorySample& day4 = got.samples.front();
    EXPECT_EQ(day4.fanSpeed, 900);
    EXPECT_EQ(day4.temperature, 52);
    EXPECT_EQ(day4.alarms, 0x01);
    EXPECT_EQ(day4.activity, HistoryActivity::Idle);
    const auto at = [&](std::int64_t t) {
        for (const auto& s : got.samples)
            if (s.minute == static_cast<std::int64_t>(kDec7) + t) return s;
        ADD_FAILURE() << "no sample at " << t;
        return HistorySample{};
    };
    const HistorySample rebuild = at(8 * kDay + 120);
    EXPECT_EQ(rebuild.activity, HistoryActivity::Rebuild);
    EXPECT_EQ(rebuild.percent, 37);
    EXPECT_EQ(rebuild.fanSpeed, 3100);
    EXPECT_EQ(rebuild.alarms, 0);
    const HistorySample blind = at(9 * kDay + 1200);
    EXPECT_EQ(blind.fanSpeed, kNoFanSpeed);
    EXPECT_EQ(blind.temperature, kNoTemperature);

    // From day 2 on with a bound of 90 days, the same run keeps the alarm's rise.
    HistoryStore all(r.form().files(), HistoryStore::folderIn(kit.dir()), 90);
    const auto keys = all.enclosures();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(r.form().historyRecorder()->keyOf(0), keys[0].first);
}

TEST(History, AlarmRisesAreMarkedWithTheirReadings) {
    ScenarioKit kit;
    auto st = [&](const std::string& name, const sim::StatusOptions& o) { return kit.block(name, sim::makeStatusRecord(o)); };
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) + " status=" +
             st("ok.bin", sim::StatusOptions().setFan(0xA0, 3000, 40)));
    kit.line("600 status 1 " + st("fail.bin", sim::StatusOptions().setFan(0xA1, 900, 52)));
    kit.line("1200 status 1 " + st("hot.bin", sim::StatusOptions().setFan(0xA5, 800, 61)));
    kit.line("1800 status 1 ok.bin");
    kit.line("2400 status 1 " + st("fail2.bin", sim::StatusOptions().setFan(0xA1, 700, 50)));
    auto& r = kit.run(3000, 0, kDec7);
    HistoryStore& store = *r.form().historyStore();
    const HistorySeries s = store.read(r.form().historyRecorder()->keyOf(0), 0);
    EXPECT_EQ(s.samples.size(), 50u);
    EXPECT_EQ(s.fanAlarmAt, 700);          // the lowest of the two rises (900, 700)
    EXPECT_EQ(s.temperatureAlarmAt, 61);
    const ReadingStats t = temperatureStats(s.samples, 0);
    EXPECT_EQ(t.count, 50u);
    EXPECT_EQ(t.min, 40);
    EXPECT_EQ(t.max, 61);
}

// The window asks from its own thread while the engine polls on the real clock.
TEST(History, TheStoreSourceAnswersAnotherThreadWhilePollingGoesOn) {
    ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) + " status=" +
             kit.block("st.bin", sim::makeStatusRecord(sim::StatusOptions().setFan(0xA0, 3000, 40))));
    sim::SimRunner r(kit.realTimeOptions(900), nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;
    std::atomic<bool> stop{false};
    std::atomic<int> withSamples{0};
    std::atomic<int> asked{0};
    std::thread window([&] {
        while (!stop) {
            ++asked;
            r.form().historySource().history(0, 0, [&](bool ok, const HistorySeries& s, const std::string&) {
                if (ok && !s.samples.empty() && s.samples.back().fanSpeed == 3000) ++withSamples;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const bool done = test::runUntilDone(r, [&](sim::SimRunner& run) {
        return withSamples.load() >= 3 && run.form().PollsDone >= 3;
    });
    stop = true;
    window.join();
    r.scheduler().joinWorkers();
    EXPECT_TRUE(done);
}


#ifndef _WIN32
// Python's own reading of a JSON document ("" when it is no valid JSON).
std::string pythonReads(const std::string& dir, const std::string& json, const std::string& expression) {
    std::ofstream(dir + "/doc.json") << json;
    const std::string cmd = "/usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(" + expression +
                            ")' " + dir + "/doc.json > " + dir + "/py.txt 2>&1";
    if (std::system(cmd.c_str()) != 0) return "";
    std::ifstream f(dir + "/py.txt");
    std::stringstream text;
    text << f.rdbuf();
    std::string out = text.str();
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The history a run left, as scripts and people read it from the monitor, and the
// last day's figures of a look of its own.
TEST(History, TheMonitorPrintsTheStoreAndItsLast24HoursForScripts) {
    ScenarioKit kit;
    kit.logDir = kit.dir() + "/logs";
    auto st = [&](const std::string& name, const sim::StatusOptions& o) { return kit.block(name, sim::makeStatusRecord(o)); };
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) + " status=" +
             st("ok.bin", sim::StatusOptions().setFan(0xA0, 3000, 40)));
    kit.line("1800 status 1 " + st("fail.bin", sim::StatusOptions().setFan(0xA1, 900, 52)));
    // Two hours ago on the machine's clock, so the samples lie in the last 24 hours.
    const double now = static_cast<double>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    const double start = std::floor(now / 3600) * 3600 - 7200;
    kit.run(3600 - 1, 0, start);
    ASSERT_EQ(kit.loadError, "");

    test::ToolResult r = test::runBuiltTool("raid-gui-monitor-sim", "--history --json --log-dir " + kit.logDir, kit.dir());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pythonReads(kit.dir(), r.out,
                          "d[\"schema\"], len(d[\"enclosures\"]), d[\"enclosures\"][0][\"label\"], "
                          "len(d[\"enclosures\"][0][\"samples\"]), d[\"enclosures\"][0][\"fanAlarmAt\"], "
                          "d[\"enclosures\"][0][\"temperatureAlarmAt\"], d[\"enclosures\"][0][\"samples\"][31]"),
              "1 1 SIM DUAL BAY RAID ENCLOSURE SIMENC00000000000001 60 900 None {'minute': " +
                  std::to_string(static_cast<long long>(start) + 1860) + ", 'time': '" +
                  utcMinuteText(static_cast<long long>(start) + 1860).replace(10, 1, "T") +
                  ":00Z', 'temperature': 52, 'fanRpm': 900, 'fanAlarm': True, 'temperatureAlarm': False, "
                  "'driveFlags': 34, 'activity': 'idle', 'percent': 0}")
        << r.out;
    r = test::runBuiltTool("raid-gui-monitor-sim", "--history --log-dir " + kit.logDir, kit.dir());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SIM DUAL BAY RAID ENCLOSURE SIMENC00000000000001 (60 samples)\n  " +
                         utcMinuteText(static_cast<long long>(start)) +
                         " UTC  60 samples  temperature 40..52 C (mean 46.0)  fan 900..3000 RPM (mean 1950.0)  fan alarm\n"),
              std::string::npos)
        << r.out;

    // A look of its own: the day's figures with its own reading, and no sample added.
    const auto files = historyFiles(kit.logDir);
    std::uintmax_t before = 0;
    for (const auto& f : files) before += fs::file_size(f);
    kit.realTimeOptions(0);
    r = test::runBuiltTool("raid-gui-monitor-sim",
                           "--status --json --scenario " + kit.dir() + "/test.scenario --log-dir " + kit.logDir, kit.dir());
    EXPECT_EQ(pythonReads(kit.dir(), r.out,
                          "d[\"enclosures\"][0][\"last24h\"][\"temperature\"][\"min\"], "
                          "d[\"enclosures\"][0][\"last24h\"][\"temperature\"][\"max\"], "
                          "d[\"enclosures\"][0][\"last24h\"][\"fanRpm\"][\"min\"], "
                          "d[\"enclosures\"][0][\"last24h\"][\"fanRpm\"][\"samples\"]"),
              "40 52 900 61")
        << r.out;
    std::uintmax_t after = 0;
    for (const auto& f : historyFiles(kit.logDir)) after += fs::file_size(f);
    EXPECT_EQ(after, before);

    // An enclosure that carries no readings: null, not zero.
    ScenarioKit blind;
    blind.line("0 disk 0").line("0 volume C 0");
    blind.line("0 attach 1 mailbox identity=" + blind.block("id.bin", sim::makeIdentityPage()) +
               " status=" + blind.block("st.bin", sim::makeStatusRecord(sim::StatusOptions().setFan(0x00, 0, 0))));
    blind.realTimeOptions(0);
    r = test::runBuiltTool("raid-gui-monitor-sim",
                           "--status --json --scenario " + blind.dir() + "/test.scenario --log-dir " + blind.dir() + "/logs",
                           blind.dir());
    EXPECT_EQ(pythonReads(blind.dir(), r.out, "d[\"enclosures\"][0][\"last24h\"]"),
              "{'temperature': None, 'fanRpm': None}")
        << r.out;
}
#endif

}  // namespace
}  // namespace raid

// The engine's history of a simulated enclosure: one sample a minute, kept for the
// bound and no longer, read back through the window's history source.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/HistorySources.h"
#include "support/ScenarioKit.h"

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

}  // namespace
}  // namespace raid

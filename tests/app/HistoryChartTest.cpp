// The history chart's model: what both windows draw, from a series of any quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>

#include "app/HistoryChart.h"
#include "support/Portable.h"
#include "sim/run/SyntheticHistory.h"

namespace raid {
namespace {

// Mon 7 December 2026, 14:30 UTC.
constexpr double kNow = 1796653800;

class HistoryChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        oldTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        test::setEnv("TZ", "UTC0");
        test::readTimeZone();
    }
    void TearDown() override {
        if (hadTz_)
            test::setEnv("TZ", oldTz_);
        else
            test::unsetEnv("TZ");
        test::readTimeZone();
    }
    std::string oldTz_;
    bool hadTz_ = false;
};

std::vector<std::string> labels(const std::vector<ChartTick>& ticks) {
    std::vector<std::string> out;
    for (const ChartTick& t : ticks) out.push_back(t.label);
    return out;
}

double xOf(std::int64_t minute, HistoryRange range) {
    const std::int64_t start = historyRangeStart(range, kNow);
    return static_cast<double>(minute - start) / static_cast<double>(historyRangeSeconds(range));
}

TEST_F(HistoryChartTest, FanFailingOnDayThreeShowsAlarmsThresholdsGapsAndLegibleAxes) {
    const HistorySeries series = sim::fanFailureHistory(kNow);
    const sim::FanFailureTimes t = sim::fanFailureTimes(kNow);
    ASSERT_GT(series.fanAlarmAt, 0);
    ASSERT_NE(series.temperatureAlarmAt, kNoTemperature);

    const HistoryChart week = buildHistoryChart(series, HistoryRange::Week, kNow);
    EXPECT_EQ(week.message, "");
    EXPECT_EQ(week.caption, "History - SIM DUAL BAY RAID ENCLOSURE 0000000001 - last 7 days");
    EXPECT_EQ(labels(week.timeTicks), (std::vector<std::string>{"Tue 12/01", "Wed 12/02", "Thu 12/03", "Fri 12/04",
                                                                "Sat 12/05", "Sun 12/06", "Mon 12/07"}));
    // One column is 7 minutes: spans and gaps are placed to within one.
    const double column = 1.0 / kHistoryChartColumns;
    ASSERT_EQ(week.fan.alarms.size(), 1u);
    EXPECT_NEAR(week.fan.alarms[0].from, xOf(t.fanAlarm, HistoryRange::Week), column);
    EXPECT_NEAR(week.fan.alarms[0].to, xOf(t.offFrom, HistoryRange::Week), column);
    ASSERT_EQ(week.temperature.alarms.size(), 1u);
    EXPECT_NEAR(week.temperature.alarms[0].from, xOf(t.heatAlarm, HistoryRange::Week), column);
    EXPECT_EQ(week.fan.title, "Fan speed (RPM)");
    EXPECT_EQ(week.temperature.title, "Temperature (\xC2\xB0" "C)");
    EXPECT_EQ(week.fan.threshold.label, "Alarm at " + std::to_string(series.fanAlarmAt) + " RPM");
    EXPECT_EQ(week.temperature.threshold.label,
              "Alarm at " + std::to_string(series.temperatureAlarmAt) + " \xC2\xB0" "C");
    // The fan's axis runs from 0 in round steps with its unit; the threshold sits on it.
    ASSERT_GE(week.fan.valueTicks.size(), 3u);
    EXPECT_EQ(week.fan.valueTicks.front().label, "0 RPM");
    EXPECT_DOUBLE_EQ(week.fan.valueTicks.front().at, 0.0);
    EXPECT_DOUBLE_EQ(week.fan.valueTicks.back().at, 1.0);
    EXPECT_EQ(week.fan.valueTicks[1].label, "500 RPM");
    const double fanTop = 500.0 * static_cast<double>(week.fan.valueTicks.size() - 1);
    EXPECT_NEAR(week.fan.threshold.y, series.fanAlarmAt / fanTop, 1e-9);
    // Before the series began and while switched off there is no line: two runs
    // (the series, the switched-off gap), nothing left of the series' start.
    ASSERT_EQ(week.fan.lines.size(), 2u);
    EXPECT_NEAR(week.fan.lines[0].front().x, xOf(t.start, HistoryRange::Week), column);
    EXPECT_NEAR(week.fan.lines[0].back().x, xOf(t.offFrom, HistoryRange::Week), column);
    EXPECT_NEAR(week.fan.lines[1].front().x, xOf(t.offTo, HistoryRange::Week), column);
    for (const auto& line : week.fan.lines)
        for (const ChartPoint& p : line) {
            EXPECT_GE(p.y, 0.0);
            EXPECT_LE(p.y, 1.0);
        }

    // 24 hours: every third hour, midnight by its date; the new fan, no alarm.
    const HistoryChart day = buildHistoryChart(series, HistoryRange::Day, kNow);
    EXPECT_EQ(labels(day.timeTicks), (std::vector<std::string>{"15:00", "18:00", "21:00", "12/07", "03:00", "06:00",
                                                               "09:00", "12:00"}));
    EXPECT_TRUE(day.fan.alarms.empty());
    // A lost temperature reading is a gap of its own minute.
    EXPECT_GT(day.temperature.lines.size(), day.fan.lines.size());
    // 90 days: the 1st and 15th of each month; the five days at the right end.
    const HistoryChart quarter = buildHistoryChart(series, HistoryRange::Quarter, kNow);
    EXPECT_EQ(labels(quarter.timeTicks),
              (std::vector<std::string>{"09/15", "10/01", "10/15", "11/01", "11/15", "12/01"}));
    EXPECT_GT(quarter.fan.lines.front().front().x, 0.9);
    ASSERT_EQ(quarter.fan.alarms.size(), 1u);

    // Nothing in the range, nothing at all: a sentence instead of empty axes.
    HistorySeries old = series;
    for (HistorySample& s : old.samples) s.minute -= 200LL * 86400;
    EXPECT_EQ(buildHistoryChart(old, HistoryRange::Quarter, kNow).message,
              "No history of this enclosure in the last 90 days");
    HistorySeries blind = series;
    for (HistorySample& s : blind.samples) s.fanSpeed = kNoFanSpeed;
    blind.fanAlarmAt = kNoFanSpeed;
    const HistoryChart noFan = buildHistoryChart(blind, HistoryRange::Day, kNow);
    EXPECT_EQ(noFan.fan.empty, "No fan speed readings");
    EXPECT_TRUE(noFan.fan.lines.empty());
    EXPECT_EQ(noFan.temperature.empty, "");
}

TEST_F(HistoryChartTest, HostileSeriesStaysBoundedAndSane) {
    HistorySeries s;
    s.label = std::string("Evil\x1b[2J\n\x01name") + std::string(500, 'x');
    std::mt19937 rng(7);
    const std::int64_t start = historyRangeStart(HistoryRange::Quarter, kNow);
    std::uniform_int_distribution<std::int64_t> minute(start - 86400, start + 91LL * 86400);
    for (int i = 0; i < 200000; ++i) {
        HistorySample x;
        x.minute = minute(rng) / 60 * 60;
        x.temperature = static_cast<std::int16_t>(rng());
        x.fanSpeed = static_cast<std::int32_t>(rng());
        x.alarms = static_cast<std::uint8_t>(rng());
        s.samples.push_back(x);
        if (i % 1000 == 0) s.samples.push_back(x);  // repeated minutes
    }
    for (std::int64_t m : {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
        HistorySample x;
        x.minute = m;
        s.samples.push_back(x);
    }
    s.fanAlarmAt = std::numeric_limits<std::int32_t>::max();
    s.temperatureAlarmAt = std::numeric_limits<std::int16_t>::min() + 1;
    for (HistoryRange range : {HistoryRange::Day, HistoryRange::Week, HistoryRange::Quarter}) {
        const HistoryChart chart = buildHistoryChart(s, range, kNow);
        ASSERT_EQ(chart.message, "");
        EXPECT_EQ(chart.caption.find_first_of("\x1b\n\x01"), std::string::npos);
        EXPECT_LT(chart.caption.size(), 120u);
        for (const ChartPlot* plot : {&chart.temperature, &chart.fan}) {
            std::size_t points = 0;
            for (const auto& line : plot->lines)
                for (const ChartPoint& p : line) {
                    ++points;
                    ASSERT_TRUE(p.y >= 0 && p.y <= 1 && p.x >= 0 && p.x <= 1) << p.x << " " << p.y;
                }
            EXPECT_LE(points, 2u * kHistoryChartColumns);
            EXPECT_LE(plot->valueTicks.size(), 12u);
            EXPECT_GE(plot->threshold.y, 0.0);
            EXPECT_LE(plot->threshold.y, 1.0);
        }
    }
    // Absurd clocks give an empty chart, not a crash.
    EXPECT_NE(buildHistoryChart(s, HistoryRange::Day, 1e300).message, "");
    EXPECT_NE(buildHistoryChart(s, HistoryRange::Day, std::numeric_limits<double>::quiet_NaN()).message, "");
    // A source's error (from the bus: anything) is one bounded line, cut between characters.
    const std::string said = historyChartMessage("x", HistoryRange::Day, [] {
        std::string m = "no!\r\n\x1b[2J";
        for (int i = 0; i < 200; ++i) m += "\xC3\xA9";  // é
        return m;
    }()).message;
    EXPECT_EQ(said.rfind("no!   [2J\xC3\xA9", 0), 0u) << said;
    EXPECT_EQ(said.size(), 299u);
    EXPECT_LE(said.size(), 300u);
    EXPECT_NE(static_cast<unsigned char>(said.back()) & 0xC0, 0xC0);
}

}  // namespace
}  // namespace raid

#include "app/HistoryChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "device/DeviceText.h"
#include "monitor/TimeFormat.h"

namespace raid {

namespace {

constexpr std::uint8_t kFanAlarm = 0x01;
constexpr std::uint8_t kTemperatureAlarm = 0x04;
const std::string kDegrees = "\xC2\xB0" "C";

std::string caption(const std::string& label, HistoryRange range) {
    std::string name = printableDeviceText(label);
    // Device text arrives padded with blanks.
    const auto first = name.find_first_not_of(' ');
    name = first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(' ') - first + 1);
    if (name.size() > 80) name.resize(80);
    std::string text = "History";
    if (!name.empty()) text += " - " + name;
    return text + " - last " + historyRangeName(range);
}

std::int64_t rangeEnd(double nowWall) {
    // A clock far outside what a sample can carry still gives a chart (an empty one).
    const double bound = 1e15;
    const double now = std::isfinite(nowWall) ? std::clamp(nowWall, -bound, bound) : 0.0;
    return (static_cast<std::int64_t>(std::floor(now / 60.0)) + 1) * 60;
}

// What one column holds of one quantity.
struct Column {
    bool any = false;
    double low = 0;
    double high = 0;
    bool alarm = false;
    void add(double v) {
        if (!any) {
            low = high = v;
            any = true;
        } else {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
};

// A step of 1, 2 or 5 times a power of ten, at least 1, giving about five intervals.
double niceStep(double span) {
    const double rough = std::max(span / 5.0, 1.0);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= rough) return m * power;
    return 10.0 * power;
}

std::string number(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}

ChartPlot buildPlot(const std::vector<Column>& columns, std::optional<double> threshold, bool fromZero,
                    const std::string& title, const std::string& unit, const std::string& emptyText) {
    ChartPlot plot;
    plot.title = title;
    const int n = static_cast<int>(columns.size());
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const Column& c : columns)
        if (c.any) {
            lo = std::min(lo, c.low);
            hi = std::max(hi, c.high);
        }
    const bool anyReading = lo <= hi;
    for (int i = 0; i < n;) {
        if (!columns[static_cast<std::size_t>(i)].alarm) {
            ++i;
            continue;
        }
        int j = i;
        while (j < n && columns[static_cast<std::size_t>(j)].alarm) ++j;
        plot.alarms.push_back({static_cast<double>(i) / n, static_cast<double>(j) / n});
        i = j;
    }
    if (!anyReading) {
        plot.empty = emptyText;
        return plot;
    }
    if (threshold) {
        lo = std::min(lo, *threshold);
        hi = std::max(hi, *threshold);
    }
    if (fromZero) lo = std::min(lo, 0.0);
    const double step = niceStep(hi - lo);
    double axisLo = std::floor(lo / step) * step;
    double axisHi = std::ceil(hi / step) * step;
    if (axisHi <= axisLo) axisHi = axisLo + step;
    const double span = axisHi - axisLo;
    auto y = [&](double v) { return (v - axisLo) / span; };
    for (double v = axisLo; v <= axisHi + step / 2; v += step) plot.valueTicks.push_back({y(v), number(v) + " " + unit});

    std::vector<ChartPoint> run;
    for (int i = 0; i < n; ++i) {
        const Column& c = columns[static_cast<std::size_t>(i)];
        if (!c.any) {
            if (!run.empty()) plot.lines.push_back(std::move(run));
            run.clear();
            continue;
        }
        const double x = (i + 0.5) / n;
        // Towards the next column from the side it is nearer to, so a steady line
        // stays a line and a column's spread is a vertical stroke.
        const bool rising = !run.empty() && run.back().y <= y(c.low);
        run.push_back({x, y(rising ? c.low : c.high)});
        if (c.high != c.low) run.push_back({x, y(rising ? c.high : c.low)});
    }
    if (!run.empty()) plot.lines.push_back(std::move(run));
    if (threshold) {
        plot.threshold.shown = true;
        plot.threshold.y = y(*threshold);
        plot.threshold.label = "Alarm at " + number(*threshold) + " " + unit;
    }
    return plot;
}

std::string twoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v % 100);
    return buf;
}

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// The local midnight starting the day of `t`.
std::optional<double> localMidnight(double t) {
    const auto p = localTimeParts(t);
    if (!p) return std::nullopt;
    return localWallSeconds(p->year, p->month, p->day, 0, 0, 0);
}

std::vector<ChartTick> timeTicks(HistoryRange range, std::int64_t start, std::int64_t end) {
    std::vector<ChartTick> ticks;
    const double span = static_cast<double>(end - start);
    auto at = [&](double t) { return (t - static_cast<double>(start)) / span; };
    if (range == HistoryRange::Day) {
        // Every third local hour; midnight carries the date instead.
        for (std::int64_t t = (start / 900 + 1) * 900; t < end; t += 900) {
            const auto p = localTimeParts(static_cast<double>(t));
            if (!p || p->minute != 0 || p->second != 0 || p->hour % 3 != 0) continue;
            ticks.push_back({at(static_cast<double>(t)), p->hour == 0 ? twoDigits(p->month) + "/" + twoDigits(p->day)
                                                                      : twoDigits(p->hour) + ":00"});
        }
        return ticks;
    }
    // Local midnights: each day for a week, the 1st and 15th of each month for 90 days.
    std::optional<double> day = localMidnight(static_cast<double>(start));
    for (int guard = 0; day && guard < 200; ++guard) {
        if (*day >= static_cast<double>(end)) break;
        const auto p = localTimeParts(*day);
        if (!p) break;
        if (*day > static_cast<double>(start)) {
            if (range == HistoryRange::Week)
                ticks.push_back({at(*day), std::string(kWeekdays[p->weekday % 7]) + " " + twoDigits(p->month) + "/" +
                                               twoDigits(p->day)});
            else if (p->day == 1 || p->day == 15)
                ticks.push_back({at(*day), twoDigits(p->month) + "/" + twoDigits(p->day)});
        }
        // A day is 23 to 25 hours long: 36 hours on is always within the next one.
        day = localMidnight(*day + 36 * 3600);
    }
    return ticks;
}

}  // namespace

const char* historyRangeName(HistoryRange range) {
    switch (range) {
        case HistoryRange::Week: return "7 days";
        case HistoryRange::Quarter: return "90 days";
        case HistoryRange::Day: break;
    }
    return "24 hours";
}

std::int64_t historyRangeSeconds(HistoryRange range) {
    switch (range) {
        case HistoryRange::Week: return 7 * 86400;
        case HistoryRange::Quarter: return 90 * 86400;
        case HistoryRange::Day: break;
    }
    return 86400;
}

std::int64_t historyRangeStart(HistoryRange range, double nowWall) { return rangeEnd(nowWall) - historyRangeSeconds(range); }

HistoryChart historyChartMessage(const std::string& label, HistoryRange range, const std::string& message) {
    HistoryChart chart;
    chart.caption = caption(label, range);
    chart.range = range;
    // The message may come from the service over the bus: one line, bounded, whatever
    // it holds (a cut never splits a UTF-8 sequence).
    std::string clean = message.substr(0, std::min<std::size_t>(message.size(), 300));
    while (clean.size() < message.size() && !clean.empty() && (static_cast<unsigned char>(message[clean.size()]) & 0xC0) == 0x80)
        clean.pop_back();
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    chart.message = std::move(clean);
    return chart;
}

HistoryChart buildHistoryChart(const HistorySeries& series, HistoryRange range, double nowWall, int columns) {
    HistoryChart chart = historyChartMessage(series.label, range, "");
    const int n = std::clamp(columns, 1, 100000);
    const std::int64_t end = rangeEnd(nowWall);
    const std::int64_t start = end - historyRangeSeconds(range);
    const std::int64_t span = end - start;
    std::vector<Column> temperature(static_cast<std::size_t>(n)), fan(static_cast<std::size_t>(n));
    bool any = false;
    for (const HistorySample& s : series.samples) {
        if (s.minute < start || s.minute >= end) continue;
        any = true;
        const auto i = static_cast<std::size_t>((s.minute - start) * n / span);
        if (s.temperature != kNoTemperature) temperature[i].add(s.temperature);
        if (s.fanSpeed >= 0) fan[i].add(s.fanSpeed);
        if (s.alarms & kTemperatureAlarm) temperature[i].alarm = true;
        if (s.alarms & kFanAlarm) fan[i].alarm = true;
    }
    if (!any) {
        chart.message = "No history of this enclosure in the last " + std::string(historyRangeName(range));
        return chart;
    }
    chart.timeTicks = timeTicks(range, start, end);
    std::optional<double> tempAt, fanAt;
    if (series.temperatureAlarmAt != kNoTemperature) tempAt = series.temperatureAlarmAt;
    if (series.fanAlarmAt >= 0) fanAt = series.fanAlarmAt;
    chart.temperature = buildPlot(temperature, tempAt, false, "Temperature (" + kDegrees + ")", kDegrees,
                                  "No temperature readings");
    chart.fan = buildPlot(fan, fanAt, true, "Fan speed (RPM)", "RPM", "No fan speed readings");
    return chart;
}

}  // namespace raid

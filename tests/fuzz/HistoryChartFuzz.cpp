// A history series is whatever the store or the service over the bus hands the window.
// This target builds the chart of any series: whatever the minutes (any order,
// repeated, far outside the range), readings, alarm bits, thresholds, label and clock,
// every point and tick lies on its axis, each plot holds at most two points a column,
// and the caption is printable.
//
// Input layout: byte 0 the range (mod 3); bytes 1-8 the clock (a double, seconds);
// bytes 9-14 the fan and temperature thresholds; byte 15 the label's length n, then n
// bytes of label; then samples of 16 bytes each: minute (8, relative to the clock when
// the first byte's high bit is clear), temperature (2), fan speed (4), alarm bits (1),
// one spare byte.
#include <cstdint>
#include <cstring>
#include <cstdlib>

#include "app/HistoryChart.h"

namespace {
template <class T>
T take(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace raid;
    if (size < 16) return 0;
    const auto range = static_cast<HistoryRange>(data[0] % 3);
    double now = take<double>(data + 1);
    if (data[1] & 1) now = 1796653800.0 + static_cast<double>(take<std::int32_t>(data + 1));
    HistorySeries s;
    s.fanAlarmAt = take<std::int32_t>(data + 9);
    s.temperatureAlarmAt = take<std::int16_t>(data + 13);
    std::size_t at = 16;
    const std::size_t n = std::min<std::size_t>(data[15], size - at);
    s.label.assign(reinterpret_cast<const char*>(data + at), n);
    at += n;
    const std::int64_t base = historyRangeStart(range, now);
    for (; at + 16 <= size; at += 16) {
        HistorySample x;
        const auto raw = take<std::int64_t>(data + at);
        x.minute = (data[at] & 0x80) ? raw : base + (raw & 0xFFFFFF) * 60;
        x.temperature = take<std::int16_t>(data + at + 8);
        x.fanSpeed = take<std::int32_t>(data + at + 10);
        x.alarms = data[at + 14];
        s.samples.push_back(x);
    }
    const HistoryChart chart = buildHistoryChart(s, range, now, 64 + data[0] % 200);
    for (unsigned char c : chart.caption) check(c >= 0x20 && c != 0x7F);
    for (const ChartTick& t : chart.timeTicks) check(t.at >= 0 && t.at <= 1);
    for (const ChartPlot* p : {&chart.temperature, &chart.fan}) {
        std::size_t points = 0;
        for (const auto& line : p->lines)
            for (const ChartPoint& pt : line) {
                ++points;
                check(pt.x >= 0 && pt.x <= 1 && pt.y >= 0 && pt.y <= 1);
            }
        check(points <= 2u * (64 + data[0] % 200));
        for (const ChartTick& t : p->valueTicks) check(t.at >= -1e-9 && t.at <= 1 + 1e-9);
        check(p->valueTicks.size() <= 16);
        for (const ChartSpan& sp : p->alarms) check(sp.from >= 0 && sp.from < sp.to && sp.to <= 1);
        if (p->threshold.shown) check(p->threshold.y >= 0 && p->threshold.y <= 1);
    }
    return 0;
}

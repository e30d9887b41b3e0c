// The history chart of one enclosure, worked out for a front end: everything the
// window draws is decided here (captions, scales, ticks and their texts, the lines,
// the alarm periods, the thresholds), so the Qt and the Windows windows draw the same
// chart and only map fractions to pixels.
//
// Positions are fractions: x from 0 (the range's start, left) to 1 (now, right), y
// from 0 (the value axis' minimum, bottom) to 1 (its maximum, top).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/HistorySample.h"

namespace raid {

enum class HistoryRange : std::uint8_t { Day = 0, Week = 1, Quarter = 2 };

// "24 hours", "7 days", "90 days": the range buttons' texts.
const char* historyRangeName(HistoryRange range);
// The range's length in seconds.
std::int64_t historyRangeSeconds(HistoryRange range);

struct ChartTick {
    double at = 0;  // fraction along the axis
    std::string label;
};

struct ChartPoint {
    double x = 0;
    double y = 0;
};

struct ChartSpan {
    double from = 0;  // x fractions
    double to = 0;
};

struct ChartThreshold {
    bool shown = false;
    double y = 0;
    std::string label;  // "Alarm at 640 RPM"
};

struct ChartPlot {
    std::string title;  // "Temperature (°C)"
    std::vector<ChartTick> valueTicks;  // bottom to top, at = y fraction
    // Runs of readings without a gap; each column contributes its lowest and highest
    // reading, so a polyline through the points shows the whole spread. A run of one
    // point is drawn as a dot.
    std::vector<std::vector<ChartPoint>> lines;
    std::vector<ChartSpan> alarms;  // while the enclosure raised this alarm
    ChartThreshold threshold;
    std::string empty;  // not empty: no readings in the range, shown instead of lines
};

struct HistoryChart {
    std::string caption;  // the window's title
    HistoryRange range = HistoryRange::Day;
    // Not empty: shown instead of the plots ("Loading...", "The history is not
    // available", why the history could not be had, "No history ...").
    std::string message;
    std::vector<ChartTick> timeTicks;  // at = x fraction
    ChartPlot temperature;
    ChartPlot fan;
};

// Columns the range is cut into: the polylines hold at most two points per column,
// whatever the number of samples.
inline constexpr int kHistoryChartColumns = 1440;

// The chart of `series` over `range` ending at `nowWall` (seconds since the Unix
// epoch, the current minute included). Samples may come in any order, repeated,
// outside the range or with absurd values: each lands in its column or is left out.
HistoryChart buildHistoryChart(const HistorySeries& series, HistoryRange range, double nowWall,
                               int columns = kHistoryChartColumns);
// A chart that only says `message` ("Loading...").
HistoryChart historyChartMessage(const std::string& label, HistoryRange range, const std::string& message);
// The first minute a chart of `range` ending at `nowWall` shows.
std::int64_t historyRangeStart(HistoryRange range, double nowWall);

inline const std::string kHistoryLoading = "Loading...";
inline const std::string kHistoryUnavailable = "The history is not available";

}  // namespace raid

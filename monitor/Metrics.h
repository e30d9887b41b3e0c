// The service's state for Prometheus: one document in the node exporter's textfile
// format (the text exposition format, read from a *.prom file), rewritten after every
// poll. Series are named raidgui_* and labelled by what stays with an enclosure when it
// moves to another port or machine - the controller's model and serial - never by the
// drive number the detection pass happened to give it.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/StatusSummary.h"

namespace raid {

// The file name in the textfile folder (the collector reads every *.prom file there).
inline constexpr const char* kMetricsFileName = "raid-gui.prom";

// `mailFailures`: alert mails that failed since the service started (each attempt).
std::string metricsText(const StatusSummary& summary, std::uint64_t mailFailures);

// A label value as the format writes it between quotes: backslash, quote and line
// feed escaped; every other byte outside printable ASCII (control characters, DEL,
// bytes of a broken or foreign encoding) becomes a blank, so a value is always one
// line of valid UTF-8.
std::string metricLabelValue(const std::string& text);

}  // namespace raid

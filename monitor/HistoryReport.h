// raid-gui-monitor --history: the stored series for people (one line per hour of each
// enclosure) and for scripts (every sample, as one JSON document; the schema is in the
// README beside --status's).
#pragma once

#include <string>
#include <vector>

#include "monitor/HistorySample.h"

namespace raid {

std::string historyText(const std::vector<HistorySeries>& series);
std::string historyJson(const std::vector<HistorySeries>& series);

}  // namespace raid

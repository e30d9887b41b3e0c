// Where the window's history chart gets its series: the engine's own store (the
// simulator, Windows) or the service over the bus (a client window on Linux). Both
// take the call on any thread and answer on the engine thread.
#pragma once

#include <cstddef>
#include <memory>

#include "monitor/HistoryRecorder.h"
#include "monitor/HistorySample.h"
#include "platform/Scheduler.h"

namespace raid {

class ServiceFeed;

// Never more samples in one answer than 90 days hold.
inline constexpr std::size_t kMaxHistorySamples = 90 * 1440;

std::unique_ptr<HistorySource> makeStoreHistorySource(Scheduler& scheduler, HistoryRecorder& recorder);
std::unique_ptr<HistorySource> makeServiceHistorySource(Scheduler& scheduler, ServiceFeed& feed);

}  // namespace raid

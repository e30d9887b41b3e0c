// After a detection pass that changed the number of watched enclosures: which ones came
// and which went. The result goes into the event log's pending lines (written with the
// time at the next decoder pass) and, for every enclosure that went away, an alert.
#pragma once

#include <functional>

#include "device/DeviceState.h"
#include "monitor/EventLog.h"

namespace raid {

using RaiseAlertFn = std::function<void(int kind, int deviceIndex, int port)>;

// Old list: ActiveDevices / ActiveCount with the published identity pages; new list:
// FoundDevices / FoundCount with the pages the pass just read. Enclosures are matched by
// their whole identity page. Equal counts write nothing: an exchanged enclosure goes
// unnoticed, because only a change in the number of enclosures is an event users
// are told about. Returns whether anything was written.
bool compareDeviceLists(const DeviceState& dev, EventLog& log, const RaiseAlertFn& raiseAlert);

}  // namespace raid

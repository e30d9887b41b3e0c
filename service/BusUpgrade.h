// A firmware upgrade a bus client started, on the engine's side: the image loaded as
// the Upgrade page loads a file, the enclosure chosen as its device tab chooses it, and
// the upgrade run as the page's Upgrade runs it, its progress handed to the bus thread
// as it goes. Engine thread.
#pragma once

#include "app/MainForm.h"
#include "service/bus/BusService.h"

namespace raid::service {

// Refuses at once (already upgrading, no such enclosure among the two the page can
// choose, not a firmware image: the system's words), or reports started, then the
// progress (a new step at once, the bar at most every 50 ms), then finished.
void runBusUpgrade(MainForm& form, const bus::UpgradeRequest& request, const bus::BusEngine::UpgradeReporter& report);

}  // namespace raid::service

// The entry of raid-gui-monitor and raid-gui-monitor-sim after the machine's own
// options: parses the monitor's options, watches for the end signals and runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/Monitor.h"

namespace raid::service {

// `makeMachine` is called once the signals are blocked (so every thread the machine
// starts inherits the mask). Returns the exit status.
int monitorMain(const std::string& program, const std::vector<std::string>& args,
                const std::function<std::unique_ptr<MonitorMachine>()>& makeMachine);

}  // namespace raid::service

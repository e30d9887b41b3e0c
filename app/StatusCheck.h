// One look at every enclosure for a script: start the engine, let the first detection
// pass publish and one poll read the enclosures, then sum up (monitor/StatusSummary.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "monitor/StatusSummary.h"

namespace raid {

class MainForm;

// Runs FormCreate on the calling (engine) thread and processes until the check is
// complete or `timeoutUs` has passed, then closes the form; the caller stops the
// workers. The form should be made with AnnounceToEnclosure and MailAlerts off.
// `driveName` names a physical drive for people; `created` runs right after FormCreate.
StatusSummary runStatusCheck(MainForm& form, std::int64_t timeoutUs,
                             const std::function<std::string(int)>& driveName = {},
                             const std::function<void()>& created = {});

}  // namespace raid

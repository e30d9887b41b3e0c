// The watching monitor's last summary, for --status while the monitor owns the
// enclosures: a look of its own would find every enclosure locked by the service (one
// talker per enclosure), so it reads what the service saw at its last poll instead.
//
// Two files in the lock folder (/run/raid-gui): status.json and status.txt, each
// replaced whole (written beside and renamed), removed when the service ends.
#pragma once

#include <optional>
#include <string>

#include "monitor/StatusSummary.h"

namespace raid::service {

struct SavedStatus {
    std::string json, text;
    int exitCode = 2;
};

// False when the folder cannot be written (the service then just has no files).
bool writeStatusFiles(const std::string& folder, const StatusSummary& summary);
void removeStatusFiles(const std::string& folder);
// The files when both are there, regular, small and written within `maxAgeSeconds`.
std::optional<SavedStatus> readStatusFiles(const std::string& folder, double maxAgeSeconds);

}  // namespace raid::service

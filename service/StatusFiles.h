// The watching monitor's last summary, for --status while the monitor owns the
// enclosures: a look of its own would find every enclosure locked by the service (one
// talker per enclosure), so it reads what the service saw at its last poll instead.
//
// Two files in the lock folder (/run/raid-gui): status.json and status.txt, each
// replaced whole (written beside and renamed), removed when the service ends. They
// are written only into a folder nobody but root (the service's user) can write, each
// time into a new file of the service's own, made exclusively under a name never used
// before: nothing planted in the folder is ever written through or made readable.
#pragma once

#include <optional>
#include <string>

#include "monitor/StatusSummary.h"

namespace raid::service {

struct SavedStatus {
    std::string json, text;
    int exitCode = 2;
};

// "" when both were written, else why not (the service then just has no files).
std::string writeStatusFiles(const std::string& folder, const StatusSummary& summary);
void removeStatusFiles(const std::string& folder);
// The metrics file (kMetricsFileName) in a textfile collector's folder, replaced whole
// in the same way; the folder is never made (it is the collector's). "" when written.
std::string writeMetricsFile(const std::string& folder, const std::string& text);
void removeMetricsFile(const std::string& folder);
// The files when both are there, regular, small and written within `maxAgeSeconds`.
std::optional<SavedStatus> readStatusFiles(const std::string& folder, double maxAgeSeconds);

}  // namespace raid::service

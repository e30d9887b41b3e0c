// "Is it healthy?": a summary of every published enclosure for scripts and monitoring
// systems (raid-gui-monitor --status), as text for people and as one JSON document.
//
// The summary reads the device tables after one detection pass and one poll: the
// record of a polled device is the one the poll accepted; an enclosure past the two
// that are polled is summed up from the record its detection pass read. Only memory
// is read, so it cannot disturb an enclosure.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/DeviceState.h"
#include "monitor/HistorySample.h"
#include "monitor/TimeLeft.h"

namespace raid {

enum class Health { Healthy = 0, Degraded = 1, Unknown = 2 };

struct DriveSummary {
    std::string name;   // "HDD1", "HDD2"; "SSD", "HDD" on a hybrid controller
    std::string state;  // "present", "failed", "absent" (was there, has gone), "empty", "inserted"
    std::uint64_t capacityGB = 0;
    std::string model;
    std::string serial;
};

struct EnclosureSummary {
    int device = 0;  // 1 = Device1
    std::string name;     // as the Status page names it: "model [letters]"
    std::string model;
    std::string serial;   // the controller's own serial (its identity page), "" when it gives none
    std::string volumes;  // the drive letters of its volumes
    std::vector<std::string> drives;  // the physical drives it answers on
    std::string access;   // "mailbox", "ata", "vu"
    std::string source;   // "poll", "detection"; "" when no record could be read
    std::string firmware;     // revision.sub-code
    std::string controller;   // "raid", "hybrid", "unknown"
    std::string mode;         // as the Status page shows it
    std::uint64_t configuredGB = 0;
    std::array<DriveSummary, 2> bays;
    std::string activity = "idle";  // "idle", "rebuild", "scan", "flush"
    int progress = -1;              // percent of a rebuild or scan, -1 without one
    int target = 0;                 // drive (1, 2) being rebuilt or scanned, 0 none
    bool timed = false;             // the engine's time-left estimate was added
    TimeLeftEstimate timeLeft;      // when timed: seconds left and %/h, or not known
    bool monitored = false;         // the record carries fan and temperature
    int fanRpm = 0;
    int temperatureC = 0;
    bool fanAlarm = false;
    bool temperatureAlarm = false;
    // The readings of the last 24 hours in the history (count 0: no samples).
    ReadingStats temperature24h, fanRpm24h;
    Health health = Health::Unknown;
    std::vector<std::string> problems;  // why it is not healthy, in words
};

struct StatusSummary {
    std::vector<EnclosureSummary> enclosures;
    std::vector<std::string> notes;  // what the program itself said (no drive found, no rights, ...)
    // 0 all healthy, 1 an enclosure degraded, 2 none found or one could not be read.
    int exitCode() const;
};

// `polled`: bit i set when device i's record came from the poll just made. `driveName`
// names physical drive n for people ("/dev/sdb"; "PhysicalDrive1" without it).
StatusSummary summarizeStatus(const DeviceState& dev, std::uint8_t polled,
                              const std::function<std::string(int)>& driveName = {});

// Adds the engine's time-left estimate (by device index) to each polled enclosure with a
// rebuild or scan running.
void addTimeLeft(StatusSummary& summary, const std::function<TimeLeftEstimate(int deviceIndex)>& estimate);

std::string statusText(const StatusSummary& summary);
// One JSON document; the schema is in the README ("Running as a service").
std::string statusJson(const StatusSummary& summary);
// A string as a JSON string literal (quotes, backslashes and control characters escaped,
// bytes that are not UTF-8 replaced by U+FFFD).
std::string jsonString(const std::string& text);

}  // namespace raid

// Where the service writes its metrics file: `--metrics DIR` on the command line, else
// the settings file's "MetricsFolder" (set by root with --set metrics-folder=DIR; empty:
// no metrics), else the machine's default (Debian's node exporter textfile folder for
// the real service, none for a simulated one).
//
// The folder is root's choice alone: the service writes there as root (as it does
// every file, only into a folder that is root's and that nobody else can write).
#pragma once

#include <optional>
#include <string>

namespace raid::service {

inline constexpr const char* kMetricsFolderValue = "MetricsFolder";
inline constexpr std::size_t kMetricsFolderLimit = 4096;
inline constexpr const char* kNodeExporterFolder = "/var/lib/prometheus/node-exporter";

// Why `path` cannot be the metrics folder ("" when it can, and for "", which means none):
// absolute, no control character, at most kMetricsFolderLimit bytes.
std::string metricsFolderRefusal(const std::string& path);

// The settings file's value: nullopt when it holds none (or one that is not text or is
// refused, which `problem` then says).
std::optional<std::string> storedMetricsFolder(const std::string& settingsPath, std::string& problem);

// The folder a watching run uses.
std::string metricsFolderInUse(const std::string& commandLine, const std::string& settingsPath,
                               const std::string& machineDefault, std::string& problem);

}  // namespace raid::service

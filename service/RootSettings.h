// The settings of raid-gui-monitor --set that are root's alone, apart from the mail's:
// alert-command, the program the service runs for every alert, and metrics-folder, where
// it writes its metrics. The service does both as root, so naming either is as much as
// being root; each is set on its own, never among mail settings.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace raid::service {

// The words of --set when they name one of root's settings: its value saved to
// `settingsFile`, or refused with nothing saved, and said on `out` or `err`; the exit
// status. nullopt when no word names one (the words are the mail's).
std::optional<int> setRootSetting(const std::vector<std::string>& words, const std::string& settingsFile,
                                  std::ostream& out, std::ostream& err);

}  // namespace raid::service

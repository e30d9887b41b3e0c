// The settings key kept in one file in the text form of a registry export
// (platform/RegistryText.h): /etc/qx-raid-gui/settings.reg for the real program.
//
// The file is read once, when the store is made. Every write rewrites the whole file
// beside itself and renames it into place after an fsync, so a crash or a full disk
// leaves the earlier file. The file is created with mode 0600: it holds the scrambled
// mail password. Only a regular file is ever read or replaced; a FIFO or device at the
// path is reported and left alone.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/SettingsPort.h"

namespace raid {

std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path);

// Where raid-gui-sim keeps its settings: $XDG_CONFIG_HOME/raid-gui-sim/settings.reg, or
// ~/.config/raid-gui-sim/settings.reg when XDG_CONFIG_HOME is unset, empty or not
// absolute. The caller passes the environment values ("" when unset); "" when neither
// gives a folder.
std::string userSettingsPath(std::string_view xdgConfigHome, std::string_view home, std::string_view program);

inline constexpr char kSystemSettingsPath[] = "/etc/qx-raid-gui/settings.reg";

}  // namespace raid

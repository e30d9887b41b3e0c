// The settings key kept in one file in the text form of a registry export
// (platform/RegistryText.h): /etc/qx-raid-gui/settings.reg for the real program.
//
// The file is read when the store is made, and again by every save: a save changes
// only the values it sets in the file as it is at that moment, so what another program
// saved meanwhile, comments and lines that cannot be read all stay. The new text is
// written beside the file and renamed into place after an fsync, so a crash or a full
// disk leaves the earlier file; it is written only when it reads back within the size
// a start reads. The file is created with mode 0600: it holds the scrambled mail
// password. Only a regular file that could be read whole is ever replaced; a FIFO or
// device at the path, a file too large or one the user may not read is reported and
// left alone.
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

// The Windows ports, each made by its own unit; platform/Platform.h is the neutral face.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace raid::win32 {

std::unique_ptr<StoragePort> makeStorage();
std::unique_ptr<VolumePort> makeVolumes();
std::unique_ptr<DeviceChangePort> makeDeviceChange();
std::unique_ptr<InstanceLock> makeInstanceLock();
std::unique_ptr<HostInfoPort> makeHostInfo();
std::unique_ptr<RandomPort> makeRandom();
std::unique_ptr<TcpPort> makeTcpPort();
// One lock per physical drive, shared by every RAID GUI program in every session.
std::unique_ptr<DriveLockPort> makeDriveLocks();
// The registry key HKEY_LOCAL_MACHINE\SOFTWARE\QX_RAID_GUI.
std::unique_ptr<SettingsPort> makeRegistrySettings();
// A settings file in the text form of a registry export.
std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path);
// The folder the running program's .exe is in, with a trailing '\'.
std::string programFolder();

inline constexpr char kRegistrySettingsName[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI";

}  // namespace raid::win32

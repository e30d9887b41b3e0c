#include "platform/win32/WinPlatform.h"

#include <cstdlib>

namespace raid {

std::unique_ptr<Platform> makePlatform() {
    auto platform = std::make_unique<Platform>();
    platform->storage = win32::makeStorage();
    platform->volumes = win32::makeVolumes();
    platform->deviceChange = win32::makeDeviceChange();
    platform->instanceLock = win32::makeInstanceLock();
    platform->hostInfo = win32::makeHostInfo();
    platform->random = win32::makeRandom();
    platform->tcp = win32::makeTcpPort();
    platform->driveLocks = win32::makeDriveLocks();
    return platform;
}

std::unique_ptr<TcpPort> makeTcpPort() { return win32::makeTcpPort(); }
std::unique_ptr<HostInfoPort> makeHostInfo() { return win32::makeHostInfo(); }
std::unique_ptr<InstanceLock> makeInstanceLock() { return win32::makeInstanceLock(); }

// No lock folder on Windows: the locks are named kernel objects, and no service leaves
// a summary beside them.
std::string machineLockFolder() { return {}; }

std::string machineLogFolder() { return win32::programFolder(); }

std::string machineSettingsName() { return win32::kRegistrySettingsName; }

std::unique_ptr<SettingsPort> openSettings(const std::string& where) {
    if (where == win32::kRegistrySettingsName) return win32::makeRegistrySettings();
    return win32::makeSettingsFile(where);
}

// The alert texts lie beside the program for the registry, beside the file otherwise.
std::string settingsTextFolder(const std::string& where) {
    if (where == win32::kRegistrySettingsName) return win32::programFolder();
    const std::size_t cut = where.find_last_of("\\/");
    return cut == std::string::npos ? ".\\" : where.substr(0, cut + 1);
}

std::string userSettingsFile(const std::string& program) {
    const char* appData = std::getenv("APPDATA");
    if (!appData || !*appData) return {};
    return std::string(appData) + "\\" + program + "\\settings.reg";
}

}  // namespace raid

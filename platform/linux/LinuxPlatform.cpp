#include "platform/linux/LinuxPlatform.h"

#include <cstdlib>

#include "platform/linux/LinuxDeviceChange.h"
#include "platform/linux/LinuxDriveLocks.h"
#include "platform/linux/LinuxHostInfo.h"
#include "platform/linux/LinuxInstanceLock.h"
#include "platform/linux/LinuxRandom.h"
#include "platform/linux/LinuxSettingsFile.h"
#include "platform/linux/LinuxStorage.h"
#include "platform/linux/LinuxTcp.h"
#include "platform/linux/LinuxVolumes.h"

namespace raid {

namespace linuxport {

std::unique_ptr<LinuxPlatform> makeLinuxPlatform() {
    auto platform = std::make_unique<LinuxPlatform>();
    platform->disks = std::make_shared<LinuxDiskTable>();
    platform->storage = std::make_unique<LinuxStoragePort>(platform->disks);
    platform->volumes = std::make_unique<LinuxVolumePort>(platform->disks);
    platform->deviceChange = makeDeviceChange();
    platform->instanceLock = makeInstanceLock();
    platform->hostInfo = makeHostInfo();
    platform->random = makeRandom();
    platform->tcp = makeTcpPort();
    platform->driveLocks = makeDriveLocks(platform->disks);
    return platform;
}

std::string LinuxPlatform::driveName(int n) const {
    const auto disk = disks->disk(static_cast<std::size_t>(n));
    return disk ? "/dev/" + disk->name : Platform::driveName(n);
}

}  // namespace linuxport

std::vector<std::string> programArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::unique_ptr<Platform> makePlatform() { return linuxport::makeLinuxPlatform(); }
std::unique_ptr<TcpPort> makeTcpPort() { return linuxport::makeTcpPort(); }
std::unique_ptr<HostInfoPort> makeHostInfo() { return linuxport::makeHostInfo(); }
std::unique_ptr<InstanceLock> makeInstanceLock() { return linuxport::makeInstanceLock(); }

std::unique_ptr<DriveLockPort> makeNamedDriveLocks(std::string folder,
                                                   std::function<std::optional<std::string>(int)> idOf) {
    return std::make_unique<linuxport::FlockDriveLocks>(std::move(folder), std::move(idOf));
}

std::string machineLockFolder() { return linuxport::kDefaultLockFolder; }

std::string driveAccessAdvice() { return "run it as root (the service: systemctl start raid-gui-monitor)"; }
std::string machineLogFolder() { return "/var/log/raid-gui"; }

std::string machineSettingsName() { return kSystemSettingsPath; }
std::unique_ptr<SettingsPort> openSettings(const std::string& where) { return makeSettingsFile(where); }
std::string settingsTextFolder(const std::string& where) {
    const std::size_t slash = where.rfind('/');
    return slash == std::string::npos ? "./" : where.substr(0, slash + 1);
}

std::string userSettingsFile(const std::string& program) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return userSettingsPath(config ? config : "", home ? home : "", program);
}

}  // namespace raid

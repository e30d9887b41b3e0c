#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/LinuxDeviceChange.h"
#include "platform/linux/LinuxDriveLocks.h"
#include "platform/linux/LinuxHostInfo.h"
#include "platform/linux/LinuxInstanceLock.h"
#include "platform/linux/LinuxRandom.h"
#include "platform/linux/LinuxStorage.h"
#include "platform/linux/LinuxTcp.h"
#include "platform/linux/LinuxVolumes.h"

namespace raid::linuxport {

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

}  // namespace raid::linuxport

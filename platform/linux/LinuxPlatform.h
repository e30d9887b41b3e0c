// All Linux ports in one bundle, wired to one shared disk table.
#pragma once

#include <memory>

#include "platform/DeviceChangePort.h"
#include "platform/DriveLockPort.h"
#include "platform/HostInfo.h"
#include "platform/InstanceLock.h"
#include "platform/Random.h"
#include "platform/StoragePort.h"
#include "platform/TcpPort.h"
#include "platform/VolumePort.h"
#include "platform/linux/LinuxDiskTable.h"

namespace raid::linuxport {

struct LinuxPlatform {
    // Drive numbers and letters the storage and volume ports agree on.
    std::shared_ptr<LinuxDiskTable> disks;
    std::unique_ptr<StoragePort> storage;
    std::unique_ptr<VolumePort> volumes;
    std::unique_ptr<DeviceChangePort> deviceChange;
    std::unique_ptr<InstanceLock> instanceLock;
    std::unique_ptr<HostInfoPort> hostInfo;
    std::unique_ptr<RandomPort> random;
    std::unique_ptr<TcpPort> tcp;
    // One lock per disk in /run/raid-gui, shared by every RAID GUI program.
    std::unique_ptr<DriveLockPort> driveLocks;
};

std::unique_ptr<LinuxPlatform> makeLinuxPlatform();

}  // namespace raid::linuxport

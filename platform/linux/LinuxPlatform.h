// All Linux ports in one bundle, wired to one shared disk table.
#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/linux/LinuxDiskTable.h"

namespace raid::linuxport {

struct LinuxPlatform final : Platform {
    // Drive numbers and letters the storage and volume ports agree on.
    std::shared_ptr<LinuxDiskTable> disks;
    std::string driveName(int n) const override;
};

std::unique_ptr<LinuxPlatform> makeLinuxPlatform();

}  // namespace raid::linuxport

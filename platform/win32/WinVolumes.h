// The logical drive letters and their types, straight from the system.
#pragma once

#include "platform/VolumePort.h"

namespace raid::win32 {

class WinVolumePort final : public VolumePort {
public:
    // GetLogicalDrives.
    std::uint32_t logicalDriveMask() override;
    // GetDriveTypeA of "X:\"; kDriveNoRootDir for anything but a letter, so no other
    // byte ever reaches a path.
    std::uint8_t driveType(char letter) override;
};

}  // namespace raid::win32

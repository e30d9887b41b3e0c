// Logical drive letters and their types, the way the Windows drive-letter API shows them.
#pragma once

#include <cstdint>

namespace raid {

// Values of GetDriveTypeA.
enum DriveType : std::uint8_t {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamdisk = 6,
};

class VolumePort {
public:
    virtual ~VolumePort() = default;
    // Bit n set = letter 'A' + n is in use.
    virtual std::uint32_t logicalDriveMask() = 0;
    // Type of the volume whose root is "X:\".
    virtual std::uint8_t driveType(char letter) = 0;
};

}  // namespace raid

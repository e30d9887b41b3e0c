#include "platform/win32/WinVolumes.h"

#include <windows.h>

#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

std::uint32_t WinVolumePort::logicalDriveMask() { return ::GetLogicalDrives(); }

std::uint8_t WinVolumePort::driveType(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return kDriveNoRootDir;
    const char root[] = {letter, ':', '\\', '\0'};
    const UINT type = ::GetDriveTypeA(root);
    // The system's values are the port's; anything newer counts as unknown.
    return type <= DRIVE_RAMDISK ? static_cast<std::uint8_t>(type) : std::uint8_t{kDriveUnknown};
}

std::unique_ptr<VolumePort> makeVolumes() { return std::make_unique<WinVolumePort>(); }

}  // namespace raid::win32

// Drive letters for the mounted filesystems of the physical drives, the way the
// original platform's logical drive list shows them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/VolumePort.h"
#include "platform/linux/LinuxDiskTable.h"

namespace raid::linuxport {

// One line of /proc/<pid>/mountinfo, octal escapes (\040 and friends) decoded.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;        // path inside the filesystem (not "/" for bind mounts of a sub-tree)
    std::string mountPoint;
    std::string fsType;
    std::string source;      // "/dev/sda1", "tmpfs", "overlay", ...
};

// Every well-formed line; malformed ones are skipped so one odd entry cannot hide
// the rest.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Filesystem types that never sit on a block device, even when an administrator
// gave them a /dev-looking source name.
bool isVirtualFilesystem(std::string_view fsType);

// Mounted block devices of the listed physical drives. A mount source is matched
// by its resolved device name first, then by the device number mountinfo carries
// (that catches "/dev/root"). Stacked devices (dm, md, loop) are not in the lists
// and so are skipped.
std::vector<VolumeCandidate> selectVolumes(const std::vector<MountEntry>& mounts,
                                           const std::vector<PhysicalDisk>& disks,
                                           const std::vector<PartitionInfo>& partitions,
                                           const std::string& devRoot);

class LinuxVolumePort final : public VolumePort {
public:
    explicit LinuxVolumePort(std::shared_ptr<LinuxDiskTable> table = std::make_shared<LinuxDiskTable>());

    // Re-reads the table, so a volume mounted since the last call shows up.
    std::uint32_t logicalDriveMask() override;
    // kDriveFixed / kDriveRemovable from the disk's "removable" flag,
    // kDriveNoRootDir for letters that name no volume.
    std::uint8_t driveType(char letter) override;

    const std::shared_ptr<LinuxDiskTable>& table() const { return table_; }

private:
    std::shared_ptr<LinuxDiskTable> table_;
};

}  // namespace raid::linuxport

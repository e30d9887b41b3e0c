// The host's physical drives and the drive letters given to their mounted
// filesystems, shared by the storage port (which opens them) and the volume port
// (which lists them) so both always agree on what "PhysicalDrive2" or "E:" is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::linuxport {

struct PhysicalDisk {
    std::string name;               // kernel name: "sda", "nvme0n1"
    bool removable = false;         // sysfs "removable" (missing reads as fixed)
    std::uint64_t sizeSectors = 0;  // sysfs "size", 512-byte units
    std::string devNumber;          // "8:0"; empty when sysfs has no "dev"
};

struct PartitionInfo {
    std::string name;               // "sda1", "nvme0n1p2"
    std::size_t disk = 0;           // index of the parent in the physical drive list
    std::uint64_t startSector = 0;  // sysfs "start", 512-byte units
    std::string devNumber;
};

struct VolumeInfo {
    char letter = 0;
    std::string device;             // kernel name of the block device holding the filesystem
    std::size_t disk = 0;           // physical drive number of that device's disk
    std::string diskName;           // and its kernel name (the number can go stale)
    bool wholeDisk = false;         // filesystem straight on the disk, no partition table
    std::uint64_t startSector = 0;  // 0 for a whole disk
    bool removable = false;
};

// Letters go from 'C' to 'Z'; 'A' and 'B' stay free as they are on Windows,
// where programs treat them as floppy drives.
constexpr char kFirstVolumeLetter = 'C';
constexpr std::size_t kMaxVolumes = 24;

// Whole disks that can hold an enclosure. Skipped: loop, ram, zram (memory and
// file backed), nbd, rbd (network backed), dm-*, md* and zd* (device mapper, RAID
// and ZFS volumes stacked on other disks, which are listed themselves),
// sr* and fd* (optical and floppy drives never sit behind the enclosure bridge and
// would shift every drive number behind them when a disc is inserted), and the
// eMMC boot/RPMB areas (mmcblkNbootM, mmcblkNrpmb), which are parts of mmcblkN.
bool isPhysicalDiskName(std::string_view name);

// Order of the physical drive list: the kernel's own naming order, so numbers
// follow plug order the way the kernel hands out names: sdz comes before sdaa
// (sd/vd/hd/xvd letter suffixes compare by length first), digit runs compare by
// value (nvme2n1 before nvme10n1), different families compare by name.
bool diskNameLess(std::string_view a, std::string_view b);

// Physical drive list from <sysRoot>/block, in diskNameLess order. Disks that
// sysfs marks "hidden" (the per-path nodes of NVMe multipath) have no /dev node
// and are left out.
std::vector<PhysicalDisk> scanPhysicalDisks(const std::string& sysRoot);

// Partitions of the listed disks: sub-directories of <sysRoot>/block/<disk> that
// carry a "partition" attribute.
std::vector<PartitionInfo> scanPartitions(const std::string& sysRoot,
                                          const std::vector<PhysicalDisk>& disks);

// Kernel device name behind a mount source such as "/dev/sda1" or
// "/dev/disk/by-uuid/...": symlinks are followed inside devRoot (a few hops at
// most), then the last path component is the name. Empty for sources outside /dev.
std::string resolveDeviceName(const std::string& devRoot, std::string_view source);

struct VolumeCandidate {
    std::string device;
    std::size_t disk = 0;
    std::string diskName;
    std::uint64_t startSector = 0;
    bool wholeDisk = false;
    bool removable = false;
};

// Letters for the mounted block devices. The order only depends on where the
// filesystems are, never on mount order or on the order of /proc/self/mountinfo:
// (physical drive number, partition start sector, device name). One letter per
// distinct device (bind mounts and repeated mounts share it), at most kMaxVolumes.
std::vector<VolumeInfo> assignLetters(std::vector<VolumeCandidate> candidates);

class LinuxDiskTable {
public:
    explicit LinuxDiskTable(std::string sysRoot = "/sys", std::string devRoot = "/dev",
                            std::string mountInfoPath = "/proc/self/mountinfo");

    // Re-reads the physical drive list only (cheap: one directory listing and a
    // few attributes per disk).
    void refreshDisks();
    // Re-reads the drives, their partitions and the mounted filesystems.
    void refresh();
    // refresh() unless volumes were read before.
    void ensureVolumes();

    std::vector<PhysicalDisk> disks() const;
    std::optional<PhysicalDisk> disk(std::size_t number) const;
    std::optional<std::size_t> diskNumber(std::string_view name) const;
    std::vector<VolumeInfo> volumes() const;
    std::optional<VolumeInfo> volume(char letter) const;

    const std::string& sysRoot() const { return sysRoot_; }
    const std::string& devRoot() const { return devRoot_; }
    const std::string& mountInfoPath() const { return mountInfoPath_; }

private:
    const std::string sysRoot_;
    const std::string devRoot_;
    const std::string mountInfoPath_;

    mutable std::mutex mutex_;
    std::vector<PhysicalDisk> disks_;
    std::vector<VolumeInfo> volumes_;
    bool volumesLoaded_ = false;
};

}  // namespace raid::linuxport

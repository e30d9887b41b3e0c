// System-wide drive locks on Linux: an flock() on one file per disk in a lock
// folder (/run/raid-gui by default) that every RAID GUI program on the machine uses.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DriveLockPort.h"
#include "platform/linux/LinuxDiskTable.h"

namespace raid::linuxport {

inline constexpr const char* kDefaultLockFolder = "/run/raid-gui";

// A disk's id as one file-name component: [A-Za-z0-9._-] only (anything else
// becomes '_'), never starting with '.', at most kMaxLockIdLength characters (a
// longer id keeps its head and gets a hash of the whole). Empty for empty input.
constexpr std::size_t kMaxLockIdLength = 96;
std::string sanitiseLockId(std::string_view raw);

// The disk's id that stays the same across re-plugging and renumbering, read from
// sysfs and udev's database only (no command reaches the drive): the device's
// wwid, else vendor + model + serial, else the udev serial, else the name of its
// /dev/disk/by-id link, else the kernel name. Sanitised.
std::string stableDiskId(const std::string& sysRoot, const std::string& devRoot, const std::string& udevDataRoot,
                         const std::string& kernelName);

// The flock implementation, for any notion of a drive's id (the real disks, the
// simulated machine). flock locks belong to the open file description, so two
// instances in one process exclude each other just like two programs do.
class FlockDriveLocks final : public DriveLockPort {
public:
    // idOf: the drive's raw id (sanitised here); nullopt when there is no such drive.
    FlockDriveLocks(std::string folder, std::function<std::optional<std::string>(int)> idOf);
    ~FlockDriveLocks() override;
    FlockDriveLocks(const FlockDriveLocks&) = delete;
    FlockDriveLocks& operator=(const FlockDriveLocks&) = delete;

    DriveLockResult take(int drive) override;
    void release(int drive) override;
    void releaseAll() override;
    bool held(int drive) const override;

    const std::string& folder() const { return folder_; }
    // The lock file of a (raw) id.
    std::string lockPath(const std::string& id) const;

private:
    struct Held {
        std::string id;
        int fd = -1;
    };
    DriveLockResult open(const std::string& id, int& fd) const;

    const std::string folder_;
    const std::function<std::optional<std::string>(int)> idOf_;
    mutable std::mutex mu_;
    std::map<int, Held> held_;
};

// Locks for the disk table's drives, named by stableDiskId.
std::unique_ptr<DriveLockPort> makeDriveLocks(std::shared_ptr<LinuxDiskTable> table,
                                              std::string folder = kDefaultLockFolder,
                                              std::string udevDataRoot = "/run/udev/data");

}  // namespace raid::linuxport

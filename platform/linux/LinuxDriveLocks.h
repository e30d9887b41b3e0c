// System-wide drive locks on Linux: an flock() on one file per disk in a lock
// folder (/run/raid-gui by default) that every RAID GUI program on the machine uses.
//
// flock() works on any descriptor, even one opened only for reading, so whoever can
// open a lock file can hold the lock for ever and keep every program off the drive.
// Lock files are therefore this process's user's own (root's, for the programs that
// use the drives), mode 0600, in a folder nobody else may write; a lock file with
// another owner or mode is not trusted: it is deleted and made anew, and the user is
// told once.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
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
//
// A lock that cannot be taken for want of rights, or in a folder that is refused, is
// Unavailable for a root program (it goes on without locks, as with no lock folder at
// all) and Refused for any other: a user's program never talks to a drive a root
// program may be using.
class FlockDriveLocks final : public DriveLockPort {
public:
    // idOf: the drive's raw id (sanitised here); nullopt when there is no such drive.
    // rootProgram: whether a lock that cannot be had leaves the drive usable.
    FlockDriveLocks(std::string folder, std::function<std::optional<std::string>(int)> idOf,
                    bool rootProgram = ::geteuid() == 0);
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
    DriveLockResult open(const std::string& id, int& fd);
    bool replaceUntrusted(int dir, const std::string& file, const struct stat& seen, std::string& why) const;

    const std::string folder_;
    const std::function<std::optional<std::string>(int)> idOf_;
    const bool rootProgram_;
    mutable std::mutex mu_;
    std::map<int, Held> held_;
    std::set<std::string> replacedTold_;  // lock files whose replacement the user was told of
};

// Locks for the disk table's drives, named by stableDiskId.
std::unique_ptr<DriveLockPort> makeDriveLocks(std::shared_ptr<LinuxDiskTable> table,
                                              std::string folder = kDefaultLockFolder,
                                              std::string udevDataRoot = "/run/udev/data");

}  // namespace raid::linuxport

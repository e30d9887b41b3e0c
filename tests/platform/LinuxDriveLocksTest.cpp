// Drive locks on Linux: two holders exclude each other (flock is per open file
// description, so two instances in one process behave like two programs), a lock
// that cannot be taken says why instead of passing for "busy", and disk ids from
// hostile sysfs text stay one harmless file name.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "FakeTree.h"
#include "platform/linux/LinuxDriveLocks.h"

using namespace raid;
using namespace raid::linuxport;
using raid::test::FakeTree;

namespace {

std::function<std::optional<std::string>(int)> ids(std::vector<std::string> names) {
    return [names](int n) -> std::optional<std::string> {
        if (n < 0 || n >= static_cast<int>(names.size())) return std::nullopt;
        return names[static_cast<std::size_t>(n)];
    };
}

}  // namespace

TEST(LinuxDriveLocks, TwoHoldersExcludeEachOtherPerDriveUntilRelease) {
    FakeTree tree;
    const std::string folder = tree.root + "/locks";  // made on first use
    FlockDriveLocks first(folder, ids({"disk-a", "disk-b"})), second(folder, ids({"disk-a", "disk-b"}));

    EXPECT_EQ(first.take(0).state, DriveLockState::Taken);
    EXPECT_EQ(first.take(0).state, DriveLockState::Taken);  // ours already: not busy with ourselves
    EXPECT_TRUE(first.held(0));
    EXPECT_EQ(second.take(0).state, DriveLockState::Busy);
    EXPECT_FALSE(second.held(0));
    EXPECT_EQ(second.take(1).state, DriveLockState::Taken);
    EXPECT_EQ(first.take(1).state, DriveLockState::Busy);

    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(::stat(first.lockPath("disk-a").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0022, 0u);

    first.release(0);
    EXPECT_TRUE(std::filesystem::exists(first.lockPath("disk-a")));  // never deleted
    EXPECT_EQ(second.take(0).state, DriveLockState::Taken);
    second.releaseAll();
    EXPECT_EQ(first.take(0).state, DriveLockState::Taken);
    EXPECT_EQ(first.take(1).state, DriveLockState::Taken);
    {
        FlockDriveLocks scoped(folder, ids({"disk-c"}));
        EXPECT_EQ(scoped.take(0).state, DriveLockState::Taken);
    }  // the destructor lets go
    FlockDriveLocks third(folder, ids({"disk-c"}));
    EXPECT_EQ(third.take(0).state, DriveLockState::Taken);
    // No such drive: nothing to lock, and said so.
    EXPECT_EQ(third.take(5).state, DriveLockState::Unavailable);
}

TEST(LinuxDriveLocks, ALockFollowsItsDiskToANewNumber) {
    FakeTree tree;
    std::vector<std::string> table = {"disk-a", "disk-b"};
    auto lookup = [&table](int n) -> std::optional<std::string> {
        if (n < 0 || n >= static_cast<int>(table.size())) return std::nullopt;
        return table[static_cast<std::size_t>(n)];
    };
    FlockDriveLocks mine(tree.root, lookup), other(tree.root, ids({"disk-a", "disk-b"}));
    ASSERT_EQ(mine.take(1).state, DriveLockState::Taken);  // disk-b
    table = {"disk-b"};                                      // disk-a unplugged: disk-b is drive 0 now
    EXPECT_EQ(mine.take(0).state, DriveLockState::Taken);    // the same lock, not our own lock found busy
    EXPECT_TRUE(mine.held(0));
    EXPECT_FALSE(mine.held(1));
    EXPECT_EQ(other.take(1).state, DriveLockState::Busy);   // disk-b is still held
    table = {"disk-c"};                                      // another disk under our number
    EXPECT_EQ(mine.take(0).state, DriveLockState::Taken);
    EXPECT_EQ(other.take(1).state, DriveLockState::Taken);  // disk-b's lock was let go
}

TEST(LinuxDriveLocks, LocksThatCannotBeTakenAreUnavailableWithAReasonNotBusy) {
    FakeTree tree;
    // A folder nobody can create (not even root: /proc takes no new entries).
    FlockDriveLocks noFolder("/proc/self/raid-gui-locks", ids({"disk-a"}));
    DriveLockResult r = noFolder.take(0);
    EXPECT_EQ(r.state, DriveLockState::Unavailable);
    EXPECT_NE(r.reason.find("/proc/self/raid-gui-locks"), std::string::npos) << r.reason;

    // A file where the folder should be.
    tree.write(tree.root + "/plain", "x");
    FlockDriveLocks fileFolder(tree.root + "/plain", ids({"disk-a"}));
    EXPECT_EQ(fileFolder.take(0).state, DriveLockState::Unavailable);

    // A symlink planted under the lock's name: never followed, the target stays untouched.
    const std::string folder = tree.root + "/locks";
    std::filesystem::create_directories(folder);
    FlockDriveLocks locks(folder, ids({"disk-a", "disk-b", "disk-c", "disk-d"}));
    std::filesystem::create_symlink(tree.root + "/victim", locks.lockPath("disk-a"));
    r = locks.take(0);
    EXPECT_EQ(r.state, DriveLockState::Unavailable);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_FALSE(std::filesystem::exists(tree.root + "/victim"));
    EXPECT_FALSE(locks.held(0));

    // A FIFO (it must not hang us) and a folder under the lock's name.
    ASSERT_EQ(::mkfifo(locks.lockPath("disk-b").c_str(), 0644), 0);
    r = locks.take(1);
    EXPECT_EQ(r.state, DriveLockState::Unavailable);
    EXPECT_NE(r.reason.find("no regular file"), std::string::npos) << r.reason;
    std::filesystem::create_directories(locks.lockPath("disk-c"));
    EXPECT_EQ(locks.take(2).state, DriveLockState::Unavailable);

    // The other drives are not affected.
    EXPECT_EQ(locks.take(3).state, DriveLockState::Taken);
}

TEST(LinuxDriveLocks, DiskIdsFromHostileSysfsTextAreOneBoundedFileName) {
    EXPECT_EQ(sanitiseLockId("naa.5000c500a1b2c3d4"), "naa.5000c500a1b2c3d4");
    EXPECT_EQ(sanitiseLockId("../../etc/passwd"), "_._.._etc_passwd");
    EXPECT_EQ(sanitiseLockId(".."), "_.");
    EXPECT_EQ(sanitiseLockId(std::string("a\0b\n\x1b[31m c", 11)), "a_b___31m_c");
    EXPECT_EQ(sanitiseLockId(""), "");
    const std::string huge(100000, 'x');
    const std::string longId = sanitiseLockId(huge);
    EXPECT_EQ(longId.size(), kMaxLockIdLength);
    // Two long ids that share their head stay apart.
    EXPECT_NE(longId, sanitiseLockId(huge + "y"));

    FakeTree tree;
    const std::string udev = tree.root + "/udev";
    tree.addDisk("sda", 1000, false, "8:0");
    tree.addDisk("sdb", 1000, false, "8:16");
    tree.addDisk("sdc", 1000, false, "8:32");
    tree.addDisk("sdd");
    tree.addDisk("sde");
    const std::string devices = tree.sys + "/devices/virtual/block/";
    // wwid first, whatever else there is; trailing blanks and line breaks trimmed.
    tree.write(devices + "sda/device/wwid", "t10.ATA     Disk/../x\n");
    tree.write(devices + "sda/device/serial", "S1\n");
    EXPECT_EQ(stableDiskId(tree.sys, tree.dev, udev, "sda"), "wwid-t10.ATA_____Disk_.._x");
    // vendor + model + serial.
    tree.write(devices + "sdb/device/vendor", "ACME    \n");
    tree.write(devices + "sdb/device/model", "Two Bay\n");
    tree.write(devices + "sdb/device/serial", "SN/42\n");
    EXPECT_EQ(stableDiskId(tree.sys, tree.dev, udev, "sdb"), "serial-ACME_Two_Bay_SN_42");
    // udev's serial for the disk's device number.
    tree.write(udev + "/b8:32", "S:disk/by-id/x\nE:ID_MODEL=m\nE:ID_SERIAL=Bridge_3X_0001\n");
    EXPECT_EQ(stableDiskId(tree.sys, tree.dev, udev, "sdc"), "udev-Bridge_3X_0001");
    // The by-id link pointing at it (the smallest name when there are several).
    std::filesystem::create_directories(tree.dev + "/disk/by-id");
    std::filesystem::create_symlink("../../sdd", tree.dev + "/disk/by-id/usb-Bridge_B");
    std::filesystem::create_symlink("../../sdd", tree.dev + "/disk/by-id/usb-Bridge_A");
    std::filesystem::create_symlink("../../sde1", tree.dev + "/disk/by-id/usb-Other");
    EXPECT_EQ(stableDiskId(tree.sys, tree.dev, udev, "sdd"), "id-usb-Bridge_A");
    // Nothing but the name.
    EXPECT_EQ(stableDiskId(tree.sys, tree.dev, udev, "sde"), "name-sde");

    // A FIFO and a huge file where the wwid should be: no hang, a bounded name.
    tree.addDisk("sdf");
    std::filesystem::create_directories(devices + "sdf/device");
    ASSERT_EQ(::mkfifo((devices + "sdf/device/wwid").c_str(), 0644), 0);
    EXPECT_EQ(stableDiskId(tree.sys, tree.dev, udev, "sdf"), "name-sdf");
    tree.addDisk("sdg");
    tree.write(devices + "sdg/device/wwid", std::string(1 << 20, 'w'));
    EXPECT_LE(stableDiskId(tree.sys, tree.dev, udev, "sdg").size(), kMaxLockIdLength);
}

TEST(LinuxDriveLocks, DiskTableLocksNameTheFileAfterTheDiskNotItsNumber) {
    FakeTree tree;
    tree.addDisk("sda");
    tree.addDisk("sdb");
    tree.write(tree.sys + "/devices/virtual/block/sdb/device/wwid", "naa.600a0b80\n");
    auto table = std::make_shared<LinuxDiskTable>(tree.sys, tree.dev, tree.root + "/mountinfo");
    const std::string folder = tree.root + "/run";
    auto locks = makeDriveLocks(table, folder, tree.root + "/udev");
    auto other = makeDriveLocks(table, folder, tree.root + "/udev");
    EXPECT_EQ(locks->take(1).state, DriveLockState::Taken);
    EXPECT_TRUE(std::filesystem::exists(folder + "/wwid-naa.600a0b80.lock"));
    EXPECT_EQ(other->take(1).state, DriveLockState::Busy);
    EXPECT_EQ(locks->take(7).state, DriveLockState::Unavailable);  // no such disk
}

TEST(LinuxDriveLocks, TakesAndReleasesFromManyThreadsKeepOneHolderPerDrive) {
    FakeTree tree;
    FlockDriveLocks a(tree.root, ids({"d0", "d1", "d2"})), b(tree.root, ids({"d0", "d1", "d2"}));
    std::atomic<int> bothHeld{0};
    auto worker = [&](FlockDriveLocks& mine, FlockDriveLocks& theirs, int drive) {
        for (int i = 0; i < 300; ++i) {
            if (mine.take(drive).state == DriveLockState::Taken) {
                if (theirs.held(drive)) ++bothHeld;
                mine.release(drive);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int d = 0; d < 3; ++d) {
        threads.emplace_back(worker, std::ref(a), std::ref(b), d);
        threads.emplace_back(worker, std::ref(b), std::ref(a), d);
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(bothHeld.load(), 0);
}

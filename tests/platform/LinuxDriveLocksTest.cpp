// Drive locks on Linux: two holders exclude each other (flock is per open file
// description, so two instances in one process behave like two programs), a lock
// that cannot be taken says why instead of passing for "busy", a lock file that
// others could hold is replaced, a folder others can write is refused, and disk ids
// from hostile sysfs text stay one harmless file name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <barrier>
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
    // Nobody else may open it: whoever can open a lock file can hold its lock.
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());

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
    // As a root program sees them (another user's program would not use the drive).
    constexpr bool kRoot = true;
    // A folder nobody can create (not even root: /proc takes no new entries).
    FlockDriveLocks noFolder("/proc/self/raid-gui-locks", ids({"disk-a"}), kRoot);
    DriveLockResult r = noFolder.take(0);
    EXPECT_EQ(r.state, DriveLockState::Unavailable);
    EXPECT_NE(r.reason.find("/proc/self/raid-gui-locks"), std::string::npos) << r.reason;

    // A file where the folder should be.
    tree.write(tree.root + "/plain", "x");
    FlockDriveLocks fileFolder(tree.root + "/plain", ids({"disk-a"}), kRoot);
    EXPECT_EQ(fileFolder.take(0).state, DriveLockState::Unavailable);

    // A symlink planted under the lock's name: never followed, the target stays untouched.
    const std::string folder = tree.root + "/locks";
    std::filesystem::create_directories(folder);
    FlockDriveLocks locks(folder, ids({"disk-a", "disk-b", "disk-c", "disk-d"}), kRoot);
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

TEST(LinuxDriveLocks, ALockFileOthersCouldHoldIsReplacedAndSaidOnce) {
    FakeTree tree;
    const std::string folder = tree.root + "/locks";
    std::filesystem::create_directories(folder);
    FlockDriveLocks mine(folder, ids({"disk-a", "disk-b"})), other(folder, ids({"disk-a", "disk-b"}));
    // As earlier versions left it: 0644, and held through a descriptor opened only for
    // reading, as any user can.
    const std::string a = mine.lockPath("disk-a");
    tree.write(a, "");
    ASSERT_EQ(::chmod(a.c_str(), 0644), 0);
    const int holder = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    DriveLockResult r = mine.take(0);
    EXPECT_EQ(r.state, DriveLockState::Taken);
    EXPECT_EQ(r.note, "Lock file " + a + " had another owner or mode (uid " + std::to_string(::geteuid()) +
                          ", mode 0644): replaced");
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(other.take(0).state, DriveLockState::Busy);  // the new file excludes as before
    mine.release(0);
    r = mine.take(0);
    EXPECT_EQ(r.state, DriveLockState::Taken);
    EXPECT_EQ(r.note, "");  // ours now: nothing to say
    ::close(holder);

    if (::geteuid() == 0) {
        // Another user's file, even one of mode 0600.
        const std::string b = mine.lockPath("disk-b");
        tree.write(b, "");
        ASSERT_EQ(::chmod(b.c_str(), 0600), 0);
        ASSERT_EQ(::chown(b.c_str(), 65534, 65534), 0);
        r = other.take(1);
        EXPECT_EQ(r.state, DriveLockState::Taken);
        EXPECT_NE(r.note.find("(uid 65534, mode 0600): replaced"), std::string::npos) << r.note;
        ASSERT_EQ(::stat(b.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
    }
}

TEST(LinuxDriveLocks, AFolderOthersCanWriteIsRefusedAndOnlyARootProgramGoesOnWithout) {
    FakeTree tree;
    const std::string open = tree.root + "/open";
    std::filesystem::create_directories(open);
    ASSERT_EQ(::chmod(open.c_str(), 01777), 0);  // even with the sticky bit
    for (bool rootProgram : {true, false}) {
        FlockDriveLocks locks(open, ids({"disk-a"}), rootProgram);
        const DriveLockResult r = locks.take(0);
        EXPECT_EQ(r.state, rootProgram ? DriveLockState::Unavailable : DriveLockState::Refused);
        EXPECT_EQ(r.reason, "the folder " + open + " can be written by other users");
    }
    EXPECT_TRUE(std::filesystem::is_empty(open));  // nothing made there
    // No folder at all: a user's program sends nothing either.
    FlockDriveLocks noFolder("/proc/self/raid-gui-locks", ids({"disk-a"}), false);
    EXPECT_EQ(noFolder.take(0).state, DriveLockState::Refused);
    // A link on the way is followed when we made it ...
    const std::string mineFolder = tree.root + "/mine";
    std::filesystem::create_directories(mineFolder);
    std::filesystem::create_directory_symlink(mineFolder, tree.root + "/via");
    FlockDriveLocks via(tree.root + "/via/.", ids({"disk-a"}));
    EXPECT_EQ(via.take(0).state, DriveLockState::Taken);
    EXPECT_TRUE(std::filesystem::exists(mineFolder + "/disk-a.lock"));
    if (::geteuid() != 0) return;
    // ... and not when another user did; nor is a folder of another user's used.
    ASSERT_EQ(::lchown((tree.root + "/via").c_str(), 65534, 65534), 0);
    FlockDriveLocks theirLink(tree.root + "/via/.", ids({"disk-a"}));
    DriveLockResult r = theirLink.take(0);
    EXPECT_EQ(r.state, DriveLockState::Unavailable);
    EXPECT_NE(r.reason.find("through a link of another user (via, uid 65534)"), std::string::npos) << r.reason;
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    ASSERT_EQ(::chown(open.c_str(), 65534, 65534), 0);
    FlockDriveLocks theirFolder(open, ids({"disk-a"}));
    r = theirFolder.take(0);
    EXPECT_EQ(r.state, DriveLockState::Unavailable);
    EXPECT_EQ(r.reason, "the folder " + open + " belongs to another user (uid 65534)");
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
    // Its tail is the id's hash as every version makes it: the programs take one lock.
    EXPECT_EQ(longId.substr(longId.size() - 17), "-9742c0e71fa7ab03");

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

TEST(LinuxDriveLocks, ProgramsReplacingOneUntrustedFileAtOnceEndWithOneHolder) {
    // Four programs find the same untrusted lock file at the same moment, again and
    // again: each may replace it, but only one may hold the drive afterwards.
    FakeTree tree;
    constexpr int kPrograms = 4;
    constexpr int kRounds = 150;
    std::vector<std::unique_ptr<FlockDriveLocks>> programs;
    for (int i = 0; i < kPrograms; ++i) programs.push_back(std::make_unique<FlockDriveLocks>(tree.root, ids({"d0"})));
    const std::string path = programs[0]->lockPath("d0");
    auto plant = [&] {
        std::filesystem::remove(path);
        tree.write(path, "");
        ::chmod(path.c_str(), 0644);
    };
    plant();
    std::atomic<int> taken{0};
    int twoHolders = 0;
    int replaced = 0;
    std::barrier sync(kPrograms + 1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kPrograms; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                sync.arrive_and_wait();  // the untrusted file is in place
                if (programs[static_cast<std::size_t>(i)]->take(0).state == DriveLockState::Taken) ++taken;
                sync.arrive_and_wait();  // counted
                sync.arrive_and_wait();  // let go
                programs[static_cast<std::size_t>(i)]->release(0);
                sync.arrive_and_wait();
            }
        });
    }
    for (int round = 0; round < kRounds; ++round) {
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        if (taken.exchange(0) > 1) ++twoHolders;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600) ++replaced;
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        plant();
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(twoHolders, 0);
    EXPECT_EQ(replaced, kRounds);
}

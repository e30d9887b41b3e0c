// Device-change watchers: the sysfs poll's change detection on a fake tree, its
// thread delivering a change, and the udev monitor's start/stop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "FakeTree.h"
#include "platform/linux/LinuxDeviceChange.h"

using namespace raid::linuxport;
using raid::test::FakeTree;

namespace {

struct Counter {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
    std::function<void()> callback() {
        return [this] {
            std::lock_guard lock(mutex);
            ++count;
            cv.notify_all();
        };
    }
    // Liveness only: a generous bound so a stuck watcher fails instead of hanging.
    bool waitFor(int atLeast) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return count >= atLeast; });
    }
};

}  // namespace

TEST(SysfsPollDeviceChange, ReportsDisksArrivingAndLeavingButNotLoopDevices) {
    FakeTree tree;
    tree.addDisk("sda");
    LinuxSysfsPollDeviceChange watch(tree.sys);
    EXPECT_FALSE(watch.checkOnce());  // baseline
    EXPECT_FALSE(watch.checkOnce());

    tree.addDisk("sdb");
    EXPECT_TRUE(watch.checkOnce());
    EXPECT_FALSE(watch.checkOnce());  // reported once, not on every poll

    tree.addDisk("loop3");
    tree.addDisk("dm-1");
    EXPECT_FALSE(watch.checkOnce());

    std::filesystem::remove(tree.sys + "/block/sda");
    EXPECT_TRUE(watch.checkOnce());

    // The same number of disks under other names is still a change.
    std::filesystem::remove(tree.sys + "/block/sdb");
    tree.addDisk("sdc");
    EXPECT_TRUE(watch.checkOnce());
}

TEST(SysfsPollDeviceChange, ThreadCallsBackOnChangeAndStopsPromptly) {
    FakeTree tree;
    tree.addDisk("sda");
    Counter counter;
    LinuxSysfsPollDeviceChange watch(tree.sys, 20);
    watch.start(counter.callback());
    tree.addDisk("sdb");
    EXPECT_TRUE(counter.waitFor(1));
    watch.stop();
    watch.stop();  // idempotent

    // Restartable, and the destructor stops a running watcher.
    watch.start(counter.callback());
}

#ifdef RAID_HAVE_UDEV
TEST(UdevDeviceChange, StartsAndStopsWithAndWithoutAUdevDaemon) {
    FakeTree tree;
    tree.addDisk("sda");
    // A run dir with a "control" socket name makes the watcher take the netlink
    // monitor even on a machine whose udev daemon is not running.
    tree.write(tree.root + "/run-udev/control", "");
    {
        Counter counter;
        LinuxUdevDeviceChange watch(tree.sys, tree.root + "/run-udev");
        for (int i = 0; i < 3; ++i) {
            watch.start(counter.callback());
            EXPECT_TRUE(watch.usingUdev());
            watch.stop();
        }
        watch.start(counter.callback());
    }  // destructor stops it

    // Without a daemon it falls back to the sysfs poll, which still reports.
    Counter counter;
    LinuxUdevDeviceChange watch(tree.sys, tree.root + "/no-udev");
    watch.start(counter.callback());
    EXPECT_FALSE(watch.usingUdev());
    watch.stop();

    auto best = makeDeviceChange();
    best->start([] {});
    best->stop();
}
#endif

// Single-instance lock: conflicts between open file descriptions, release,
// a killed holder, and refusal of planted symlinks and of folders others can write.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "FakeTree.h"
#include "platform/linux/LinuxInstanceLock.h"

using namespace raid::linuxport;
using raid::test::FakeTree;

TEST(LinuxInstanceLock, SecondHolderInTheSameProcessIsRefusedUntilRelease) {
    FakeTree dir;
    LinuxInstanceLock first(dir.root), second(dir.root), other(dir.root);
    ASSERT_TRUE(first.acquire("RaidGui"));
    EXPECT_TRUE(first.acquire("RaidGui"));  // already ours
    EXPECT_FALSE(second.acquire("RaidGui"));
    EXPECT_TRUE(other.acquire("OtherTool"));

    struct stat st {};
    ASSERT_EQ(::stat(first.lockPath("RaidGui").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    first.release();
    EXPECT_TRUE(second.acquire("RaidGui"));
    EXPECT_FALSE(first.acquire("RaidGui"));
    second.release();
    {
        LinuxInstanceLock scoped(dir.root);
        EXPECT_TRUE(scoped.acquire("RaidGui"));
    }  // destructor releases
    EXPECT_TRUE(first.acquire("RaidGui"));
}

TEST(LinuxInstanceLock, KilledHolderLeavesTheLockFree) {
    FakeTree dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LinuxInstanceLock lock(dir.root);
        char ok = lock.acquire("RaidGui") ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 'y');

    LinuxInstanceLock lock(dir.root);
    EXPECT_FALSE(lock.acquire("RaidGui"));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(lock.acquire("RaidGui"));
}

TEST(LinuxInstanceLock, RefusesAPlantedSymlinkAndKeepsNamesInsideTheFolder) {
    FakeTree dir;
    const std::string victim = dir.root + "/victim";
    LinuxInstanceLock lock(dir.root);
    std::filesystem::create_symlink(victim, lock.lockPath("RaidGui"));
    EXPECT_FALSE(lock.acquire("RaidGui"));
    EXPECT_FALSE(std::filesystem::exists(victim));

    EXPECT_EQ(lock.lockPath("../etc/x"), dir.root + "/.._etc_x.lock");
    EXPECT_TRUE(lock.acquire("../etc/x"));

    if (::geteuid() != 0) return;
    // As root, not in a folder others can write: they could make the name first.
    const std::string open = dir.root + "/open";
    std::filesystem::create_directory(open);
    ASSERT_EQ(::chmod(open.c_str(), 01777), 0);
    LinuxInstanceLock shared(open);
    EXPECT_FALSE(shared.acquire("RaidGui"));
    EXPECT_TRUE(std::filesystem::is_empty(open));
}

TEST(LinuxInstanceLock, DefaultPathIsPerSessionWithAPerUserFallback) {
    FakeTree runtime;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string restore = saved ? saved : "";
    // Root's never in /tmp, where others could make the name first.
    const std::string fallback = ::geteuid() == 0 ? std::string("/run/raid-gui/RaidGui-0.lock")
                                                  : "/tmp/RaidGui-" + std::to_string(::geteuid()) + ".lock";
    LinuxInstanceLock lock;
    ::setenv("XDG_RUNTIME_DIR", runtime.root.c_str(), 1);
    EXPECT_EQ(lock.lockPath("RaidGui"), runtime.root + "/RaidGui.lock");
    // A runtime folder that is gone (a stale session) must not block every start.
    ::setenv("XDG_RUNTIME_DIR", (runtime.root + "/gone").c_str(), 1);
    EXPECT_EQ(lock.lockPath("RaidGui"), fallback);
    ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(lock.lockPath("RaidGui"), fallback);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(lock.lockPath("RaidGui"), fallback);
    if (saved) ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

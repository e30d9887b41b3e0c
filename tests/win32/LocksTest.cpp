// The kernel objects that keep programs apart: the session's instance mutex and the
// machine's drive locks, between two handles, two threads and two processes (this
// test program started again as the other process); and the console's end signals.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "platform/win32/WinDriveLocks.h"
#include "platform/win32/WinEndSignals.h"
#include "platform/win32/WinPlatform.h"

namespace raid {
namespace {

constexpr DWORD kBound = 120000;  // ms: generous, the outcome is polled for
constexpr char kChildVariable[] = "RAID_LOCK_CHILD";

std::optional<std::string> idOf(int n) {
    if (n < 0 || n > 9) return std::nullopt;
    return "disk " + std::to_string(n) + " \\ with odd/chars";
}

std::string eventName(const char* what, DWORD parent) {
    return std::string("raid-lock-test-") + what + "-" + std::to_string(parent);
}

// The other process: takes the locks, says so, and dies holding them when told.
TEST(LockChild, HoldsTheLocksUntilKilled) {
    const char* parent = std::getenv(kChildVariable);
    if (!parent) GTEST_SKIP() << "only as the other process of the lock tests";
    const DWORD parentId = static_cast<DWORD>(std::strtoul(parent, nullptr, 10));
    auto instance = win32::makeInstanceLock();
    ASSERT_TRUE(instance->acquire("QX_GUI_test_" + std::string(parent)));
    auto drives = makeNamedDriveLocks(std::string("scope-") + parent, idOf);
    ASSERT_EQ(drives->take(3).state, DriveLockState::Taken);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName("ready", parentId).c_str());
    HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, eventName("quit", parentId).c_str());
    ASSERT_TRUE(ready && quit);
    SetEvent(ready);
    WaitForSingleObject(quit, kBound);
    // Gone without letting go, as a program that crashes.
    TerminateProcess(GetCurrentProcess(), 7);
}

TEST(Locks, InstanceAndDriveLocksBetweenHandlesThreadsAndProcesses) {
    // Two handles of one process: the second copy finds the instance taken.
    auto first = makeInstanceLock();
    auto second = makeInstanceLock();
    ASSERT_TRUE(first->acquire("QX_GUI"));
    EXPECT_TRUE(first->acquire("QX_GUI"));
    EXPECT_FALSE(second->acquire("QX_GUI"));
    std::thread([&] { EXPECT_FALSE(win32::makeInstanceLock()->acquire("QX_GUI")); }).join();
    // Released on another thread than the one that took it: the name is free again.
    std::thread([&] { first->release(); }).join();
    EXPECT_TRUE(second->acquire("QX_GUI"));
    second->release();

    // Drive locks: two ports are two programs; any thread may take and let go.
    auto a = makeNamedDriveLocks("scope-one", idOf);
    auto b = makeNamedDriveLocks("scope-one", idOf);
    auto elsewhere = makeNamedDriveLocks("scope-two", idOf);
    EXPECT_EQ(a->take(1).state, DriveLockState::Taken);
    EXPECT_EQ(a->take(1).state, DriveLockState::Taken);
    EXPECT_TRUE(a->held(1));
    EXPECT_EQ(b->take(1).state, DriveLockState::Busy);
    EXPECT_FALSE(b->held(1));
    EXPECT_EQ(elsewhere->take(1).state, DriveLockState::Taken);
    EXPECT_EQ(b->take(2).state, DriveLockState::Taken);
    EXPECT_EQ(a->take(42).state, DriveLockState::Unavailable);
    std::thread([&] { a->release(1); }).join();
    EXPECT_FALSE(a->held(1));
    EXPECT_EQ(b->take(1).state, DriveLockState::Taken);
    EXPECT_EQ(a->take(1).state, DriveLockState::Busy);
    b.reset();  // a program that ends lets go of everything
    EXPECT_EQ(a->take(1).state, DriveLockState::Taken);
    EXPECT_EQ(a->take(2).state, DriveLockState::Taken);
    a->releaseAll();
    EXPECT_FALSE(a->held(2));
    // A lock somebody else made first under the drive's name, to keep every program
    // off the drive for ever, is not trusted: this elevated program goes on without it.
    PSECURITY_DESCRIPTOR squat = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA("O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &squat, nullptr));
    SECURITY_ATTRIBUTES everyone{sizeof everyone, squat, FALSE};
    HANDLE squatter = CreateMutexA(&everyone, TRUE, win32::driveLockName("scope-one", *idOf(5)).c_str());
    ASSERT_TRUE(squatter);
    const DriveLockResult squatted = a->take(5);
    EXPECT_EQ(squatted.state, DriveLockState::Unavailable);
    EXPECT_NE(squatted.reason.find("another user"), std::string::npos) << squatted.reason;
    CloseHandle(squatter);
    LocalFree(squat);
    EXPECT_EQ(a->take(5).state, DriveLockState::Taken);
    a->release(5);
    // A hostile id still names one object of this port's own namespace.
    EXPECT_EQ(win32::driveLockName("", std::string(1000, '\\')).size(),
              win32::driveLockName("", std::string(2000, '\\')).size());
    EXPECT_EQ(win32::driveLockName("", "..\\x").rfind("Global\\raid-gui-drive-", 0), 0u);
    EXPECT_EQ(win32::driveLockName("", "..\\x").find('\\', 7), std::string::npos);

    // Another process holds both, then dies holding them.
    const DWORD me = GetCurrentProcessId();
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName("ready", me).c_str());
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, eventName("quit", me).c_str());
    ASSERT_TRUE(ready && quit);
    char exe[MAX_PATH + 1] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    std::string command = std::string("\"") + exe + "\" --gtest_brief=1 --gtest_filter=LockChild.*";
    SetEnvironmentVariableA(kChildVariable, std::to_string(me).c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    ASSERT_TRUE(started);
    const HANDLE readyOrGone[2] = {ready, pi.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, readyOrGone, FALSE, kBound), static_cast<DWORD>(WAIT_OBJECT_0));
    const std::string instanceName = "QX_GUI_test_" + std::to_string(me);
    auto mine = makeNamedDriveLocks("scope-" + std::to_string(me), idOf);
    EXPECT_FALSE(makeInstanceLock()->acquire(instanceName));
    const DriveLockResult other = mine->take(3);
    EXPECT_EQ(other.state, DriveLockState::Busy) << other.reason;
    SetEvent(quit);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, kBound), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 7u);
    // What the dead program held is free: the drive's mutex, abandoned, is ours.
    EXPECT_TRUE(makeInstanceLock()->acquire(instanceName));
    EXPECT_EQ(mine->take(3).state, DriveLockState::Taken);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(ready);
    CloseHandle(quit);
}

TEST(EndSignals, TheConsolesEventsEndTheProgramOnTheWatchsThread) {
    std::atomic<int> ends{0};
    std::atomic<DWORD> thread{0};
    auto watch = watchEndSignals([&](EndSignal s) {
        if (s == EndSignal::end) ++ends;
        thread = GetCurrentThreadId();
    });
    ASSERT_TRUE(watch);
    // A real Ctrl-C where there is a console; Wine gives a program run without a
    // terminal none (GenerateConsoleCtrlEvent fails), so the handler is called as the
    // system calls it, from a thread of its own.
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        for (DWORD waited = 0; ends.load() == 0 && waited < kBound; waited += 20) Sleep(20);
        EXPECT_EQ(ends.load(), 1);
        ends = 0;
    }
    std::thread([] { EXPECT_TRUE(win32::onConsoleEvent(CTRL_BREAK_EVENT)); }).join();
    for (DWORD waited = 0; ends.load() == 0 && waited < kBound; waited += 20) Sleep(20);
    EXPECT_EQ(ends.load(), 1);
    EXPECT_NE(thread.load(), GetCurrentThreadId());
    EXPECT_FALSE(win32::onConsoleEvent(0x1234));

    // Closing the console: the system would end the process as soon as the handler
    // returns, so it returns only once the program let the watch go.
    std::atomic<bool> returned{false};
    std::thread closing([&] {
        EXPECT_TRUE(win32::onConsoleEvent(CTRL_CLOSE_EVENT));
        returned = true;
    });
    for (DWORD waited = 0; ends.load() < 2 && waited < kBound; waited += 20) Sleep(20);
    EXPECT_EQ(ends.load(), 2);
    EXPECT_FALSE(returned.load());
    watch.reset();
    closing.join();
    EXPECT_TRUE(returned.load());
}

TEST(RandomSeed, TwoStartsPickDifferentSequences) {
    auto one = win32::makeRandom();
    auto two = win32::makeRandom();
    EXPECT_NE(std::make_pair(one->next(), one->next()), std::make_pair(two->next(), two->next()));
}

}  // namespace
}  // namespace raid

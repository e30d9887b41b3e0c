// "A storage device arrived or left" for the detection countdown.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DeviceChangePort.h"

struct udev;
struct udev_monitor;

namespace raid::linuxport {

// Watches the physical drive list in <sysRoot>/block and reports every change of
// it. Used where libudev is missing or no udev daemon runs (containers, rescue
// systems): there the netlink monitor would open fine and then never say a word.
class LinuxSysfsPollDeviceChange final : public DeviceChangePort {
public:
    explicit LinuxSysfsPollDeviceChange(std::string sysRoot = "/sys", int intervalMs = 2000);
    ~LinuxSysfsPollDeviceChange() override;

    void start(std::function<void()> onChange) override;
    void stop() override;

    // One poll step without the thread: true when the listing differs from the
    // one seen last (the first call only takes the baseline and returns false).
    bool checkOnce();

private:
    void run();

    const std::string sysRoot_;
    const int intervalMs_;
    std::function<void()> onChange_;
    std::thread thread_;
    int wakeFd_ = -1;
    std::vector<std::string> last_;
    bool haveBaseline_ = false;
};

#ifdef RAID_HAVE_UDEV
// libudev monitor on subsystem "block": add and remove of disks and partitions,
// and change events that announce new or ejected media. Falls back to the sysfs
// poll when no udev daemon runs or the monitor cannot be set up.
class LinuxUdevDeviceChange final : public DeviceChangePort {
public:
    explicit LinuxUdevDeviceChange(std::string sysRoot = "/sys", std::string udevRunDir = "/run/udev");
    ~LinuxUdevDeviceChange() override;

    void start(std::function<void()> onChange) override;
    void stop() override;

    // True while the udev monitor (not the poll fallback) is in use.
    bool usingUdev() const { return monitor_ != nullptr; }

private:
    void run();

    const std::string sysRoot_;
    const std::string udevRunDir_;
    std::function<void()> onChange_;
    std::thread thread_;
    int wakeFd_ = -1;
    ::udev* udev_ = nullptr;
    ::udev_monitor* monitor_ = nullptr;
    std::unique_ptr<LinuxSysfsPollDeviceChange> fallback_;
};
#endif

// The best watcher this build and host offer.
std::unique_ptr<DeviceChangePort> makeDeviceChange();

}  // namespace raid::linuxport

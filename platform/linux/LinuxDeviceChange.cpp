#include "platform/linux/LinuxDeviceChange.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#ifdef RAID_HAVE_UDEV
#include <libudev.h>
#endif

#include "platform/linux/LinuxDiskTable.h"
#include "platform/linux/LinuxFiles.h"

namespace raid::linuxport {
namespace {

void signalWake(int fd) {
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

void callSafely(const std::function<void()>& onChange) {
    if (!onChange) return;
    try {
        onChange();
    } catch (...) {
        // A throwing receiver must not take the watcher thread (and the process) down.
    }
}

}  // namespace

// ---- sysfs poll ----------------------------------------------------------------

LinuxSysfsPollDeviceChange::LinuxSysfsPollDeviceChange(std::string sysRoot, int intervalMs)
    : sysRoot_(std::move(sysRoot)), intervalMs_(std::max(1, intervalMs)) {}

LinuxSysfsPollDeviceChange::~LinuxSysfsPollDeviceChange() { stop(); }

bool LinuxSysfsPollDeviceChange::checkOnce() {
    // Only the drives that count as physical: loop devices coming and going
    // (snap, image mounts) are no reason to re-run detection.
    std::vector<std::string> names;
    for (auto& name : listDirectory(sysRoot_ + "/block"))
        if (isPhysicalDiskName(name)) names.push_back(std::move(name));
    std::sort(names.begin(), names.end());
    const bool changed = haveBaseline_ && names != last_;
    last_ = std::move(names);
    haveBaseline_ = true;
    return changed;
}

void LinuxSysfsPollDeviceChange::start(std::function<void()> onChange) {
    stop();
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) return;
    onChange_ = std::move(onChange);
    haveBaseline_ = false;
    checkOnce();
    thread_ = std::thread([this] { run(); });
}

void LinuxSysfsPollDeviceChange::run() {
    pollfd wake{wakeFd_, POLLIN, 0};
    for (;;) {
        int rc = ::poll(&wake, 1, intervalMs_);
        if (rc < 0 && errno == EINTR) continue;
        if (rc != 0) return;  // woken by stop() (or the descriptor broke)
        if (checkOnce()) callSafely(onChange_);
    }
}

void LinuxSysfsPollDeviceChange::stop() {
    if (thread_.joinable()) {
        signalWake(wakeFd_);
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    onChange_ = nullptr;
}

// ---- udev monitor ----------------------------------------------------------------

#ifdef RAID_HAVE_UDEV

LinuxUdevDeviceChange::LinuxUdevDeviceChange(std::string sysRoot, std::string udevRunDir)
    : sysRoot_(std::move(sysRoot)), udevRunDir_(std::move(udevRunDir)) {}

LinuxUdevDeviceChange::~LinuxUdevDeviceChange() { stop(); }

void LinuxUdevDeviceChange::start(std::function<void()> onChange) {
    stop();
    // Events on the "udev" netlink group come from the daemon once it has made the
    // /dev nodes; without a daemon nothing would ever arrive.
    const bool daemonRuns = ::access((udevRunDir_ + "/control").c_str(), F_OK) == 0;
    if (daemonRuns) {
        udev_ = udev_new();
        if (udev_) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
                         udev_monitor_enable_receiving(monitor_) < 0)) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
        if (monitor_) wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
        if (monitor_ && wakeFd_ < 0) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }
    if (!monitor_) {
        if (udev_) udev_unref(udev_);
        udev_ = nullptr;
        fallback_ = std::make_unique<LinuxSysfsPollDeviceChange>(sysRoot_);
        fallback_->start(std::move(onChange));
        return;
    }
    onChange_ = std::move(onChange);
    thread_ = std::thread([this] { run(); });
}

void LinuxUdevDeviceChange::run() {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {udev_monitor_get_fd(monitor_), POLLIN, 0}};
    for (;;) {
        int rc = ::poll(fds, 2, -1);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (!(fds[1].revents & POLLIN)) {
            if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
            continue;
        }
        udev_device* dev = udev_monitor_receive_device(monitor_);
        if (!dev) continue;
        const char* action = udev_device_get_action(dev);
        bool report = false;
        if (action) {
            if (!std::strcmp(action, "add") || !std::strcmp(action, "remove")) {
                report = true;
            } else if (!std::strcmp(action, "change")) {
                // Change events also come for partition-table rereads and udev
                // rule runs; only media insertion/ejection changes the drive picture.
                const char* media = udev_device_get_property_value(dev, "DISK_MEDIA_CHANGE");
                const char* eject = udev_device_get_property_value(dev, "DISK_EJECT_REQUEST");
                report = (media && !std::strcmp(media, "1")) || (eject && !std::strcmp(eject, "1"));
            }
        }
        udev_device_unref(dev);
        if (report) callSafely(onChange_);
    }
}

void LinuxUdevDeviceChange::stop() {
    if (fallback_) {
        fallback_->stop();
        fallback_.reset();
    }
    if (thread_.joinable()) {
        signalWake(wakeFd_);
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    if (monitor_) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    if (udev_) udev_unref(udev_);
    udev_ = nullptr;
    onChange_ = nullptr;
}

std::unique_ptr<DeviceChangePort> makeDeviceChange() { return std::make_unique<LinuxUdevDeviceChange>(); }

#else

std::unique_ptr<DeviceChangePort> makeDeviceChange() { return std::make_unique<LinuxSysfsPollDeviceChange>(); }

#endif

}  // namespace raid::linuxport

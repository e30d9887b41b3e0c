#include "platform/linux/LinuxDriveLocks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace raid::linuxport {
namespace {

// sysfs attributes are short; a fake or broken tree must not make us read for ever.
constexpr std::size_t kMaxAttribute = 4096;

std::optional<std::string> readSmallFile(const std::string& path) {
    // O_NONBLOCK: a FIFO planted where an attribute should be must not hang the pass.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out(kMaxAttribute, '\0');
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
}

std::string trimmed(std::string s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; };
    while (!s.empty() && space(s.back())) s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && space(s[i])) ++i;
    return s.substr(i);
}

std::string attribute(const std::string& path) {
    auto text = readSmallFile(path);
    return text ? trimmed(*text) : std::string();
}

std::string udevSerial(const std::string& udevDataRoot, const std::string& devNumber) {
    if (devNumber.empty() || udevDataRoot.empty()) return {};
    auto text = readSmallFile(udevDataRoot + "/b" + devNumber);
    if (!text) return {};
    const std::string key = "E:ID_SERIAL=";
    std::size_t at = 0;
    while (at < text->size()) {
        std::size_t end = text->find('\n', at);
        if (end == std::string::npos) end = text->size();
        if (text->compare(at, key.size(), key) == 0) return trimmed(text->substr(at + key.size(), end - at - key.size()));
        at = end + 1;
    }
    return {};
}

std::string byIdName(const std::string& devRoot, const std::string& kernelName) {
    const std::string dir = devRoot + "/disk/by-id";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return {};
    std::string best;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        char target[512];
        const ssize_t n = ::readlink((dir + "/" + name).c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        const char* base = std::strrchr(target, '/');
        base = base ? base + 1 : target;
        // The smallest name, so that every program picks the same of the disk's links.
        if (kernelName == base && (best.empty() || name < best)) best = name;
    }
    ::closedir(d);
    return best;
}

std::uint64_t fnv1a(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

std::string sanitiseLockId(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        out += ok ? c : '_';
    }
    // No hidden files, no "." or "..".
    if (!out.empty() && out.front() == '.') out.front() = '_';
    if (out.size() > kMaxLockIdLength) {
        char tail[24];
        std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(fnv1a(raw)));
        out.resize(kMaxLockIdLength - std::strlen(tail));
        out += tail;
    }
    return out;
}

std::string stableDiskId(const std::string& sysRoot, const std::string& devRoot, const std::string& udevDataRoot,
                         const std::string& kernelName) {
    const std::string block = sysRoot + "/block/" + kernelName;
    for (const std::string& path : {block + "/device/wwid", block + "/wwid"}) {
        const std::string wwid = attribute(path);
        if (!wwid.empty()) return sanitiseLockId("wwid-" + wwid);
    }
    std::string serial = attribute(block + "/device/serial");
    if (serial.empty()) serial = attribute(block + "/serial");
    if (!serial.empty())
        return sanitiseLockId("serial-" + attribute(block + "/device/vendor") + "_" +
                              attribute(block + "/device/model") + "_" + serial);
    const std::string udev = udevSerial(udevDataRoot, attribute(block + "/dev"));
    if (!udev.empty()) return sanitiseLockId("udev-" + udev);
    const std::string link = byIdName(devRoot, kernelName);
    if (!link.empty()) return sanitiseLockId("id-" + link);
    return sanitiseLockId("name-" + kernelName);
}

FlockDriveLocks::FlockDriveLocks(std::string folder, std::function<std::optional<std::string>(int)> idOf)
    : folder_(std::move(folder)), idOf_(std::move(idOf)) {}

FlockDriveLocks::~FlockDriveLocks() { releaseAll(); }

std::string FlockDriveLocks::lockPath(const std::string& id) const {
    return folder_ + "/" + sanitiseLockId(id) + ".lock";
}

DriveLockResult FlockDriveLocks::open(const std::string& id, int& fd) const {
    auto unavailable = [](std::string why) { return DriveLockResult{DriveLockState::Unavailable, std::move(why)}; };
    if (::mkdir(folder_.c_str(), 0755) != 0 && errno != EEXIST)
        return unavailable("cannot create the lock folder " + folder_ + ": " + std::strerror(errno));
    // The folder by a descriptor, so the file is made where the folder was checked.
    const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return unavailable("cannot open the lock folder " + folder_ + ": " + std::strerror(errno));
    const std::string file = sanitiseLockId(id) + ".lock";
    // O_NOFOLLOW: a link planted under the lock's name must not make us create or lock
    // a file of someone else's choosing. O_NONBLOCK: nor may a FIFO hang us.
    fd = ::openat(dir, file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
    const int openError = errno;
    ::close(dir);
    const std::string path = folder_ + "/" + file;
    if (fd < 0) return unavailable("cannot open the lock file " + path + ": " + std::strerror(openError));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fd = -1;
        return unavailable("the lock file " + path + " is no regular file");
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return {DriveLockState::Taken, {}};
    const int lockError = errno;
    ::close(fd);
    fd = -1;
    if (lockError == EWOULDBLOCK) return {DriveLockState::Busy, {}};
    return unavailable("cannot lock " + path + ": " + std::strerror(lockError));
}

DriveLockResult FlockDriveLocks::take(int drive) {
    const std::optional<std::string> raw = idOf_(drive);
    if (!raw) return {DriveLockState::Unavailable, "no drive " + std::to_string(drive)};
    const std::string id = sanitiseLockId(*raw);
    std::lock_guard lock(mu_);
    auto it = held_.find(drive);
    if (it != held_.end() && it->second.id == id) return {DriveLockState::Taken, {}};
    // Drive numbers follow plug order: a disk we hold may now have another number.
    // Its lock moves with it; opening the file again would find our own lock.
    for (auto other = held_.begin(); other != held_.end(); ++other) {
        if (other->first == drive || other->second.id != id) continue;
        Held moved = other->second;
        held_.erase(other);
        if (it != held_.end()) ::close(it->second.fd);
        held_[drive] = moved;
        return {DriveLockState::Taken, {}};
    }
    if (it != held_.end()) {
        // Another disk took this number: its lock is not this one.
        ::close(it->second.fd);
        held_.erase(it);
    }
    int fd = -1;
    DriveLockResult result = open(id, fd);
    if (result.state == DriveLockState::Taken) held_[drive] = Held{id, fd};
    return result;
}

void FlockDriveLocks::release(int drive) {
    std::lock_guard lock(mu_);
    auto it = held_.find(drive);
    if (it == held_.end()) return;
    // The file stays: deleting it would let two programs lock two different files.
    ::close(it->second.fd);
    held_.erase(it);
}

void FlockDriveLocks::releaseAll() {
    std::lock_guard lock(mu_);
    for (auto& [drive, h] : held_) ::close(h.fd);
    held_.clear();
}

bool FlockDriveLocks::held(int drive) const {
    std::lock_guard lock(mu_);
    return held_.count(drive) != 0;
}

std::unique_ptr<DriveLockPort> makeDriveLocks(std::shared_ptr<LinuxDiskTable> table, std::string folder,
                                              std::string udevDataRoot) {
    return std::make_unique<FlockDriveLocks>(
        std::move(folder), [table, udevDataRoot](int drive) -> std::optional<std::string> {
            if (drive < 0) return std::nullopt;
            table->refreshDisks();
            auto disk = table->disk(static_cast<std::size_t>(drive));
            if (!disk) return std::nullopt;
            return stableDiskId(table->sysRoot(), table->devRoot(), udevDataRoot, disk->name);
        });
}

}  // namespace raid::linuxport

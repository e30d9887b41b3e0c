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

#include "platform/Fnv1a.h"
#include "platform/linux/LinuxSafeFolder.h"

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

FlockDriveLocks::FlockDriveLocks(std::string folder, std::function<std::optional<std::string>(int)> idOf,
                                 bool rootProgram)
    : folder_(std::move(folder)), idOf_(std::move(idOf)), rootProgram_(rootProgram) {}

FlockDriveLocks::~FlockDriveLocks() { releaseAll(); }

std::string FlockDriveLocks::lockPath(const std::string& id) const {
    return folder_ + "/" + sanitiseLockId(id) + ".lock";
}

namespace {

constexpr mode_t kLockMode = 0600;
constexpr int kLockFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
// Taken while an untrusted lock file is replaced. No lock file's name starts with '.'.
constexpr const char* kReplaceGuard = ".replace.guard";

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool trusted(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == kLockMode;
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Opens `name` in `dir` for locking, making it (exactly kLockMode) when it is missing.
// -1 with errno; EEXIST when another program made it between the two steps.
int openOrCreate(int dir, const std::string& name) {
    const int fd = ::openat(dir, name.c_str(), kLockFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    UniqueFd made(createExclusive(dir, name, kLockMode, O_RDWR | O_NONBLOCK));
    if (!made) return -1;
    // The umask may have taken more than asked; the file is ours, made just now.
    if (::fchmod(made.get(), kLockMode) != 0) {
        const int error = errno;
        ::unlinkat(dir, name.c_str(), 0);
        errno = error;
        return -1;
    }
    return made.release();
}

bool tryLock(int fd, int& error) {
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    error = rc == 0 ? 0 : errno;
    return rc == 0;
}

}  // namespace

bool FlockDriveLocks::replaceUntrusted(int dir, const std::string& file, const struct stat& seen,
                                       std::string& why) const {
    // Two programs replacing one file at once could each delete the file the other
    // has just made, and each would then hold a lock on a file of its own. So the
    // replacement happens under a lock of its own, on a file only this user can open.
    const std::string guardPath = folder_ + "/" + kReplaceGuard;
    UniqueFd guard;
    for (int attempt = 0; attempt < 2 && !guard; ++attempt) guard.reset(openOrCreate(dir, kReplaceGuard));
    if (!guard) {
        why = "cannot open " + guardPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(guard.get(), &st) != 0 || !trusted(st)) {
        why = "the file " + guardPath + " has another owner or mode: remove it";
        return false;
    }
    // Its holders are programs of this user that replace a file: a few calls long.
    int error = 0;
    for (int wait = 0; !tryLock(guard.get(), error); ++wait) {
        if (error != EWOULDBLOCK || wait >= 500) {
            why = "cannot lock " + guardPath + ": " + std::strerror(error);
            return false;
        }
        ::usleep(10'000);
    }
    // Only the very file found untrusted is deleted, never one made meanwhile. It is
    // still open here, so its inode cannot have been given to another file.
    struct stat now {};
    if (::fstatat(dir, file.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, seen) &&
        ::unlinkat(dir, file.c_str(), 0) != 0) {
        why = "cannot replace the lock file " + folder_ + "/" + file + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

DriveLockResult FlockDriveLocks::open(const std::string& id, int& fd) {
    fd = -1;
    const DriveLockState cannot = rootProgram_ ? DriveLockState::Unavailable : DriveLockState::Refused;
    auto fail = [cannot](std::string why) { return DriveLockResult{cannot, std::move(why), {}}; };
    // The folder by a descriptor, so every file is made and checked where the folder was.
    const OpenedFolder dir = openWritableFolder(folder_, 0755);
    if (!dir) return fail(dir.error != 0 ? "cannot open the lock folder " + folder_ + ": " + dir.problem : dir.problem);
    const std::string file = sanitiseLockId(id) + ".lock";
    const std::string path = folder_ + "/" + file;
    std::string note;
    for (int attempt = 0; attempt < 8; ++attempt) {
        // O_NOFOLLOW: a link planted under the lock's name must not make us create or lock
        // a file of someone else's choosing. O_NONBLOCK: nor may a FIFO hang us.
        UniqueFd lock(openOrCreate(dir.fd.get(), file));
        if (!lock && errno == EEXIST) continue;  // another program made it just now
        if (!lock) return fail("cannot open the lock file " + path + ": " + std::strerror(errno));
        struct stat st {};
        if (::fstat(lock.get(), &st) != 0)
            return fail("cannot open the lock file " + path + ": " + std::strerror(errno));
        if (!S_ISREG(st.st_mode)) return fail("the lock file " + path + " is no regular file");
        if (!trusted(st)) {
            // Whoever else can open the file can hold its lock for ever.
            std::string why;
            if (!replaceUntrusted(dir.fd.get(), file, st, why)) return fail(why);
            if (replacedTold_.insert(path).second)
                note = "Lock file " + path + " had another owner or mode (uid " + std::to_string(st.st_uid) +
                       ", mode " + modeText(st.st_mode) + "): replaced";
            continue;
        }
        int error = 0;
        if (!tryLock(lock.get(), error)) {
            if (error == EWOULDBLOCK) return {DriveLockState::Busy, {}, note};
            return fail("cannot lock " + path + ": " + std::strerror(error));
        }
        // A file replaced by another program meanwhile is no longer under the name: its
        // lock would exclude nobody.
        struct stat now {};
        if (::fstatat(dir.fd.get(), file.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(now, st)) continue;
        fd = lock.release();
        return {DriveLockState::Taken, {}, note};
    }
    return fail("the lock file " + path + " keeps changing");
}

DriveLockResult FlockDriveLocks::take(int drive) {
    const std::optional<std::string> raw = idOf_(drive);
    if (!raw) return {DriveLockState::Unavailable, "no drive " + std::to_string(drive), {}};
    const std::string id = sanitiseLockId(*raw);
    std::lock_guard lock(mu_);
    auto it = held_.find(drive);
    if (it != held_.end() && it->second.id == id) return {DriveLockState::Taken, {}, {}};
    // Drive numbers follow plug order: a disk we hold may now have another number.
    // Its lock moves with it; opening the file again would find our own lock.
    for (auto other = held_.begin(); other != held_.end(); ++other) {
        if (other->first == drive || other->second.id != id) continue;
        Held moved = other->second;
        held_.erase(other);
        if (it != held_.end()) ::close(it->second.fd);
        held_[drive] = moved;
        return {DriveLockState::Taken, {}, {}};
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

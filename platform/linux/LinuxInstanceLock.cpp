#include "platform/linux/LinuxInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/linux/LinuxDriveLocks.h"
#include "platform/linux/LinuxSafeFolder.h"

namespace raid::linuxport {
namespace {

// The name becomes one path component; slashes would reach into other folders.
std::string fileComponent(const std::string& name) {
    std::string out = name.empty() ? std::string("instance") : name;
    for (char& c : out)
        if (c == '/' || c == '\0') c = '_';
    if (out == "." || out == "..") out = "_" + out;
    return out;
}

}  // namespace

LinuxInstanceLock::LinuxInstanceLock(std::string directory) : directory_(std::move(directory)) {}

LinuxInstanceLock::~LinuxInstanceLock() { release(); }

std::string LinuxInstanceLock::lockPath(const std::string& name) const {
    const std::string file = fileComponent(name);
    if (!directory_.empty()) return directory_ + "/" + file + ".lock";
    // The session's runtime folder only when it is what it claims to be: a folder
    // of ours. A stale or foreign value must not make every start look like a
    // second instance (open would fail) or put the lock where others control it.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == ::geteuid())
        return std::string(runtime) + "/" + file + ".lock";
    // Root makes no file where others can write (anyone could make the name first and
    // keep the window from ever starting): root's own folder of the drive locks.
    if (::geteuid() == 0) return std::string(kDefaultLockFolder) + "/" + file + "-0.lock";
    return "/tmp/" + file + "-" + std::to_string(::geteuid()) + ".lock";
}

bool LinuxInstanceLock::acquire(const std::string& name) {
    if (fd_ >= 0) return true;
    const std::string path = lockPath(name);
    // O_NOFOLLOW: in a shared folder such as /tmp another user could plant a
    // symlink under our name and have us create or lock a file of their choosing.
    constexpr int kFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    int fd = -1;
    if (::geteuid() == 0) {
        // A root program's files go only into a folder nobody else can write.
        const OpenedFolder dir = openWritableFolder(folderOf(path), 0755);
        if (!dir) return false;
        fd = ::openat(dir.fd.get(), nameOf(path).c_str(), kFlags, 0600);
    } else {
        fd = ::open(path.c_str(), kFlags, 0600);
    }
    if (fd < 0) return false;
    struct stat st {};
    // A file someone else made in advance is not ours to trust: they could hold the
    // lock for ever or read who we are. We never write into the file, so even a
    // hard link to a file of ours is left intact.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void LinuxInstanceLock::release() {
    // The file stays: removing it would let a starting instance lock a fresh file
    // while a third one still waits on the old, unlinked one.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::unique_ptr<InstanceLock> makeInstanceLock() { return std::make_unique<LinuxInstanceLock>(); }

}  // namespace raid::linuxport

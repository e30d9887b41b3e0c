// Single-instance lock for one user's desktop session.
#pragma once

#include <memory>
#include <string>

#include "platform/InstanceLock.h"

namespace raid::linuxport {

// An flock() on a lock file: the kernel drops it when the holder exits in any way,
// so a crashed instance never keeps later starts out. The file lives in
// $XDG_RUNTIME_DIR (per user, per session) as "<name>.lock", or when that is not
// set (or not a folder of ours) in /tmp as "<name>-<uid>.lock"; for root, which
// makes no file where others can write, in /run/raid-gui as "<name>-0.lock".
class LinuxInstanceLock final : public InstanceLock {
public:
    // directory empty: choose as described above at acquire() time; otherwise the
    // lock file is "<directory>/<name>.lock".
    explicit LinuxInstanceLock(std::string directory = {});
    ~LinuxInstanceLock() override;
    LinuxInstanceLock(const LinuxInstanceLock&) = delete;
    LinuxInstanceLock& operator=(const LinuxInstanceLock&) = delete;

    bool acquire(const std::string& name) override;
    void release() override;

    // Where acquire(name) puts the lock file.
    std::string lockPath(const std::string& name) const;

private:
    std::string directory_;
    int fd_ = -1;
};

std::unique_ptr<InstanceLock> makeInstanceLock();

}  // namespace raid::linuxport

#include "platform/linux/LinuxSettingsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/FileStore.h"
#include "platform/RegistryTextFile.h"
#include "platform/linux/LinuxSafeFolder.h"

namespace raid {

namespace {

std::string errorText(int err) { return std::strerror(err); }

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An exclusive flock on the settings folder while a save reads, edits and renames, so
// that two programs saving at once do not both start from the same text. It waits a
// few seconds at most: a lock someone else holds on for good must not stop the save
// (without the lock it is only as exposed as between two quick saves).
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            ::usleep(50'000);
        }
        ::close(fd_);
        fd_ = -1;
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

class SettingsFile final : public RegistryTextFile {
public:
    explicit SettingsFile(std::string path) : RegistryTextFile(std::move(path)) {}

private:
    std::shared_ptr<void> lockForSave() override { return std::make_shared<FolderLock>(folderOf(path())); }

    // Never through a link: what is at the path is what is replaced.
    std::string refuseSave() override {
        struct stat st {};
        if (::lstat(path().c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return path() + ": not a regular file; it is not written over, and nothing was saved";
        return {};
    }

    // The new content beside the file, flushed, then renamed over it. Only into a
    // folder nobody else can write, and only through a new file of our own.
    std::string store(const std::string& text) override {
        // A folder made for the settings is the owner's alone: the file holds the
        // password record.
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(linuxport::folderOf(path()), 0700);
        if (!dir) return dir.problem;
        const std::string name = linuxport::nameOf(path());
        if (name.empty() || name == "." || name == "..") return path() + ": not a regular file";
        std::string temp;
        int fd = linuxport::createUnique(dir.fd.get(), name, ".tmp", 0600, temp);
        if (fd < 0) return errorText(errno);
        int err = 0;
        // The umask may have widened nothing, but make sure: the file is ours, made just now.
        if (::fchmod(fd, 0600) != 0) err = errno;
        std::size_t done = 0;
        while (err == 0 && done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                err = errno;
            } else {
                done += static_cast<std::size_t>(n);
            }
        }
        if (err == 0 && ::fsync(fd) != 0) err = errno;
        if (::close(fd) != 0 && err == 0) err = errno;
        if (err == 0) {
            struct stat st {};
            if (::fstatat(dir.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
                ::unlinkat(dir.fd.get(), temp.c_str(), 0);
                return path() + ": not a regular file";
            }
            if (::renameat(dir.fd.get(), temp.c_str(), dir.fd.get(), name.c_str()) != 0) err = errno;
        }
        if (err != 0) {
            ::unlinkat(dir.fd.get(), temp.c_str(), 0);
            return errorText(err);
        }
        // The rename itself reaches the disk with the folder.
        (void)::fsync(dir.fd.get());
        return "";
    }

};

}  // namespace

std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path) { return std::make_unique<SettingsFile>(path); }

std::string userSettingsPath(std::string_view xdgConfigHome, std::string_view home, std::string_view program) {
    std::string base;
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/')
        base = std::string(xdgConfigHome);
    else if (!home.empty() && home.front() == '/')
        base = std::string(home) + "/.config";
    else
        return "";
    return base + "/" + std::string(program) + "/settings.reg";
}

}  // namespace raid

#include "platform/linux/LinuxSafeFolder.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <deque>

namespace raid::linuxport {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// As many links as the kernel itself follows in one path.
constexpr int kMaxLinks = 40;

// The components of `path` in front of `rest`, in order.
void prependComponents(std::deque<std::string>& rest, std::string_view path) {
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        if (end > at) parts.emplace_back(path.substr(at, end - at));
        at = end + 1;
    }
    rest.insert(rest.begin(), parts.begin(), parts.end());
}

bool trustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

OpenedFolder failed(int error) {
    OpenedFolder out;
    out.error = error;
    out.problem = std::strerror(error);
    return out;
}

OpenedFolder refused(std::string why) {
    OpenedFolder out;
    out.problem = std::move(why);
    return out;
}

// The folder at `path`, reached component by component without following a link
// that neither root nor this process's user made.
OpenedFolder walk(const std::string& path, mode_t createMode) {
    if (path.empty()) return failed(ENOENT);
    UniqueFd at(::open(path.front() == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!at) return failed(errno);
    // The folder reached so far, for the messages.
    std::string walked = path.front() == '/' ? "" : ".";
    std::deque<std::string> rest;
    prependComponents(rest, path);
    int links = 0;
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == ".") continue;
        int fd = ::openat(at.get(), name.c_str(), kFolderFlags);
        if (fd < 0 && errno == ENOENT && createMode != 0) {
            // Making a folder is writing into its parent: only into one of our own, or
            // one with the sticky bit (/tmp), where nobody else can move our new folder.
            struct stat parent {};
            if (::fstat(at.get(), &parent) != 0) return failed(errno);
            std::string why = folderRefusal(parent, walked.empty() ? "/" : walked);
            if (!why.empty() && !(trustedOwner(parent.st_uid) && (parent.st_mode & S_ISVTX)))
                return refused(std::move(why));
            if (::mkdirat(at.get(), name.c_str(), createMode) == 0 || errno == EEXIST)
                fd = ::openat(at.get(), name.c_str(), kFolderFlags);
        }
        if (fd >= 0) {
            at.reset(fd);
            walked += "/" + name;
            continue;
        }
        const int error = errno;
        struct stat link {};
        if ((error != ELOOP && error != ENOTDIR) ||
            ::fstatat(at.get(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode))
            return failed(error);
        if (!trustedOwner(link.st_uid))
            return refused("the folder " + path + " is reached through a link of another user (" + name + ", uid " +
                           std::to_string(link.st_uid) + ")");
        if (++links > kMaxLinks) return failed(ELOOP);
        char target[PATH_MAX];
        const ssize_t n = ::readlinkat(at.get(), name.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return failed(n < 0 ? errno : ENAMETOOLONG);
        const std::string_view to(target, static_cast<std::size_t>(n));
        if (to.front() == '/') {
            at.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!at) return failed(errno);
            walked.clear();
        }
        prependComponents(rest, to);
    }
    OpenedFolder out;
    out.fd = std::move(at);
    return out;
}

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

std::string folderRefusal(const struct stat& st, const std::string& path) {
    if (!S_ISDIR(st.st_mode)) return path + " is not a folder";
    if (!trustedOwner(st.st_uid))
        return "the folder " + path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    const mode_t others = ::geteuid() == 0 ? (S_IWGRP | S_IWOTH) : S_IWOTH;
    if (st.st_mode & others) return "the folder " + path + " can be written by other users";
    return "";
}

OpenedFolder openWritableFolder(const std::string& path, mode_t createMode) {
    OpenedFolder out = walk(path, createMode);
    if (!out) return out;
    struct stat st {};
    if (::fstat(out.fd.get(), &st) != 0) return failed(errno);
    std::string why = folderRefusal(st, path);
    if (!why.empty()) return refused(std::move(why));
    return out;
}

OpenedFolder openFolderForReading(const std::string& path, bool& trusted) {
    trusted = false;
    OpenedFolder out = walk(path, 0);
    if (!out) return out;
    struct stat st {};
    if (::fstat(out.fd.get(), &st) != 0) return failed(errno);
    trusted = folderRefusal(st, path).empty();
    return out;
}

int createExclusive(int dir, const std::string& name, mode_t mode, int flags) {
    return ::openat(dir, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
}

int createUnique(int dir, std::string_view stem, std::string_view suffix, mode_t mode, std::string& name, int flags) {
    static std::atomic<unsigned long long> counter{0};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 64; ++attempt) {
        unsigned long long bits = 0;
        if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
            // No entropy yet (early boot): unique enough within this machine's processes.
            bits = (static_cast<unsigned long long>(::getpid()) << 32) ^ counter.fetch_add(1) ^
                   static_cast<unsigned long long>(std::time(nullptr)) * 0x9E3779B97F4A7C15ull;
        }
        std::string random(10, 'x');
        for (char& c : random) {
            c = letters[bits % (sizeof letters - 1)];
            bits /= sizeof letters - 1;
        }
        name = std::string(stem) + "." + random + std::string(suffix);
        const int fd = createExclusive(dir, name, mode, flags);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace raid::linuxport

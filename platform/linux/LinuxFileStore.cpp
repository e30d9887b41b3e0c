// The real file store on POSIX. Every path is checked to be a regular file before it
// is opened (stat follows symlinks, so a link to /dev/zero counts as the device it
// names), opened with O_NONBLOCK, and checked again with fstat on the open handle, so
// neither a FIFO nor a device in the log's place can block the program or feed it
// endless data, and nothing is ever written into one.
//
// Files are written only into a folder that nobody but root or this process's user
// can write (platform/linux/LinuxSafeFolder.h), and never through a link: a new file
// is made exclusively, an existing one opened without following a link, a replaced
// one written as a new file of ours and renamed over the name. Files are read so too
// from a folder others can write: a link planted there is not followed, so that its
// target's content never reaches a file this program writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/FileStore.h"
#include "platform/linux/LinuxSafeFolder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Closes the descriptor when it goes out of scope unless closed explicitly first
// (an explicit close reports the error a delayed write can show only there).
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view data) {
    const char* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Folders made on the way to a file: others may read them (the day logs are read by
// whoever may read the folder), nobody else may write them.
constexpr mode_t kFolderMode = 0755;

// A file's name inside its folder; empty for paths that name no file.
std::string fileName(const std::string& path) {
    std::string name = linuxport::nameOf(path);
    if (name == "." || name == "..") name.clear();
    return name;
}

// Opens `path` for reading when it is a regular file of at most `limit` bytes: checked
// by name before the open (so a FIFO is never opened) and by handle after it (the name
// may have changed in between). The descriptor, or -1 with `status` saying why; `st`
// describes the open file. With `ownFolder` the file is looked for as the files this
// program writes are: in a folder others can write, a link under the name is not
// followed (notRegular).
int openRegular(const std::string& path, std::size_t limit, struct stat& st, ReadStatus& status, bool ownFolder) {
    linuxport::UniqueFd folder;
    std::string name = path;
    int noFollow = 0;
    if (ownFolder) {
        bool trusted = false;
        linuxport::OpenedFolder dir = linuxport::openFolderForReading(linuxport::folderOf(path), trusted);
        if (!dir) {
            status = (dir.error == ENOENT || dir.error == ENOTDIR) ? ReadStatus::missing : ReadStatus::unreadable;
            return -1;
        }
        folder = std::move(dir.fd);
        name = linuxport::nameOf(path);
        if (name.empty()) name.push_back('.');
        if (!trusted) noFollow = O_NOFOLLOW;
    }
    const int at = ownFolder ? folder.get() : AT_FDCWD;
    if (::fstatat(at, name.c_str(), &st, noFollow ? AT_SYMLINK_NOFOLLOW : 0) != 0) {
        status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::missing : ReadStatus::unreadable;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        status = ReadStatus::notRegular;
        return -1;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        status = ReadStatus::tooLarge;
        return -1;
    }
    const int fd = ::openat(at, name.c_str(), O_RDONLY | kOpenFlags | noFollow);
    if (fd < 0) {
        status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::missing
                 : errno == ELOOP                      ? ReadStatus::notRegular
                                                       : ReadStatus::unreadable;
        return -1;
    }
    status = ReadStatus::unreadable;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        status = ReadStatus::notRegular;
        ::close(fd);
        return -1;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        status = ReadStatus::tooLarge;
        ::close(fd);
        return -1;
    }
    status = ReadStatus::ok;
    return fd;
}

class PosixReader final : public FileReader {
public:
    PosixReader(int fd, std::uint64_t length) : fd_(fd), length_(length) {}
    std::uint64_t length() const override { return length_; }
    int descriptor() const override { return fd_.get(); }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
        if (offset >= length_) return 0;
        const std::uint64_t left = length_ - offset;
        if (count > left) count = static_cast<std::size_t>(left);
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return std::nullopt;
        for (;;) {
            const ssize_t n = ::pread(fd_.get(), dest, count, static_cast<off_t>(offset));
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) return std::nullopt;
        }
    }

private:
    Descriptor fd_;
    std::uint64_t length_;
};

class PosixFileStore final : public FileStore {
public:
    bool exists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    std::optional<std::uint64_t> size(const std::string& path) override {
        // The file an append would write: a link is none (appends never go through one),
        // so a caller that checks the length before appending replaces the name instead.
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return static_cast<std::uint64_t>(st.st_size);
    }

    std::optional<std::string> readAll(const std::string& path) override {
        BoundedRead r = readBounded(path, std::numeric_limits<std::size_t>::max() / 2);
        if (r.status != ReadStatus::ok) return std::nullopt;
        return std::move(r.text);
    }

    BoundedRead readBounded(const std::string& path, std::size_t limit) override {
        BoundedRead r;
        struct stat st {};
        const int fd = openRegular(path, limit, st, r.status, true);
        if (fd < 0) return r;
        Descriptor guard(fd);
        std::string text;
        text.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[65536];
        for (;;) {
            // One byte past the limit is enough to know that a growing file went over it.
            const std::size_t room = limit - text.size();  // text.size() <= limit here
            const std::size_t want = room >= sizeof buffer ? sizeof buffer : room + 1;
            const ssize_t n = ::read(fd, buffer, want);
            if (n < 0) {
                if (errno == EINTR) continue;
                r.status = ReadStatus::unreadable;
                return r;
            }
            if (n == 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > limit) {
                r.status = ReadStatus::tooLarge;
                return r;
            }
        }
        r.status = ReadStatus::ok;
        r.text = std::move(text);
        return r;
    }

    OpenedFile openForRead(const std::string& path, std::size_t limit) override {
        OpenedFile f;
        struct stat st {};
        // An image the user picked: read where the user's path leads.
        const int fd = openRegular(path, limit, st, f.status, false);
        if (fd < 0) return f;
        f.reader = std::make_unique<PosixReader>(fd, static_cast<std::uint64_t>(st.st_size));
        return f;
    }

    bool append(const std::string& path, std::string_view data) override {
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(linuxport::folderOf(path), kFolderMode);
        const std::string name = fileName(path);
        if (!dir || name.empty()) return false;
        struct stat st {};
        bool created = false;
        int fd = -1;
        if (::fstatat(dir.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            // A link is not written through, whatever it leads to.
            if (!S_ISREG(st.st_mode)) return false;
            fd = ::openat(dir.fd.get(), name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | kOpenFlags);
        } else if (errno == ENOENT) {
            fd = linuxport::createExclusive(dir.fd.get(), name, 0666, O_WRONLY | O_APPEND | O_NONBLOCK);
            created = true;
        }
        if (fd < 0) return false;
        Descriptor guard(fd);
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        const off_t before = st.st_size;
        // On the disk before the call returns: the day log's lines and the history's
        // samples survive a power cut once appended (Windows flushes the same way).
        if (writeAll(fd, data) && ::fdatasync(fd) == 0 && guard.close()) return true;
        // A full disk can leave part of the data behind. Cut it off again so the file
        // keeps exactly what it held: the next save can then still just append.
        if (created && before == 0) {
            ::unlinkat(dir.fd.get(), name.c_str(), 0);
        } else if (guard.get() >= 0) {
            (void)::ftruncate(fd, before);
        } else {
            Descriptor again(::openat(dir.fd.get(), name.c_str(), O_WRONLY | O_NOFOLLOW | kOpenFlags));
            struct stat now {};
            if (again.get() >= 0 && ::fstat(again.get(), &now) == 0 && now.st_dev == st.st_dev &&
                now.st_ino == st.st_ino)
                (void)::ftruncate(again.get(), before);
        }
        return false;
    }

    bool replace(const std::string& path, std::string_view data) override {
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(linuxport::folderOf(path), kFolderMode);
        const std::string name = fileName(path);
        if (!dir || name.empty()) return false;
        // The name itself is replaced, so a link there (one of our own: nobody else can
        // write the folder) is replaced, never written through; what it leads to must
        // still be a regular file or nothing.
        struct stat st {};
        bool existed = false;
        if (::fstatat(dir.fd.get(), name.c_str(), &st, 0) == 0) {
            if (!S_ISREG(st.st_mode)) return false;
            existed = true;
        } else if (errno != ENOENT) {
            return false;
        }
        std::string temp;
        const int fd = linuxport::createUnique(dir.fd.get(), name, ".tmp", 0666, temp);
        if (fd < 0) return false;
        bool ok = false;
        {
            Descriptor guard(fd);
            // The new content keeps the permissions the old file had, set on our own
            // new file (the set-id bits never).
            if (existed) (void)::fchmod(fd, st.st_mode & 0777);
            // Flushed before the rename: after a power cut the name shows the old
            // content or the new one, never an empty file.
            ok = writeAll(fd, data) && ::fsync(fd) == 0 && guard.close();
        }
        if (ok) ok = ::renameat(dir.fd.get(), temp.c_str(), dir.fd.get(), name.c_str()) == 0;
        if (!ok) ::unlinkat(dir.fd.get(), temp.c_str(), 0);
        return ok;
    }

    CreateResult createNew(const std::string& path, std::string_view data, unsigned mode) override {
        // Only into a folder nobody else can write, reached without another user's link;
        // the file is made exclusively, so whatever stands at the name (a file, a FIFO, a
        // link, even one whose target is missing) is left alone.
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(linuxport::folderOf(path));
        if (!dir) return CreateResult::failed;
        const std::string name = linuxport::nameOf(path);
        const int fd = linuxport::createExclusive(dir.fd.get(), name, mode == 0644 ? 0644 : 0600);
        if (fd < 0) return errno == EEXIST ? CreateResult::exists : CreateResult::failed;
        bool ok = false;
        {
            Descriptor guard(fd);
            ok = writeAll(fd, data) && ::fsync(fd) == 0 && guard.close();
        }
        if (ok) return CreateResult::created;
        // The file is this call's own: a half-written one would pass for a whole one.
        ::unlinkat(dir.fd.get(), name.c_str(), 0);
        return CreateResult::failed;
    }

    bool remove(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
        if (!S_ISREG(st.st_mode)) return false;
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    }

    bool folderWritable(const std::string& folder) override {
        // A folder others can write is not written at all.
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(folder);
        if (!dir) return false;
        // Permission bits say little (ACLs, read-only mounts, a full disk's reserve):
        // creating a file is the only question that gets a true answer.
        std::string probe;
        const int fd = linuxport::createUnique(dir.fd.get(), ".raid-gui-write-probe", ".tmp", 0600, probe);
        if (fd < 0) return false;
        ::close(fd);
        ::unlinkat(dir.fd.get(), probe.c_str(), 0);
        return true;
    }

    bool makeFolder(const std::string& folder) override {
        // The same walk every write takes: missing folders are made only inside one
        // that root or this user owns and nobody else can write (or a sticky one like
        // /tmp), never through another user's link, and the folder must pass the same
        // check as any folder written into.
        return static_cast<bool>(linuxport::openWritableFolder(folder, ::geteuid() == 0 ? 0755 : 0700));
    }

    std::optional<std::vector<std::string>> listFolder(const std::string& folder) override {
        // Names only: nothing in the folder is opened or followed.
        std::error_code ec;
        fs::directory_iterator it(folder.empty() ? std::string(".") : folder, ec);
        if (ec) return std::nullopt;
        std::vector<std::string> names;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) return std::nullopt;
            names.push_back(it->path().filename().string());
        }
        if (ec) return std::nullopt;
        return names;
    }
};

}  // namespace

std::unique_ptr<FileStore> makeStdFileStore() { return std::make_unique<PosixFileStore>(); }

LogFolders defaultLogFolders(const char* argv0) {
    LogFolders folders;
    // The kernel knows where the executable is even when it was started through PATH,
    // where argv[0] is a bare name that says nothing about its folder.
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.is_absolute()) {
        exe.clear();
        if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr) {
            const fs::path p = fs::weakly_canonical(fs::absolute(argv0, ec), ec);
            if (!ec) exe = p;
        }
    }
    folders.log = exe.has_parent_path() ? exe.parent_path().string() : std::string(".");
    const char* service = std::getenv("STATE_DIRECTORY");
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    folders.fallback = fallbackLogFolder(service ? service : "", state ? state : "", home ? home : "");
    return folders;
}

}  // namespace raid

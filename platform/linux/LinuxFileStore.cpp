// The real file store on POSIX. Every path is checked to be a regular file before it
// is opened (stat follows symlinks, so a link to /dev/zero counts as the device it
// names), opened with O_NONBLOCK, and checked again with fstat on the open handle, so
// neither a FIFO nor a device in the log's place can block the program or feed it
// endless data, and nothing is ever written into one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/FileStore.h"

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

enum class Kind { missing, regular, other, error };

Kind kindOf(const std::string& path, struct stat& st) {
    if (::stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode) ? Kind::regular : Kind::other;
    return (errno == ENOENT || errno == ENOTDIR) ? Kind::missing : Kind::error;
}

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

void makeParent(const std::string& path) {
    const fs::path p(path);
    std::error_code ec;
    if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
}

// A new file beside `base` that nobody else can have opened: O_EXCL refuses whatever
// already stands there (a stale temp file, a FIFO, a symlink). The mode is left to the
// umask, as for any file the user's programs create.
int createUnique(const std::string& base, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = base + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Opens `path` for reading when it is a regular file of at most `limit` bytes: checked
// by name before the open (so a FIFO is never opened) and by handle after it (the name
// may have changed in between). The descriptor, or -1 with `status` saying why; `st`
// describes the open file.
int openRegular(const std::string& path, std::size_t limit, struct stat& st, ReadStatus& status) {
    switch (kindOf(path, st)) {
        case Kind::missing: status = ReadStatus::missing; return -1;
        case Kind::other: status = ReadStatus::notRegular; return -1;
        case Kind::error: status = ReadStatus::unreadable; return -1;
        case Kind::regular: break;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        status = ReadStatus::tooLarge;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | kOpenFlags);
    if (fd < 0) {
        status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::missing : ReadStatus::unreadable;
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
        struct stat st {};
        if (kindOf(path, st) != Kind::regular) return std::nullopt;
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
        const int fd = openRegular(path, limit, st, r.status);
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
        const int fd = openRegular(path, limit, st, f.status);
        if (fd < 0) return f;
        f.reader = std::make_unique<PosixReader>(fd, static_cast<std::uint64_t>(st.st_size));
        return f;
    }

    bool append(const std::string& path, std::string_view data) override {
        struct stat st {};
        const Kind kind = kindOf(path, st);
        if (kind == Kind::other || kind == Kind::error) return false;
        if (kind == Kind::missing) makeParent(path);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | kOpenFlags, 0666);
        if (fd < 0) return false;
        Descriptor guard(fd);
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        const off_t before = st.st_size;
        if (writeAll(fd, data) && guard.close()) return true;
        // A full disk can leave part of the data behind. Cut it off again so the file
        // keeps exactly what it held: the next save can then still just append.
        if (kind == Kind::missing && before == 0) {
            ::unlink(path.c_str());
        } else if (guard.get() >= 0) {
            (void)::ftruncate(fd, before);
        } else {
            (void)::truncate(path.c_str(), before);
        }
        return false;
    }

    bool replace(const std::string& path, std::string_view data) override {
        struct stat st {};
        const Kind kind = kindOf(path, st);
        if (kind == Kind::other || kind == Kind::error) return false;
        makeParent(path);
        std::string temp;
        const int fd = createUnique(path, temp);
        if (fd < 0) return false;
        bool ok = false;
        {
            Descriptor guard(fd);
            // The new content keeps the permissions the old file had.
            if (kind == Kind::regular) (void)::fchmod(fd, st.st_mode & 07777);
            // Flushed before the rename: after a power cut the name shows the old
            // content or the new one, never an empty file.
            ok = writeAll(fd, data) && ::fsync(fd) == 0 && guard.close();
        }
        if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
        if (!ok) ::unlink(temp.c_str());
        return ok;
    }

    CreateResult createNew(const std::string& path, std::string_view data, unsigned mode) override {
        // O_EXCL refuses whatever stands at the name, a link included (even one whose
        // target is missing); O_NOFOLLOW says the same for a link as the last part.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                              mode == 0644 ? 0644 : 0600);
        if (fd < 0) return errno == EEXIST ? CreateResult::exists : CreateResult::failed;
        bool ok = false;
        {
            Descriptor guard(fd);
            ok = writeAll(fd, data) && ::fsync(fd) == 0 && guard.close();
        }
        if (ok) return CreateResult::created;
        // The file is this call's own: a half-written one would pass for a whole one.
        ::unlink(path.c_str());
        return CreateResult::failed;
    }

    bool remove(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
        if (!S_ISREG(st.st_mode)) return false;
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    }

    bool folderWritable(const std::string& folder) override {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        // Permission bits say little (ACLs, read-only mounts, a full disk's reserve):
        // creating a file is the only question that gets a true answer.
        std::string probe;
        const int fd = createUnique((fs::path(folder) / ".raid-gui-write-probe").string(), probe);
        if (fd < 0) return false;
        ::close(fd);
        ::unlink(probe.c_str());
        return true;
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
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    folders.fallback = fallbackLogFolder(state ? state : "", home ? home : "");
    return folders;
}

}  // namespace raid

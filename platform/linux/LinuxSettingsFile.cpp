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
#include "platform/RegistryText.h"
#include "platform/linux/LinuxSafeFolder.h"

namespace raid {

namespace {


constexpr std::size_t kMaxSettingsFile = 1 << 20;

std::string lowerName(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

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

class SettingsFile final : public SettingsPort {
public:
    explicit SettingsFile(std::string path) : path_(std::move(path)) { load(); }

    bool keyExists() override { return exists_; }

    std::vector<std::string> valueNames() override {
        std::vector<std::string> n;
        for (const auto& e : values_) n.push_back(e.first);
        return n;
    }

    std::optional<RegValue> read(const std::string& name) override {
        for (const auto& e : values_)
            if (lowerName(e.first) == lowerName(name)) return e.second;
        return std::nullopt;
    }

    std::string update(const std::vector<SettingsUpdate>& updates) override {
        // One save at a time across programs, from reading to renaming.
        const FolderLock lock(folderOf(path_));
        // Never through a link: what is at the path is what is replaced.
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return path_ + ": not a regular file; it is not written over, and nothing was saved";
        // The file as it is now: another program may have saved since it was read.
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        if (r.status != ReadStatus::ok && r.status != ReadStatus::missing)
            return path_ + ": " + unreadable(r.status) + "; it is not written over, and nothing was saved";
        const std::string& text = r.text;
        const RegistryText now = parseRegistryText(text);
        const auto current = [&now](const std::string& name) -> std::optional<RegValue> {
            for (const auto& e : now.values)
                if (lowerName(e.first) == lowerName(name)) return e.second;
            return std::nullopt;
        };
        std::vector<std::pair<std::string, RegValue>> changes;
        for (const SettingsUpdate& u : updates) {
            const std::optional<RegValue> was = current(u.name);
            std::optional<RegValue> v = u.value(was);
            if (v && !(was && *was == *v)) changes.emplace_back(u.name, std::move(*v));
        }
        if (changes.empty()) {
            adopt(now, r.status == ReadStatus::ok);
            return "";
        }
        const std::string next = editRegistryText(text, changes);
        // What is written must read back: never a file the next start refuses.
        if (next.size() > kMaxSettingsFile)
            return path_ + ": the settings would grow larger than 1 MiB; nothing was saved";
        const RegistryText saved = parseRegistryText(next);
        for (const auto& [name, v] : changes) {
            bool back = false;
            for (const auto& e : saved.values) back = back || (lowerName(e.first) == lowerName(name) && e.second == v);
            if (!back) return path_ + ": \"" + name + "\" would not read back from the file; nothing was saved";
        }
        const std::string error = store(next);
        if (!error.empty()) return error;
        adopt(saved, true);
        return "";
    }

    std::vector<std::string> reread() override {
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        if (r.status == ReadStatus::missing) return {path_ + ": there is no settings file"};
        if (r.status != ReadStatus::ok) return {path_ + ": " + unreadable(r.status)};
        const RegistryText parsed = parseRegistryText(r.text);
        std::vector<std::string> problems;
        for (const auto& p : parsed.problems) problems.push_back(path_ + ": " + p);
        if (!parsed.hasKey) problems.push_back(path_ + ": it holds no settings");
        if (problems.empty()) adopt(parsed, true);
        return problems;
    }

    std::vector<std::string> takeProblems() override {
        auto p = std::move(problems_);
        problems_.clear();
        return p;
    }

private:
    static std::string unreadable(ReadStatus status) {
        switch (status) {
            case ReadStatus::notRegular: return "not a regular file";
            case ReadStatus::tooLarge: return "larger than 1 MiB";
            default: return "cannot be read";
        }
    }

    void load() {
        const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
        switch (r.status) {
            case ReadStatus::missing: return;
            case ReadStatus::unreadable: report(path_ + ": the settings cannot be read"); return;
            case ReadStatus::notRegular:
                report(path_ + ": not a regular file; the settings are not read from it");
                return;
            case ReadStatus::tooLarge: report(path_ + ": larger than 1 MiB; the settings are not read from it"); return;
            case ReadStatus::ok: break;
        }
        adopt(parseRegistryText(r.text), true, true);
    }

    // The store's values from now on. What a save finds wrong in the file it keeps as it
    // stands; the start-up has told it (a line's number may move with a save).
    void adopt(const RegistryText& parsed, bool exists, bool tell = false) {
        if (tell)
            for (const auto& p : parsed.problems) report(path_ + ": " + p);
        exists_ = exists && parsed.hasKey;
        values_ = parsed.values;
    }

    void report(const std::string& problem) {
        if (std::find(reported_.begin(), reported_.end(), problem) != reported_.end()) return;
        reported_.push_back(problem);
        problems_.push_back(problem);
    }

    // The new content beside the file, flushed, then renamed over it. Only into a
    // folder nobody else can write, and only through a new file of our own.
    std::string store(const std::string& text) {
        // A folder made for the settings is the owner's alone: the file holds the
        // password record.
        const linuxport::OpenedFolder dir = linuxport::openWritableFolder(linuxport::folderOf(path_), 0700);
        if (!dir) return dir.problem;
        const std::string name = linuxport::nameOf(path_);
        if (name.empty() || name == "." || name == "..") return path_ + ": not a regular file";
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
                return path_ + ": not a regular file";
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

    std::string path_;
    bool exists_ = false;
    std::vector<std::string> reported_;  // every problem reported, so each is told once
    std::vector<std::pair<std::string, RegValue>> values_;
    std::vector<std::string> problems_;
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

#include "platform/linux/LinuxFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace raid::linuxport {
namespace {

constexpr int kStepFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
// Links followed in one walk, as the kernel's own limit for one lookup.
constexpr int kMaxLinks = 40;
// Names looked at in one walk: a bound for a path that keeps growing through links.
constexpr int kMaxSteps = 4096;

class Folder {
public:
    explicit Folder(int fd) : fd_(fd) {}
    ~Folder() {
        if (fd_ >= 0) ::close(fd_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The names of `path` in walking order, pushed onto `todo` so that the first name is
// on top.
void pushNames(const std::string& path, std::vector<std::string>& todo) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at) names.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    todo.insert(todo.end(), names.rbegin(), names.rend());
}

// A link in the way: its target when the link is root's or our own user's.
bool trustedLink(int dir, const std::string& name, std::string& target) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return false;
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) return false;
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(dir, name.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return false;
    target.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

bool makeFolders(const std::string& folder) {
    if (folder.empty()) return false;
    const mode_t mode = ::geteuid() == 0 ? 0755 : 0700;
    Folder current(::open(folder.front() == '/' ? "/" : ".", kStepFlags));
    if (current.get() < 0) return false;
    std::vector<std::string> todo;
    pushNames(folder, todo);
    int links = 0;
    int steps = 0;
    bool made = false;  // the name on top was just made by us (or someone else meanwhile)
    while (!todo.empty()) {
        if (++steps > kMaxSteps) return false;
        const std::string name = todo.back();
        if (name == ".") {
            todo.pop_back();
            continue;
        }
        // ".." is never a link: the folder above the one we hold.
        const int next = ::openat(current.get(), name.c_str(), name == ".." ? kStepFlags : kStepFlags | O_NOFOLLOW);
        if (next >= 0) {
            current.reset(next);
            todo.pop_back();
            made = false;
            continue;
        }
        if (errno == ENOENT && !made) {
            // mkdirat never follows a link that stands at the name; whatever is there
            // after it (ours, or a folder somebody else made meanwhile) is opened
            // again by the same rules.
            if (::mkdirat(current.get(), name.c_str(), mode) != 0 && errno != EEXIST) return false;
            made = true;
            continue;
        }
        std::string target;
        if ((errno == ENOTDIR || errno == ELOOP) && !made && ++links <= kMaxLinks &&
            trustedLink(current.get(), name, target)) {
            todo.pop_back();
            pushNames(target, todo);
            if (target.front() == '/') {
                current.reset(::open("/", kStepFlags));
                if (current.get() < 0) return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace raid::linuxport

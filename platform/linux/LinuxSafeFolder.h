// Folders and files a program writes, made safe against other users of the machine.
//
// A program running as root that writes into a folder another user can change can be
// made to write through a link into any file, or to expose one. So every file this
// system writes goes into a folder opened here: reached without following a link
// another user made, and owned and writable by nobody but root or this process's user.
// Files are then created in the opened folder exclusively and never through a link,
// and only files created so get a mode set.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace raid::linuxport {

// A descriptor that is closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

struct OpenedFolder {
    UniqueFd fd;          // the folder (O_DIRECTORY), or none
    int error = 0;        // the system's error number when it could not be reached
    std::string problem;  // why there is no folder: the system's words, or a refusal naming the folder
    explicit operator bool() const { return static_cast<bool>(fd); }
};

// Opens `path` as the folder to write into. On the way a link is followed only when
// root or this process's user made it (another user's link could lead anywhere);
// missing folders are made with `createMode` (0: nothing is made). The folder itself
// must be owned by root or by this process's user, and others may not write it; in a
// root program its group may not either. (A user's own program accepts a folder its
// group may write: a 002 umask gives every folder of a user in a group of their own
// that bit.)
OpenedFolder openWritableFolder(const std::string& path, mode_t createMode = 0);

// The same walk without the check of the folder itself, for reading; `trusted` tells
// whether the folder would pass that check.
OpenedFolder openFolderForReading(const std::string& path, bool& trusted);

// The refusal for a folder with these attributes, "" when this process may write into
// it. `path` names it in the text.
std::string folderRefusal(const struct stat& st, const std::string& path);

// A new file `name` in `dir`, opened with `flags` (O_WRONLY or O_RDWR, and any of
// O_APPEND, O_NONBLOCK): created exclusively (whatever already stands there, a file, a
// FIFO, a link, is an error, EEXIST) and with `mode` as the umask leaves it. -1 with
// errno on failure.
int createExclusive(int dir, const std::string& name, mode_t mode, int flags = O_WRONLY);

// A new file in `dir` named `stem` + "." + random letters + `suffix`, created as
// createExclusive creates; `name` receives the name. For temporary files: a name left
// by a crash, or planted, is never opened but passed by.
int createUnique(int dir, std::string_view stem, std::string_view suffix, mode_t mode, std::string& name,
                 int flags = O_WRONLY);

// The folder part of a path ("." for a bare name) and the last component.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

}  // namespace raid::linuxport

// The few whole-file operations the day log needs, behind a port so tests can run the
// log against an in-memory store that fails where they want it to.
//
// Paths are plain strings in the platform's own spelling. Nothing here interprets the
// content: the log decides about line ends.
//
// Only regular files are ever read or written. A FIFO, a device or a symlink to one
// where a file is expected is reported as such and left alone: opening a FIFO blocks
// until a writer comes, and reading /dev/zero never ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid {

enum class ReadStatus {
    ok,          // `text` holds the whole file
    missing,     // nothing at that path (or its folder is missing or is a file)
    unreadable,  // there is a file but it cannot be read (permissions, I/O error)
    notRegular,  // a FIFO, device, socket or folder: never opened
    tooLarge,    // a regular file longer than the limit: not read
};

struct BoundedRead {
    ReadStatus status = ReadStatus::missing;
    std::string text;
};

// A regular file opened for reading piece by piece, for callers that must know at which
// byte a read failed (a firmware image is read so: a byte that cannot be read is named
// to the user and read again).
class FileReader {
public:
    virtual ~FileReader() = default;
    // The file's length when it was opened; reads never reach past it, so a file that
    // grows meanwhile cannot feed more than that.
    virtual std::uint64_t length() const = 0;
    // Up to `count` bytes from `offset` into `dest`. The number read, which can be short
    // (a read that runs into a bad spot stops before it) and is 0 only at or past the end
    // (or when the file shrank); nullopt when nothing could be read at `offset`.
    virtual std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) = 0;
    // The open file as the system knows it (a POSIX descriptor, still the reader's), for
    // handing the very file that was read to another process; -1 where there is none.
    virtual int descriptor() const { return -1; }
};

struct OpenedFile {
    ReadStatus status = ReadStatus::missing;  // `reader` is set exactly when this is ok
    std::unique_ptr<FileReader> reader;
};

enum class CreateResult {
    created,  // the new file holds the data
    exists,   // something already stands at that name (a file, a link, a FIFO ...): untouched
    failed,   // nothing was made (no room, no rights, a missing folder)
};

class FileStore {
public:
    virtual ~FileStore() = default;

    virtual bool exists(const std::string& path) = 0;
    // Size in bytes of a regular file; nullopt when there is none (or it cannot be asked).
    virtual std::optional<std::uint64_t> size(const std::string& path) = 0;
    // Whole content of a regular file; nullopt when the file is missing or cannot be read.
    virtual std::optional<std::string> readAll(const std::string& path) = 0;
    // The content of a regular file of at most `limit` bytes, without blocking and
    // without reading more than `limit` bytes whatever is there. The default answer is
    // built from exists/size/readAll, which is all an in-memory store needs.
    virtual BoundedRead readBounded(const std::string& path, std::size_t limit);
    // Opens a regular file of at most `limit` bytes for reading, without blocking; the
    // same refusals as readBounded. The default reads the whole content through
    // readBounded and serves the pieces from memory, which is all an in-memory store needs.
    virtual OpenedFile openForRead(const std::string& path, std::size_t limit);
    // Adds `data` at the end, creating the file (and missing parent folders) when needed.
    // On failure the store tries to leave the file at its earlier length; callers must
    // still treat the file's tail as unknown after a failed append. Refuses anything
    // but a regular file.
    virtual bool append(const std::string& path, std::string_view data) = 0;
    // Replaces the whole content: written to a temporary file beside the target first,
    // then renamed over it, so a failure at any point leaves the earlier file untouched.
    // Missing parent folders are created. Refuses to replace anything but a regular file.
    virtual bool replace(const std::string& path, std::string_view data) = 0;
    // Creates a new file holding `data`, only when nothing at all stands at `path`: it
    // never replaces a file and never follows a link, so a name someone planted cannot
    // steer the write anywhere. `mode` is 0600 or 0644 (anything else counts as 0600),
    // less what the umask takes. The content is on the disk when it returns `created`;
    // after a failure nothing is left behind. The parent folder must exist. The
    // default, for in-memory stores, is built from exists and replace.
    virtual CreateResult createNew(const std::string& path, std::string_view data, unsigned mode);
    // Deletes a regular file; true when it is gone (or was never there). Refuses
    // anything but a regular file.
    virtual bool remove(const std::string& path) = 0;
    // Whether a new file can be created in `folder` right now (an existing folder only).
    virtual bool folderWritable(const std::string& folder) = 0;
    // Makes `folder` and the folders above it that are missing; true when it is a folder
    // now. The real store never makes one through a link another user planted (see
    // platform/linux/LinuxSafeFolder.h). The default, for stores without folders of their
    // own, answers whether `folder` can be written.
    virtual bool makeFolder(const std::string& folder) { return folderWritable(folder); }
    // The names of the entries in `folder` (no "." or ".."), whatever they are; nullopt
    // when it cannot be listed (missing, not a folder, no rights). Nothing is opened
    // but the folder. The default, for stores without folders of their own, lists none.
    virtual std::optional<std::vector<std::string>> listFolder(const std::string& folder);
};

// Whether `path` names its place from the root, in the spelling of the platform the
// program is built for (std::filesystem's rule): "/srv/texts/" here, "C:\texts\" or a
// "\\server\share" name on Windows. Any other path starts from whatever folder the
// program happens to run in.
bool isAbsolutePath(std::string_view path);

// The real store: POSIX files, never blocking on a special file.
std::unique_ptr<FileStore> makeStdFileStore();

// Where the log goes when its own folder cannot be written. A service that systemd gives
// a state folder (StateDirectory=, which sets $STATE_DIRECTORY, several folders apart by
// ":") uses the first of them; otherwise $XDG_STATE_HOME/raid-gui, or
// ~/.local/state/raid-gui when XDG_STATE_HOME is unset, empty or not absolute. Only
// absolute folders count. The caller passes the environment values (empty when unset);
// "" when none gives a folder.
std::string fallbackLogFolder(std::string_view stateDirectory, std::string_view xdgStateHome, std::string_view home);

// Both folders of the day log as a program started from `argv0` uses them by default:
// `log` is the folder of the running executable (the platform is asked first, then
// `argv0` when it names a path; "." when neither answers), `fallback` is
// fallbackLogFolder() of this process's environment.
struct LogFolders {
    std::string log;
    std::string fallback;
};
LogFolders defaultLogFolders(const char* argv0);

}  // namespace raid

// Files on Windows, as the file store and the settings file use them.
//
// Only regular files on a disk are ever opened: a device name (CON, NUL, COM1, a
// "\\.\" path), a named pipe or a reparse point (a symbolic link, a junction) where a
// file is expected is refused before it is opened where its name tells, and after
// it is opened otherwise (the handle is asked what it is; a reparse point is opened
// as itself, never followed). Files are read and written in binary mode: no byte is
// added or dropped on the way. Paths may use '/' or '\'; they are handed to the
// system with '\'.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileStore.h"

namespace raid::win32 {

// Closes its handle when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = nullptr;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset() {
        if (h_) ::CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};

// The system's own text for an error code, without the line end it carries.
std::string errorText(DWORD code);

// `path` with every '/' turned into '\'.
std::string nativePath(std::string_view path);

// Whether `path` names a device rather than a file: a "\\.\" or "\\?\" device path
// (a "\\?\X:\" or "\\?\UNC\" long path is a file path), or a last component that is
// one of the reserved device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
// CONOUT$), with or without an extension.
bool isDeviceName(std::string_view path);

// Opens `path` for reading when it is a regular file of at most `limit` bytes; `size`
// is its length then. Without blocking: a pipe or device is never opened.
ReadStatus openRegular(const std::string& path, std::uint64_t limit, Handle& file, std::uint64_t& size);

// What stands at `path`, judged by name and attributes without opening it:
// missing, notRegular (a folder, a device, a reparse point) or ok (a plain file).
ReadStatus whatIsAt(const std::string& path);

// Makes `folder` and the folders above it that are missing; true when it is a folder.
bool makeFolders(const std::string& folder);

// Replaces the file at `path` with `data`: written to a new file beside it, flushed to
// the disk, then moved over the name with write-through, so a failure at any point
// leaves the earlier file. Refuses anything but a regular file at `path`. With
// `privateFile` the new file is this user's, the system's and the administrators'
// alone, whatever its folder passes down. "" when done, else why not.
std::string replaceFile(const std::string& path, std::string_view data, bool privateFile = false);

// This process's user as a SID in text ("S-1-5-21-..."), "" when the system does not say.
std::string currentUserSid();

}  // namespace raid::win32

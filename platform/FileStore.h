// The few whole-file operations the day log needs, behind a port so tests can run the
// log against an in-memory store that fails where they want it to.
//
// Paths are plain strings in the platform's own spelling. Nothing here interprets the
// content: the log decides about line ends.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace raid {

class FileStore {
public:
    virtual ~FileStore() = default;

    virtual bool exists(const std::string& path) = 0;
    // Size in bytes of a regular file; nullopt when there is none (or it cannot be asked).
    virtual std::optional<std::uint64_t> size(const std::string& path) = 0;
    // Whole content; nullopt when the file is missing or cannot be read.
    virtual std::optional<std::string> readAll(const std::string& path) = 0;
    // Adds `data` at the end, creating the file (and missing parent folders) when needed.
    // On failure the store tries to leave the file at its earlier length; callers must
    // still treat the file's tail as unknown after a failed append.
    virtual bool append(const std::string& path, std::string_view data) = 0;
    // Replaces the whole content: written to a temporary file beside the target first,
    // then renamed over it, so a failure at any point leaves the earlier file untouched.
    // Missing parent folders are created.
    virtual bool replace(const std::string& path, std::string_view data) = 0;
    // Whether a new file can be created in `folder` right now (an existing folder only).
    virtual bool folderWritable(const std::string& folder) = 0;
};

// The real store: std::filesystem and fstreams, nothing platform-specific.
std::unique_ptr<FileStore> makeStdFileStore();

// Where the log goes when its own folder cannot be written: $XDG_STATE_HOME/raid-gui, or
// ~/.local/state/raid-gui when XDG_STATE_HOME is unset, empty or not absolute. The caller
// passes the environment values (empty when unset); "" when neither gives a folder.
std::string fallbackLogFolder(std::string_view xdgStateHome, std::string_view home);

}  // namespace raid

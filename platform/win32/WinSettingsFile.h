// The settings key kept in one file in the text form of a registry export
// (platform/RegistryText.h), for a program told to keep its settings in a file rather
// than in the registry (the simulator, a test).
//
// The file is read when the store is made, and again by every save: a save changes
// only the values it sets in the file as it is at that moment, so what another program
// saved meanwhile, comments and lines that cannot be read all stay. The new text is
// written in binary mode beside the file, flushed, and moved over it with
// write-through, so a crash or a full disk leaves the earlier file; it is written only
// when it reads back within the size a start reads, and made readable by this user,
// the system and the administrators only: it holds the scrambled mail password. Only
// a regular file that could be read whole is ever replaced; a device, a pipe, a link
// or a file too large at the path is reported and left alone.
#pragma once

#include <memory>
#include <string>

#include "platform/SettingsPort.h"

namespace raid::win32 {

std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path);

// A lock named after `what`, held by one process of the machine at a time, in any
// session: taken within a few seconds or not at all (a lock someone keeps for good must
// not stop the work; without it the work is only as exposed as between two quick
// ones).
class MachineLock {
public:
    explicit MachineLock(const std::string& what);
    ~MachineLock();
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

private:
    void* mutex_ = nullptr;
    bool owned_ = false;
};

}  // namespace raid::win32

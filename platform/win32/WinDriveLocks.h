// System-wide drive locks on Windows: one named mutex per disk in the Global
// namespace, so the window in every desktop session and the monitor service exclude
// each other.
//
// A mutex belongs to the thread that took it, while the port's callers come from any
// thread: every wait and release is therefore done by one thread of the port's own,
// which lives as long as the port. A mutex whose owner died (WAIT_ABANDONED) is taken
// as ours: the system already let go of it for the dead program. A mutex another
// user's program made that this one may not open is Refused: that program may be
// using the drive. Anybody may make an object under a Global name first and hold it
// for ever, so a lock made by anyone but the system, the administrators or this
// process's own user is not trusted: an elevated program goes on without it
// (Unavailable, with the reason), any other sends the drive nothing (Refused).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DriveLockPort.h"

namespace raid::win32 {

// The kernel object name of the lock of drive id `id` among the locks of `scope` ("" for
// the machine's real drives): "Global\raid-gui-drive-..." with the id reduced to
// [A-Za-z0-9._-] and bounded in length (a longer one keeps its head and a hash).
std::string driveLockName(std::string_view scope, std::string_view id);

// Locks for ids given by idOf (nullopt: no such drive).
std::unique_ptr<DriveLockPort> makeMutexDriveLocks(std::string scope,
                                                   std::function<std::optional<std::string>(int)> idOf);

}  // namespace raid::win32

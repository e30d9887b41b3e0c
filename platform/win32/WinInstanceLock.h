// The single-instance guard on Windows: a named mutex in the session's namespace, so
// one copy of the program runs per desktop session. The copy that creates the mutex
// is the instance; a copy that finds it already there bows out. The mutex lives as
// long as a handle of its creator is open, so a copy that died leaves nothing behind.
#pragma once

#include <memory>

#include "platform/InstanceLock.h"

namespace raid::win32 {

std::unique_ptr<InstanceLock> makeInstanceLock();

}  // namespace raid::win32

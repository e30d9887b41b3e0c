// Single-instance guard: the second copy of the program started in the same user
// session finds the lock taken and bows out.
#pragma once

#include <memory>
#include <string>

namespace raid {

class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    // false = another instance holds it (or it cannot be taken safely).
    virtual bool acquire(const std::string& name) = 0;
    virtual void release() = 0;
};

}  // namespace raid

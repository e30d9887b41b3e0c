#pragma once

#include <functional>

namespace raid {

// Source of "a storage device arrived or left" notifications. The callback may be
// invoked on any thread; receivers forward it to the engine thread.
class DeviceChangePort {
public:
    virtual ~DeviceChangePort() = default;
    virtual void start(std::function<void()> onChange) = 0;
    virtual void stop() = 0;
};

}  // namespace raid

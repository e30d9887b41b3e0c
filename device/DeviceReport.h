// The port through which device work tells what happens as it goes.
//
// Detection, the status poll, the SPI primitives and the action command meet failures
// (values, device/DeviceResult.h) and, during recognition, steps worth showing. They hand
// both to this port and show nothing themselves; app/DevicePresenter implements it and
// turns them into the status-bar lines and boxes the user sees. Detection runs on its
// own thread: the implementation takes care that what it shows reaches the engine
// thread in order.
#pragma once

#include <string>

#include "device/DeviceResult.h"

namespace raid {

// Where a device failure was met: a drive that cannot be opened is told with its own
// caption in each.
enum class DeviceSite {
    detection,  // the drive table and the recognition of each drive
    status,     // reading a status record (poll, detection, upgrade start)
    flash,      // the SPI primitives
    action,     // the action command of the Status page's buttons
    request,    // a single request, wherever it was sent
};

class DeviceReport {
public:
    virtual ~DeviceReport() = default;
    // What recognition tries now, e.g. "Mode 2" before the ATA vendor way is asked.
    virtual void step(const std::string& text) = 0;
    // What a piece of device work came to at `site`. A success shows nothing.
    virtual void result(const DeviceResult& result, DeviceSite site) = 0;
};

// A port that drops everything (tools and tests that don't look).
class NullDeviceReport final : public DeviceReport {
public:
    void step(const std::string&) override {}
    void result(const DeviceResult&, DeviceSite) override {}
};

}  // namespace raid

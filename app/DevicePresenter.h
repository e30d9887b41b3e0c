// What device work tells the user: the one place where failures, which are values
// below app/, become status-bar lines and message boxes.
//
// DevicePresenter is the engine's side of device/DeviceReport: detection, the poll,
// the SPI primitives and the action command hand it their results and recognition its
// steps, and it writes them through a Reporter (the engine's forwards what arrives off
// the engine thread to it, in order).
#pragma once

#include <string>

#include "device/DeviceReport.h"
#include "device/DeviceResult.h"
#include "device/Reporter.h"

namespace raid {

// Shows a failed result as the user sees it: the panel-4 line of every failure in the
// order they happened, or the box of a missing device or drive. Nothing for a success.
void presentDeviceResult(Reporter& out, const DeviceResult& result, DeviceSite site);

class DevicePresenter final : public DeviceReport {
public:
    explicit DevicePresenter(Reporter& out) : out_(out) {}
    // Recognition's steps go to panel 2.
    void step(const std::string& text) override { out_.panel(2, text); }
    void result(const DeviceResult& result, DeviceSite site) override { presentDeviceResult(out_, result, site); }

private:
    Reporter& out_;
};

}  // namespace raid

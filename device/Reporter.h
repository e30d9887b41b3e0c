// What device operations tell the user: status-bar panel texts and OK message boxes.
//
// Device work runs on the engine thread, except the detection pass which runs on its
// own thread; the engine's implementation forwards whatever arrives off its thread to
// the engine thread, so callers never care where they run.
#pragma once

#include <string>

#include "device/DeviceResult.h"

namespace raid {

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void panel(int index, const std::string& text) = 0;
    // An OK box. `caption` empty = the platform's default caption ("Error").
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;
};

// Where a device failure was met: the box of a drive that cannot be opened has its
// own caption in each.
enum class DeviceSite { status, flash, action };

// Shows a failed result as the user sees it: the panel-4 line of every failure in
// the order they happened, or the box of a missing device or drive. Nothing for a
// success.
void presentDeviceResult(Reporter& reporter, const DeviceResult& result, DeviceSite site);

// A reporter that drops everything (tools and tests that don't look).
class NullReporter final : public Reporter {
public:
    void panel(int, const std::string&) override {}
    void messageBox(const std::string&, const std::string&) override {}
};

}  // namespace raid

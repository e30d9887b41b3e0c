// What a request to an enclosure came to: success, or a failure as a value.
//
// A failure carries what went wrong (a fault the caller can act on), the system's own
// words for it (the line status panel 4 shows, e.g. "Error code 201"), and the context
// each layer adds as it passes the failure up ("SPI Erase Fail." around the request
// that failed). Nothing below app/ shows a failure: app/'s presenter turns results into
// panel lines and boxes.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace raid {

enum class DeviceFault {
    none,
    noDevice,       // no enclosure listed at all
    noUpgradeMode,  // no device is held for maintenance
    invalidDrive,   // the enclosure's drive could not be opened
    request,        // a request was sent and failed
    verify,         // what was read back differs from what was written
    refused,        // the step was refused before anything was sent
    tooManyDrives,  // more volumes than the drive table has rows: the rest are left out
    outOfMemory,    // a request's block could not be allocated: nothing was sent
};

struct DeviceError {
    DeviceFault fault = DeviceFault::none;
    std::string text;  // the system's own words ("" when the fault has none of its own)
};

class DeviceResult {
public:
    DeviceResult() = default;
    static DeviceResult failure(DeviceFault fault, std::string text = {}) {
        DeviceResult r;
        r.last_ = text;
        r.errors_.push_back(DeviceError{fault, std::move(text)});
        return r;
    }

    bool ok() const { return errors_.empty(); }
    explicit operator bool() const { return ok(); }

    // The first failure: what went wrong.
    const DeviceError& error() const {
        static const DeviceError none;
        return errors_.empty() ? none : errors_.front();
    }
    DeviceFault fault() const { return error().fault; }
    // Every failure in the order it happened: the first, then what went wrong while
    // cleaning up after it (a mode that could not be switched back).
    const std::vector<DeviceError>& errors() const { return errors_; }
    // The context added on the way up, innermost first.
    const std::vector<std::string>& context() const { return context_; }
    // The words the failure closes with: whatever of its texts and context came last.
    const std::string& lastWords() const { return last_; }

    // Adds what the caller was doing, when this is a failure.
    DeviceResult& within(std::string what) {
        if (!ok()) {
            last_ = what;
            context_.push_back(std::move(what));
        }
        return *this;
    }
    // Keeps a further failure met after the first (cleaning up); keeps this one's context.
    DeviceResult& also(const DeviceResult& later) {
        for (const DeviceError& e : later.errors_) {
            // A drive that cannot be opened is told in a box of its own: the words
            // the user last read stay those before it.
            if (e.fault != DeviceFault::invalidDrive || errors_.empty()) last_ = e.text;
            errors_.push_back(e);
        }
        return *this;
    }

private:
    std::vector<DeviceError> errors_;
    std::vector<std::string> context_;
    std::string last_;
};

// The failures every device routine may meet before it sends anything.
inline DeviceResult noDevice() { return DeviceResult::failure(DeviceFault::noDevice, "Device not found!!!"); }
inline DeviceResult noUpgradeMode() { return DeviceResult::failure(DeviceFault::noUpgradeMode, "No Upgrade Mode!!!"); }
inline DeviceResult invalidDrive() { return DeviceResult::failure(DeviceFault::invalidDrive, "Invalid Drive"); }
// Recognition's own failures.
inline DeviceResult tooManyDrives() {
    return DeviceResult::failure(DeviceFault::tooManyDrives, "Drive Count Must less than 20.");
}
inline DeviceResult identityUnread() { return DeviceResult::failure(DeviceFault::request, "Error code 580"); }
inline DeviceResult outOfMemory() { return DeviceResult::failure(DeviceFault::outOfMemory, "Menory Alloc Error!!"); }

}  // namespace raid

#include "device/Reporter.h"

namespace raid {

void presentDeviceResult(Reporter& reporter, const DeviceResult& result, DeviceSite site) {
    for (const DeviceError& e : result.errors()) {
        switch (e.fault) {
        case DeviceFault::none: break;
        case DeviceFault::noDevice:
            reporter.panel(4, e.text);
            reporter.messageBox("No Device found !", "Message");
            break;
        case DeviceFault::noUpgradeMode:
            reporter.panel(4, e.text);
            reporter.messageBox("No Upgrade Mode !", "Message");
            break;
        case DeviceFault::invalidDrive:
            reporter.messageBox(e.text, site == DeviceSite::flash ? "Error" : "");
            break;
        case DeviceFault::request:
        case DeviceFault::verify:
        case DeviceFault::refused:
            if (!e.text.empty()) reporter.panel(4, e.text);
            break;
        }
    }
}

}  // namespace raid

#include "app/DevicePresenter.h"

namespace raid {

void presentDeviceResult(Reporter& out, const DeviceResult& result, DeviceSite site) {
    for (const DeviceError& e : result.errors()) {
        switch (e.fault) {
        case DeviceFault::none: break;
        case DeviceFault::noDevice:
            out.panel(4, e.text);
            out.messageBox("No Device found !", "Message");
            break;
        case DeviceFault::noUpgradeMode:
            out.panel(4, e.text);
            out.messageBox("No Upgrade Mode !", "Message");
            break;
        case DeviceFault::invalidDrive:
            out.messageBox(e.text, site == DeviceSite::flash ? "Error" : "");
            break;
        case DeviceFault::tooManyDrives:
        case DeviceFault::outOfMemory:
            out.messageBox(e.text, "");
            break;
        case DeviceFault::request:
        case DeviceFault::verify:
        case DeviceFault::refused:
            if (!e.text.empty()) out.panel(4, e.text);
            break;
        }
    }
}

}  // namespace raid

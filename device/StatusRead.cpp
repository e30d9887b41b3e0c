#include "device/StatusRead.h"

namespace raid {

std::uint32_t statusDeviceCode(const DeviceState& state) {
    if (state.UpgradeHoldsDevice) {
        const std::uint32_t held = state.HeldDevice;
        return held < static_cast<std::uint32_t>(kMaxActive) ? state.ActiveDevices[held] : 0;
    }
    if (state.DetectionPending) return state.LastProbedCode;
    const std::uint32_t current = state.CurrentDevice;
    return current < static_cast<std::uint32_t>(kMaxActive) ? state.ActiveDevices[current] : 0;
}

DeviceResult readStatusRecord(Transport& transport, const DeviceState& state, std::uint8_t* buffer,
                              std::uint32_t searchLimit) {
    if (!state.DetectionPending && state.ActiveCount.load() == 0) return noDevice();
    const std::uint32_t code = statusDeviceCode(state);
    if (transport.OpenDrive(static_cast<std::uint8_t>(code & kCodeDriveMask)) == kInvalidHandle)
        return invalidDrive();
    DeviceResult r = pathOf(code).readStatus(transport, buffer, searchLimit);
    transport.CloseCurrent();
    return r;
}

}  // namespace raid

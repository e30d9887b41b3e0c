#include "device/StatusRead.h"

namespace raid {

bool ReadStatus(Transport& transport, DeviceState& state, std::uint8_t* buffer, std::uint32_t searchLimit) {
    Reporter& report = transport.reporter();
    const int active = state.ActiveCount.load();
    if (!state.DetectionPending && active == 0) {
        report.panel(4, "Device not found!!!");
        report.messageBox("No Device found !", "Message");
        return false;
    }
    std::uint32_t code = 0;
    if (state.UpgradeHoldsDevice) {
        const std::uint32_t held = state.HeldDevice;
        code = held < static_cast<std::uint32_t>(kMaxActive) ? state.ActiveDevices[held] : 0;
    } else if (state.DetectionPending) {
        code = state.LastProbedCode;
    } else {
        const std::uint32_t current = state.CurrentDevice;
        code = current < static_cast<std::uint32_t>(kMaxActive) ? state.ActiveDevices[current] : 0;
    }
    if (transport.OpenDrive(static_cast<std::uint8_t>(code & kCodeDriveMask)) == kInvalidHandle) {
        report.messageBox("Invalid Drive", "");
        return false;
    }
    bool ok;
    if (code & kCodeVu) {
        transport.ShortVendorPrefix = (code & kCodeShortPrefix) != 0;
        // Skip the erased slots before the records, then the used ones; the slot
        // before the stop is the newest. Only byte 0 of each probe answer decides.
        // A limit outside the record area would walk the search into the firmware.
        if (searchLimit <= kRecordAreaStart || searchLimit > kRecordAreaEnd) searchLimit = kRecordAreaEnd;
        const std::uint32_t last = searchLimit - kRecordStep;
        std::uint32_t p = kRecordAreaStart;
        while (p <= last) {
            transport.SendVu(kVuProbe, buffer, p);
            if (buffer[0] != 0xFF) break;
            p += kRecordStep;
        }
        while (p <= last) {
            transport.SendVu(kVuProbe, buffer, p);
            if (buffer[0] == 0xFF) break;
            p += kRecordStep;
        }
        p -= kRecordStep;
        ok = transport.SendVu(kVuRead, buffer, p);
        if (!ok) report.panel(4, "Read Error for USB");
    } else {
        ok = transport.ReadSectors(transport.CurrentHandle(), kStatusSector, buffer, 1);
        if (!ok) report.panel(4, "Error code 330");
    }
    transport.CloseCurrent();
    return ok;
}

}  // namespace raid

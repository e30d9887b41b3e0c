#include "monitor/DeviceListCompare.h"

#include <algorithm>
#include <string>

#include "monitor/StatusRecord.h"

namespace raid {

namespace {

constexpr int kAlertDeviceRemoved = 2;

}  // namespace

bool compareDeviceLists(const DeviceState& dev, EventLog& log, const RaiseAlertFn& raiseAlert) {
    const int oldCount = std::clamp(dev.ActiveCount.load(), 0, static_cast<int>(dev.ActiveDevices.size()));
    const int newCount = std::clamp(dev.FoundCount, 0, static_cast<int>(dev.FoundDevices.size()));
    if (oldCount == newCount) return false;

    const auto oldPage = [&](int o) -> const Sector& {
        return identitySlot(dev, static_cast<int>(dev.ActiveDevices[static_cast<std::size_t>(o)] & kCodeDriveMask));
    };
    const auto newPage = [&](int j) -> const Sector& {
        return freshPageSlot(dev, static_cast<int>(dev.FoundDevices[static_cast<std::size_t>(j)] & kCodeDriveMask));
    };
    bool wrote = false;
    const auto found = [&](int j) {
        log.addPendingLine("D" + std::to_string(j + 1) + " New Device was found.");
        wrote = true;
    };
    const auto removed = [&](int o) {
        log.addPendingLine("D" + std::to_string(o + 1) + " Device was removed.");
        wrote = true;
        if (raiseAlert) raiseAlert(kAlertDeviceRemoved, o, 0);
    };

    int o = 0;
    int j = 0;
    while (o < oldCount && j < newCount) {
        if (oldPage(o) == newPage(j)) {
            ++o;
            ++j;
            continue;
        }
        int m = j + 1;
        while (m < newCount && !(oldPage(o) == newPage(m))) ++m;
        if (m < newCount) {
            for (int k = j; k < m; ++k) found(k);
            j = m + 1;
        } else {
            removed(o);
        }
        ++o;
    }
    for (; j < newCount; ++j) found(j);
    for (; o < oldCount; ++o) removed(o);

    if (wrote) {
        log.setDeviceListChanged();
        log.addPendingLine("    Device had changed.");
    }
    return wrote;
}

}  // namespace raid

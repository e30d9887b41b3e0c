#include "monitor/PollCycle.h"

#include <algorithm>
#include <cstdio>

#include "device/StatusRead.h"
#include "monitor/StatusRecord.h"

namespace raid {

namespace {

constexpr std::size_t kSerialLength = 20;
constexpr std::size_t kModelLength = 40;
constexpr std::size_t kCapacityLength = 6;

bool blank(const Sector& s, std::size_t at, std::size_t n) {
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + static_cast<std::ptrdiff_t>(at + n),
                       [](std::uint8_t b) { return b == 0 || b == ' '; });
}

void copyField(const Sector& from, Sector& to, std::size_t at, std::size_t n) {
    std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(at), n, to.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

std::uint8_t StatusPoll::poll(std::uint32_t searchLimit) {
    std::uint8_t mask = 0;
    for (int i = 0; i < 2; ++i) {
        if (host_.maintenanceBusy()) return 0;  // an upgrade started meanwhile: no decoding either
        const auto idx = static_cast<std::size_t>(i);
        if (i >= dev_.ActiveCount || !host_.watched(i) || static_cast<std::uint32_t>(i) == dev_.HeldDevice) continue;
        dev_.CurrentDevice = static_cast<std::uint32_t>(i);
        if (PollFailures[idx] & 1) {
            // A failed read is followed by one idle round.
            ++PollFailures[idx];
            continue;
        }
        Sector fresh{};
        const DeviceResult read = readStatusRecord(transport_, dev_, fresh.data(), searchLimit);
        transport_.report().result(read, DeviceSite::status);
        if (!read) {
            if (++PollFailures[idx] > 10) {
                host_.unwatch(i);
                PollFailures[idx] = 0;
            }
            continue;
        }
        accept(i, fresh);
        mask = static_cast<std::uint8_t>(mask | (1u << i));
        PollFailures[idx] = 0;
    }
    return mask;
}

void StatusPoll::accept(int device, Sector& fresh) {
    const auto idx = static_cast<std::size_t>(device);
    Sector& stored = dev_.EnclosureStatus[dev_.ActiveDevices[idx] & kCodeDriveMask];
    const StatusLayout& layout = layoutFor(stored[1]);
    const std::size_t f = layout.driveFlags;
    const std::uint8_t lastProgress = decoder_.states()[idx].previousProgress;
    if (fresh[f] == 0 && lastProgress != 0xFF) {
        char text[64];
        std::snprintf(text, sizeof text, "HDD Status = 0x%02X, Err Count = 0x%02X", fresh[f], StatusErrorCount);
        host_.panel4(text);
        ++StatusErrorCount;
        return;
    }
    if (stored[1] == kControllerRaid) {
        // A drive that has just gone keeps its model, capacity and serial, for as long
        // as it stays away and the enclosure reports no identity of its own for the
        // bay, not just for the one poll that saw it go.
        const std::uint8_t changed = stored[f] ^ fresh[f];
        for (int drive = 0; drive < 2; ++drive) {
            const std::uint8_t bit = drive == 0 ? 0x02 : 0x20;
            const auto d = static_cast<std::size_t>(drive);
            if (fresh[f] & bit) continue;
            if (!(changed & bit) && !(!(stored[f] & bit) && blank(fresh, layout.serial[d], kSerialLength))) continue;
            copyField(stored, fresh, layout.model[d], kModelLength);
            copyField(stored, fresh, layout.capacity[d], kCapacityLength);
            copyField(stored, fresh, layout.serial[d], kSerialLength);
        }
    }
    stored = fresh;
}

}  // namespace raid

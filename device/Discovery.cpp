#include "device/Discovery.h"

#include <algorithm>

#include <cstring>

#include "device/DevicePath.h"
#include "device/StatusRead.h"

namespace raid {

int ComparePages(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
    }
    return 0;
}

Discovery::Discovery(Transport& transport, VolumePort& volumes, DeviceState& state)
    : transport_(transport), volumes_(volumes), state_(state) {}

int Discovery::EnumerateLetters(const std::function<void()>& messageTurn) {
    std::uint32_t mask = volumes_.logicalDriveMask() >> 2;  // A and B are never considered
    int count = 0;
    char letter = 'C';
    while (mask != 0 && count < kMaxLetters) {
        if (messageTurn) messageTurn();
        if (mask & 1u) state_.letters[static_cast<std::size_t>(count++)] = letter;
        mask >>= 1;
        ++letter;
    }
    state_.letters[static_cast<std::size_t>(count)] = 0;
    state_.LogicalCount = count;
    return count;
}

int Discovery::CountPhysicalDrives(const std::function<void()>& messageTurn) {
    int count = 0;
    for (int n = 0; n < kMaxPhysical; ++n) {
        if (messageTurn) messageTurn();
        if (transport_.OpenDrive(static_cast<std::uint8_t>(n)) != kInvalidHandle) {
            ++count;
            transport_.CloseCurrent();
        }
    }
    state_.PhysicalCount = count;
    return count;
}

void Discovery::BuildDriveTable() {
    for (int i = 0; i < state_.LogicalCount; ++i) {
        if (i >= kMaxDriveEntries) {
            transport_.report().result(tooManyDrives(), DeviceSite::detection);
            return;
        }
        DriveEntry& row = state_.drives[static_cast<std::size_t>(i)];
        row.letter = state_.letters[static_cast<std::size_t>(i)];
        row.driveType = volumes_.driveType(row.letter);
        if (transport_.OpenDrive(static_cast<std::uint8_t>(row.letter)) == kInvalidHandle) {
            row.driveType = 0xFF;
            continue;
        }
        DiskExtent extent;
        // Volumes that span several disks fail this query and keep their old values.
        if (transport_.VolumeExtents(transport_.CurrentHandle(), extent)) {
            row.diskNumber = static_cast<std::uint8_t>(extent.diskNumber);
            row.startingOffset = extent.startingOffset;
            row.extentLength = extent.extentLength;
        }
        transport_.CloseCurrent();
    }
}

bool Discovery::heldDrive(int k, std::uint32_t& heldCode) const {
    if (state_.FirstPass) return false;
    const std::uint32_t held = state_.HeldDevice;
    if (held == kNoHeldDevice || held >= static_cast<std::uint32_t>(state_.ActiveCount.load())) return false;
    heldCode = state_.ActiveDevices[held];
    return static_cast<int>(heldCode & kCodeDriveMask) == k;
}

int Discovery::IdentifyEnclosures() {
    for (Sector& page : state_.freshPages) page.fill(0);
    BusyDrives = 0;
    RefusedDrives = 0;
    LockProblem.clear();
    RefusedReason.clear();
    LockNotes.clear();
    int found = 0;
    int opened = 0;

    auto addEntry = [&](int k, std::uint32_t code) {
        const Sector& page = state_.freshPages[static_cast<std::size_t>(k)];
        const Sector& snapshot = state_.statusSnapshots[static_cast<std::size_t>(k)];
        for (int i = 0; i < found; ++i) {
            const int s = static_cast<int>(state_.FoundDevices[static_cast<std::size_t>(i)] & kCodeDriveMask);
            if (ComparePages(page.data(), state_.freshPages[static_cast<std::size_t>(s)].data(), 512) == 0 &&
                ComparePages(snapshot.data(), state_.statusSnapshots[static_cast<std::size_t>(s)].data(), 512) == 0) {
                std::uint8_t& members = state_.groupCount[static_cast<std::size_t>(i)];
                if (members < kMaxPhysical) state_.groupMembers[static_cast<std::size_t>(i)][members++] =
                    static_cast<std::uint8_t>(k);
                return;
            }
        }
        state_.groupCount[static_cast<std::size_t>(found)] = 0;
        state_.FoundDevices[static_cast<std::size_t>(found)] = code;
        ++found;
    };

    for (int k = 0; k < kMaxPhysical; ++k) {
        std::uint32_t heldCode = 0;
        if (heldDrive(k, heldCode)) {
            // The device under maintenance is not disturbed, but it is still there:
            // carry its code and its published page so the device list stays the same.
            state_.freshPages[static_cast<std::size_t>(k)] = state_.EnclosureIdentity[static_cast<std::size_t>(k)];
            state_.groupCount[static_cast<std::size_t>(found)] = 0;
            state_.FoundDevices[static_cast<std::size_t>(found++)] = heldCode;
            if (++opened >= state_.PhysicalCount) break;
            continue;
        }
        DriveLockResult lock{DriveLockState::Taken, {}, {}};
        if (locks_) {
            lock = locks_->take(k);
            if (!lock.note.empty()) LockNotes.push_back(lock.note);
            if (lock.state == DriveLockState::Busy || lock.state == DriveLockState::Refused) {
                if (lock.state == DriveLockState::Busy) {
                    BusyDrives = static_cast<std::uint16_t>(BusyDrives | (1u << k));
                } else {
                    RefusedDrives = static_cast<std::uint16_t>(RefusedDrives | (1u << k));
                    if (RefusedReason.empty()) RefusedReason = lock.reason;
                }
                if (++opened >= state_.PhysicalCount) break;
                continue;
            }
        }
        const DriveHandle handle = transport_.OpenDrive(static_cast<std::uint8_t>(k));
        if (handle == kInvalidHandle) {
            if (locks_) locks_->release(k);
            continue;
        }
        // Without the lock the drive is still ours to use (a user without rights to
        // the lock folder keeps their enclosure); the reason is told after the pass.
        if (lock.state == DriveLockState::Unavailable && LockProblem.empty()) LockProblem = lock.reason;
        Recognition drive(transport_, handle, state_.freshPages[static_cast<std::size_t>(k)].data());
        const std::uint32_t code = static_cast<std::uint32_t>(k) | recognize(drive);
        transport_.CloseCurrent();

        if (isEnclosureCode(code)) {
            state_.LastProbedCode = code;
            // A failed read leaves the snapshot as it was; the drive is listed anyway.
            Sector snapshot = state_.statusSnapshots[static_cast<std::size_t>(k)];
            const DeviceResult read = readStatusRecord(transport_, state_, snapshot.data(), statusSearchLimit);
            transport_.report().result(read, DeviceSite::status);
            if (read) state_.statusSnapshots[static_cast<std::size_t>(k)] = snapshot;
            addEntry(k, code);
        } else if (locks_) {
            locks_->release(k);
        }
        if (++opened >= state_.PhysicalCount) break;
    }
    return found;
}

void Discovery::DetectionPass() {
    BuildDriveTable();
    state_.FoundCount = IdentifyEnclosures();
}

}  // namespace raid

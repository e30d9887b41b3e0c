// The device tables and the few flags device routines consult.
//
// Everything here is owned by the engine (the main window's state). The detection pass
// runs on its own thread and writes only the "fresh" side of the tables (letters, drive
// rows, FoundDevices, groups, fresh pages, status snapshots); the published side
// (ActiveDevices and the identity pages) is written only by the engine thread when it
// publishes a finished pass, so readers on the engine thread never see half a table.
// Flags read across threads are atomics with one writer each.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "device/Transport.h"

namespace raid {

constexpr int kMaxLetters = 24;
constexpr int kMaxDriveEntries = 20;
constexpr int kMaxPhysical = 10;
constexpr int kMaxFound = 10;
constexpr int kMaxActive = 8;
constexpr std::uint32_t kNoHeldDevice = 256;

// DeviceCode bits: the physical drive, and the ways recognition found it answers
// (each path object records its own, device/DevicePath).
constexpr std::uint32_t kCodeDriveMask = 0x0F;
constexpr std::uint32_t kCodeAta = 0x10;
constexpr std::uint32_t kCodeVu = 0x20;
constexpr std::uint32_t kCodeMailbox = 0x40;
constexpr std::uint32_t kCodeShortPrefix = 0x80;

struct DriveEntry {
    char letter = 0;
    std::uint8_t driveType = 0;
    std::uint8_t diskNumber = 0;
    std::int64_t startingOffset = 0;
    std::int64_t extentLength = 0;
};

struct DeviceState {
    // Logical drive letters from 'C', zero-terminated.
    std::array<char, kMaxLetters + 1> letters{};
    int LogicalCount = 0;
    std::array<DriveEntry, kMaxDriveEntries> drives{};
    int PhysicalCount = 0;

    std::array<std::uint32_t, kMaxFound> FoundDevices{};
    int FoundCount = 0;
    std::array<std::uint8_t, kMaxFound> groupCount{};
    std::array<std::array<std::uint8_t, kMaxPhysical>, kMaxFound> groupMembers{};

    std::array<std::uint32_t, kMaxActive> ActiveDevices{};
    std::atomic<int> ActiveCount{0};
    std::uint32_t LastProbedCode = 0;

    std::array<Sector, kMaxPhysical> freshPages{};         // by physical drive, written by a pass
    std::array<Sector, kMaxPhysical> EnclosureIdentity{};  // by slot, published copy
    std::array<Sector, kMaxPhysical> statusSnapshots{};    // by physical drive, read during a pass
    std::array<Sector, 16> EnclosureStatus{};              // by slot, written by the poll cycle

    // Flags of the main window that device routines read.
    std::atomic<bool> FirstPass{true};
    std::atomic<bool> DetectionPending{true};
    std::atomic<bool> UpgradeHoldsDevice{false};
    std::atomic<std::uint32_t> HeldDevice{kNoHeldDevice};
    std::atomic<std::uint32_t> CurrentDevice{0};
};

}  // namespace raid

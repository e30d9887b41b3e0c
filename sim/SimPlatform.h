// The simulated machine behind the storage and volume ports: physical drives 0..9
// (plain disks, enclosures on any path, second physical drives of an enclosure),
// volume letters on them, per-request latency, unplugging and fault injection.
//
// Requests arrive one at a time, possibly from different threads; one mutex guards
// the drive table and the handles. The latency sleeper runs outside it.
#pragma once

#include "platform/StoragePort.h"
#include "platform/VolumePort.h"
#include "sim/Block.h"
#include "sim/SimDisk.h"
#include "sim/SimEnclosure.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace raid::sim {

// The flash kinds hit the enclosure's flash requests on every path: FlashRead a VU
// 0x85 read (not the slot probe), a mailbox read command or an ATA 0x88 read;
// FlashErase / FlashProgram a VU 0x81 / 0x89 or the mailbox erase / program command;
// FlashMode a mailbox or ATA mode command. A request is failed by a fault of its
// flash kind first, then of its transport kind (write, vu, ata), then by "any".
enum class FaultKind { Read, Write, Inquiry, Ata, Vu, Any, FlashRead, FlashErase, FlashProgram, FlashMode };
constexpr std::size_t kFaultKinds = 10;

// "read", "write", "inquiry", "ata", "vu", "any", "flashread", "flasherase",
// "flashprogram", "flashmode"
const char* faultName(FaultKind kind);

constexpr int kMaxDrives = 10;

class SimPlatform : public StoragePort, public VolumePort {
public:
    // Where a volume sits on its disk, as volumeDiskExtents reports it.
    static constexpr std::int64_t kVolumeOffset = std::int64_t{1} << 20;
    static constexpr std::int64_t kVolumeLength = std::int64_t{1} << 30;

    // sleeper is called with the per-request latency (us) for every request that
    // reaches a drive (scsi, ide, rescan, extents); by default nothing happens. The
    // application passes the scheduler's sleepUs so virtual time moves.
    explicit SimPlatform(std::function<void(std::int64_t)> sleeper = {});

    void setLatencyUs(std::int64_t us);
    std::int64_t latencyUs() const;

    // Drive-table changes. A drive number outside 0..9 throws std::out_of_range;
    // anything already at that number is unplugged first.
    void addPlainDisk(int n);
    SimEnclosure& attach(int n, Path path, const Block& identity, const Block& status);
    // Drive n is a second physical drive of the enclosure at `of`: the same
    // controller, so it answers identically. Throws std::invalid_argument when there
    // is no enclosure at `of`.
    void addMember(int n, int of);
    // Extent: disk n, offset 1 MiB, length 1 GiB. The volume is listed only while its
    // disk is present. driveType: a DriveType value.
    void addVolume(char letter, int n, std::uint8_t driveType = kDriveFixed);
    // Unplug: opens fail, open handles to it fail every request, its volumes vanish
    // from the letter mask, and its pending faults are dropped.
    void detach(int n);
    // New live status record of the enclosure at or behind drive n (no-op otherwise).
    void setStatus(int n, const Block& status);
    // The next `count` requests of that kind to drive n fail (false, nothing
    // transferred). Requests reach drive n through its own handles and through
    // volume handles on it.
    void failNext(int n, FaultKind kind, int count);

    SimEnclosure* enclosure(int n);  // nullptr for plain disks and empty numbers
    SimDisk* disk(int n);            // any present drive
    bool present(int n) const;
    int openHandles() const;
    // A program without the rights to the drives: every physical-drive open fails and
    // accessDenied() says why. Volume letters stay readable, as they are on Linux.
    void setAccessDenied(bool denied);
    // Most handles ever open at the same time; the program opens one at a time.
    int maxOpenHandles() const;

    // StoragePort
    DriveHandle open(std::uint8_t target) override;
    void close(DriveHandle handle) override;
    bool scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) override;
    bool idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) override;
    bool rescanBus(DriveHandle handle) override;
    bool volumeDiskExtents(DriveHandle handle, DiskExtent& first) override;
    bool accessDenied() const override;

    // VolumePort
    std::uint32_t logicalDriveMask() override;
    std::uint8_t driveType(char letter) override;

private:
    struct Slot {
        std::shared_ptr<SimDisk> device;   // null: empty
        SimEnclosure* enclosure = nullptr;  // same object as device when it is a controller
        std::uint64_t generation = 0;      // bumped on every change, so old handles go stale
        std::array<int, kFaultKinds> faults{};       // pending faults by FaultKind
    };
    struct Volume {
        int disk = 0;
        std::uint8_t type = kDriveFixed;
    };
    struct Handle {
        int drive = 0;
        char letter = 0;  // 0: a physical-drive handle
        std::uint64_t generation = 0;
    };

    static void checkDrive(int n);
    void unplugLocked(int n);
    void installLocked(int n, std::shared_ptr<SimDisk> device, SimEnclosure* enclosure);
    // The drive behind a handle, or null when the handle is unknown or stale.
    std::shared_ptr<SimDisk> resolveLocked(DriveHandle h, const Handle** info) const;
    bool volumeUsableLocked(char letter) const;
    // Consume one pending fault matching `kind`; true when the request must fail.
    // `flash` is the request's flash kind (FaultKind::Any when it is none).
    bool takeFaultLocked(int drive, FaultKind kind, FaultKind flash = FaultKind::Any);
    // Latency for a request that reached a live handle; false if it did not.
    bool reachDrive(DriveHandle h);

    std::function<void(std::int64_t)> sleeper_;
    mutable std::mutex mu_;
    std::int64_t latencyUs_ = 0;
    std::array<Slot, kMaxDrives> slots_{};
    std::map<char, Volume> volumes_;
    std::unordered_map<DriveHandle, Handle> handles_;
    DriveHandle nextHandle_ = 1;
    int maxOpen_ = 0;
    bool accessDenied_ = false;
};

}  // namespace raid::sim

// Storage pass-through port: the one door through which the core talks to drives.
//
// The request blocks handed to this port are the exact byte layouts the controller
// command set is defined in (the 80-byte SCSI pass-through block and the IDE
// pass-through block), so every implementation - the real Linux one, the simulated
// enclosure, and the trace decorator - reads the same bytes the program filled in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace raid {

using DriveHandle = std::intptr_t;
constexpr DriveHandle kInvalidHandle = -1;

// Offsets inside the 80-byte ScsiPassThroughRequest block (little-endian fields).
namespace spt {
constexpr std::size_t kSize = 80;
constexpr std::size_t kLength = 0;              // u16, 44
constexpr std::size_t kScsiStatus = 2;          // u8
constexpr std::size_t kPathId = 3;              // u8
constexpr std::size_t kTargetId = 4;            // u8
constexpr std::size_t kLun = 5;                 // u8
constexpr std::size_t kCdbLength = 6;           // u8
constexpr std::size_t kSenseInfoLength = 7;     // u8
constexpr std::size_t kDataIn = 8;              // u8: 1 from device, 0 to device
constexpr std::size_t kDataTransferLength = 12; // u32
constexpr std::size_t kTimeOutValue = 16;       // u32 seconds
constexpr std::size_t kDataBuffer = 20;         // u32 (low half of the buffer address)
constexpr std::size_t kSenseInfoOffset = 24;    // u32, 48
constexpr std::size_t kCdb = 28;                // 16 bytes
constexpr std::size_t kSense = 48;              // 24 bytes
}  // namespace spt

// Offsets inside the IdePassThroughRequest block (16 + sectors * 512 bytes).
namespace ide {
constexpr std::size_t kHeader = 16;
constexpr std::size_t kRegisters = 0;  // 7 register bytes: features, count, lba low, mid, high, drive/head, command
constexpr std::size_t kReserved = 7;
constexpr std::size_t kDataSize = 8;   // u32 little-endian
constexpr std::size_t kData = 12;      // data starts here (the block is 16 + n*512 long, so 4 spare bytes follow)
}  // namespace ide

// First extent of a volume, as IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS reports it.
struct DiskExtent {
    std::uint32_t diskNumber = 0;
    std::int64_t startingOffset = 0;
    std::int64_t extentLength = 0;
};

class StoragePort {
public:
    virtual ~StoragePort() = default;

    // target > 66 ('B'): a volume letter ('C'..'Z'); otherwise a physical drive number.
    virtual DriveHandle open(std::uint8_t target) = 0;
    virtual void close(DriveHandle handle) = 0;

    // One SCSI command. `request` is the 80-byte block; `data` points to
    // DataTransferLength bytes (read into for DataIn 1, sent from for DataIn 0).
    // Returns false when the request could not be delivered or the device refused it.
    virtual bool scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) = 0;

    // One ATA task-file command. `block` is the IdePassThroughRequest (input and output).
    virtual bool idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) = 0;

    // Ask the bus the drive sits on to be rescanned (no data).
    virtual bool rescanBus(DriveHandle handle) = 0;

    // First extent of the volume behind a volume handle. Fails for physical-drive
    // handles and for volumes that span several disks.
    virtual bool volumeDiskExtents(DriveHandle handle, DiskExtent& first) = 0;

    // A drive was refused to us for want of rights (opening it, or a command the
    // system only lets privileged programs send), so "no enclosure found" may only
    // mean "not allowed to look".
    virtual bool accessDenied() const { return false; }
};

}  // namespace raid

// The core fills every SCSI request as the 80-byte block of a 32-bit program; a 64-bit
// Windows program must hand the storage stack the system's own structure, whose
// DataBuffer is a full pointer (so the fields behind it move). These two pure
// functions translate between the two forms; nothing here talks to a device.
#pragma once

// clang-format off
#include <windows.h>
#include <ntddscsi.h>
// clang-format on

#include <cstddef>
#include <cstdint>

#include "platform/StoragePort.h"

namespace raid::win32 {

constexpr std::size_t kScsiSenseBytes = 24;  // the room the 80-byte block has at spt::kSense

// What IOCTL_SCSI_PASS_THROUGH_DIRECT takes: the system's structure, the sense bytes
// right behind it (SenseInfoOffset points there).
struct NativeScsiRequest {
    SCSI_PASS_THROUGH_DIRECT header;
    UCHAR sense[kScsiSenseBytes];
};

// Fills `out` (all of it) from the 80-byte `block`. The data pointer is `data`: the
// block's own DataBuffer field holds only the low half of an address and is never
// used. False, `out` unusable, for a block no driver should see: a CDB length outside
// 1..16, a direction other than in (1), out (0) or unspecified (2), or data to move
// without a buffer.
bool marshalScsiRequest(const std::uint8_t* block, void* data, NativeScsiRequest& out);

// Copies what the driver returns into the 80-byte `block`: ScsiStatus, the sense
// bytes and the length moved (never more than the block asked for).
void unmarshalScsiResult(const NativeScsiRequest& in, std::uint8_t* block);

}  // namespace raid::win32

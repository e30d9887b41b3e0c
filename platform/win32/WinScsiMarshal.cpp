#include "platform/win32/WinScsiMarshal.h"

#include <algorithm>
#include <cstring>

namespace raid::win32 {
namespace {

// The system's layout, as the storage stack reads it. For a 64-bit program the
// pointer-sized DataBuffer is 8-aligned, so it and everything after it sit further
// back than in the 32-bit block; for a 32-bit program the two layouts agree.
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == spt::kLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == spt::kScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == spt::kPathId);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == spt::kTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == spt::kLun);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == spt::kCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == spt::kSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == spt::kDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == spt::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == spt::kTimeOutValue);
#ifdef _WIN64
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(NativeScsiRequest, sense) == 56);
#else
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == spt::kDataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == spt::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == spt::kCdb);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
#endif
static_assert(sizeof(NativeScsiRequest::sense) == kScsiSenseBytes && spt::kSense + kScsiSenseBytes <= spt::kSize);

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool marshalScsiRequest(const std::uint8_t* block, void* data, NativeScsiRequest& out) {
    std::memset(&out, 0, sizeof out);
    if (!block) return false;
    const std::uint8_t cdbLength = block[spt::kCdbLength];
    const std::uint8_t direction = block[spt::kDataIn];
    const std::uint32_t length = readLe32(block + spt::kDataTransferLength);
    if (cdbLength < 1 || cdbLength > sizeof out.header.Cdb) return false;
    if (direction != SCSI_IOCTL_DATA_OUT && direction != SCSI_IOCTL_DATA_IN &&
        direction != SCSI_IOCTL_DATA_UNSPECIFIED)
        return false;
    if (length > 0 && !data) return false;

    auto& h = out.header;
    h.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    h.PathId = block[spt::kPathId];
    h.TargetId = block[spt::kTargetId];
    h.Lun = block[spt::kLun];
    h.CdbLength = cdbLength;
    // The driver writes no more sense than it is told there is room for.
    h.SenseInfoLength = static_cast<UCHAR>(std::min<std::size_t>(block[spt::kSenseInfoLength], kScsiSenseBytes));
    h.DataIn = direction;
    h.DataTransferLength = length;
    h.TimeOutValue = readLe32(block + spt::kTimeOutValue);
    h.DataBuffer = length ? data : nullptr;
    h.SenseInfoOffset = offsetof(NativeScsiRequest, sense);
    std::memcpy(h.Cdb, block + spt::kCdb, cdbLength);
    return true;
}

void unmarshalScsiResult(const NativeScsiRequest& in, std::uint8_t* block) {
    if (!block) return;
    block[spt::kScsiStatus] = in.header.ScsiStatus;
    std::memcpy(block + spt::kSense, in.sense, kScsiSenseBytes);
    // A short transfer (an underrun) comes back smaller; a driver's larger figure would
    // claim bytes beyond the caller's buffer, so the block keeps the smaller one.
    const std::uint32_t asked = readLe32(block + spt::kDataTransferLength);
    putLe32(block + spt::kDataTransferLength, std::min<std::uint32_t>(asked, in.header.DataTransferLength));
}

}  // namespace raid::win32

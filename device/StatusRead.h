#pragma once

#include <cstdint>

#include "device/DeviceState.h"
#include "device/Transport.h"

namespace raid {

constexpr std::uint32_t kRecordAreaStart = 0x78000;
constexpr std::uint32_t kRecordAreaEnd = 0x80000;
constexpr std::uint32_t kRecordStep = 0x100;
constexpr std::uint32_t kStatusSector = 33;

// Reads the newest status record of one enclosure into `buffer`: the held device
// during an upgrade, the drive just probed during detection, else CurrentDevice.
// VU enclosures keep their records in the flash record area (search from 0x78000);
// the others answer at sector 33. The handle is closed again before returning.
// `searchLimit` is the end of the record area the search may touch.
bool ReadStatus(Transport& transport, DeviceState& state, std::uint8_t* buffer,
                std::uint32_t searchLimit = kRecordAreaEnd);

}  // namespace raid

#pragma once

#include <cstdint>

#include "device/DevicePath.h"
#include "device/DeviceState.h"
#include "device/Transport.h"

namespace raid {

// The DeviceCode of the enclosure a status read addresses: the held device during an
// upgrade, the drive just probed during detection, else CurrentDevice.
std::uint32_t statusDeviceCode(const DeviceState& state);

// Reads the newest status record of one enclosure into `buffer` over its path. The
// handle is closed again before returning. `searchLimit` is the end of the record
// area the search may touch. A failure is the value returned: nothing is shown, the
// caller hands it to its DeviceReport (DeviceSite::status).
DeviceResult readStatusRecord(Transport& transport, const DeviceState& state, std::uint8_t* buffer,
                              std::uint32_t searchLimit = kRecordAreaEnd);

}  // namespace raid

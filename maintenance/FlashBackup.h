// The copy of a controller's flash kept before a full upgrade, so that an image that
// turns out bad can be undone by loading the copy and upgrading again.
//
// A copy is only worth keeping when it is whole and when it stays: it is written
// under a name of its own (the enclosure's model and serial, the time, and a counter
// for more copies in one second), as a new file that never takes the place of
// anything already there - an earlier copy, or a link or FIFO someone planted.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/Transport.h"
#include "platform/FileStore.h"

namespace raid {

// "MODEL-SERIAL-flash-YYYYMMDD-HHMMSS.bin" in local time; the `copy`-th copy of one
// second (from 2 on) ends "-N.bin". Model and serial are device text: only letters,
// digits, '-', '_' and '.' stay (any other run becomes one '_'), at most 40 of them
// each, never a leading '.', so no name can leave its folder. An empty model is
// "enclosure"; an empty serial is left out.
std::string firmwareBackupName(const std::string& model, const std::string& serial, double wallSeconds,
                               unsigned copy);

// The enclosure's serial number: bytes 20..39 of its identification page, laid out as
// an ATA IDENTIFY page, trimmed; "" when it has none.
std::string enclosureSerial(const Sector& identity);

// How many copies of one second are tried before giving up.
inline constexpr unsigned kMaxCopiesPerSecond = 100;

// Writes `flash` as a new file in `folder` under the first free name; its path, or
// nullopt with `error` set (nothing is left behind then). Readable by its owner only.
std::optional<std::string> keepFlashCopy(FileStore& files, const std::string& folder, const std::string& model,
                                         const std::string& serial, double wallSeconds,
                                         std::span<const std::uint8_t> flash, std::string& error);

}  // namespace raid

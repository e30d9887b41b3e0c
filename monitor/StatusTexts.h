// Texts built from a status record that the day log and the alert mail share: the
// capacity text and the three detail lines of a drive. Both read them from the same
// record fields, so both must show them the same way.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/StatusRecord.h"

namespace raid {

// GB + " GB(" + sectors + " Sectors)", GB = sectors >> 21.
std::string capacityText(std::uint64_t sectors);

// indent + "Model no.: " + model, indent + "Serial no.: " + the serial in double quotes,
// indent + "Capacity : " + capacityText. The information block's drive 1 line has
// always been written without the blank after "Model no.:" (`blankAfterModelLabel`).
std::array<std::string, 3> driveDetailLines(const StatusRecord& rec, int drive, std::string_view indent,
                                            bool blankAfterModelLabel = true);

// mode + ", F/W Rev. " + the enclosure's firmware revision + "." + the record's sub-code.
std::string firmwareLine(std::string_view mode, const Sector& identity, const StatusRecord& rec);

}  // namespace raid

// The command bytes the simulated drives answer to, named once for every part of the
// simulation (the plain disk, the enclosure's controller, the platform's fault
// injection). They are the controller's side of the wire and deliberately not shared
// with the program's request builders: a wrong byte on the program's side must show up
// as a request the simulated controller refuses.
#pragma once

#include <cstdint>

namespace raid::sim {

// SCSI operation codes (CDB byte 0).
constexpr std::uint8_t kScsiRead10 = 0x28;
constexpr std::uint8_t kScsiWrite10 = 0x2A;
constexpr std::uint8_t kScsiInquiry = 0x12;
// Vendor-unique commands start with one or two of these prefix bytes.
constexpr std::uint8_t kScsiVendorPrefix = 0xFE;

// Vendor-unique opcodes, the byte after the prefix.
constexpr std::uint8_t kVuFlashRead = 0x85;
constexpr std::uint8_t kVuFlashProgram = 0x89;
constexpr std::uint8_t kVuFlashErase = 0x81;
constexpr std::uint8_t kVuIdentification = 0x8B;
constexpr std::uint8_t kVuTable = 0x78;

// ATA command register values.
constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
// Vendor command: features 0x01 arms a flash read, other features are mode codes.
constexpr std::uint8_t kAtaVendorFlash = 0x88;

}  // namespace raid::sim

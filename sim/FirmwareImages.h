// Builder for realistic firmware image files: a 512 KiB picture of the controller's
// flash with a boot-loader head, sub-codes in their 48 KiB slots and a correct
// configuration record, for the simulator and for tests everywhere.
//
// The layout is written out here on its own terms rather than through the loader's
// readers, so that a test reading a built image with them checks both sides.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace raid::sim {

namespace fwimage {
constexpr std::uint32_t kImageSize = 0x80000;
constexpr std::uint32_t kFirstSlot = 0xC000;
constexpr std::uint32_t kSlotSize = 0xC000;
constexpr std::uint32_t kRecordArea = 0x78000;
// Slots that fit between the head and the record area.
constexpr int kSlots = static_cast<int>((kRecordArea - kFirstSlot) / kSlotSize);
}  // namespace fwimage

struct SubCodeOptions {
    std::uint8_t codeType = 0x31;
    // Where the directory says the sub-code is; nullopt places it in the next free
    // slot. An explicit offset is written to the directory as given; the content goes
    // there only when the whole slot lies between the head and the record area.
    std::optional<std::uint32_t> offset;
    bool present = true;  // marker 0x5A, else 0x00 (listed but not to be written)
};

struct FirmwareImageOptions {
    std::uint8_t kind = 0xA0;  // ControllerKind / configuration version
    // At most ten; more are ignored.
    std::vector<SubCodeOptions> subCodes{{0x31, std::nullopt, true}, {0x32, std::nullopt, true}};
    bool jumperMode = false;       // RAID mode set by jumper (0xF1 0xFF), else 0x11 0x3F
    bool qx5080a = false;          // bridge chip byte 0x80, else 0x85
    bool thermalSensor = true;
    bool fan = true;
    std::uint16_t fanAlarmRpm = 1500;
    std::uint8_t thermalAlarmC = 60;
    bool scheduleBackup = false;
    bool fastBackup = false;
    // The file's length. The record goes at size - 0x8000 (the loader's place for it)
    // when that fits; sizes other than 512 KiB are for tests of odd files.
    std::uint32_t size = fwimage::kImageSize;
};

// The image file's bytes.
std::vector<std::uint8_t> makeFirmwareImage(const FirmwareImageOptions& options = {});

// The deterministic content a built image holds for a sub-code of `codeType` at byte
// `index` of its slot (never a whole slot of 0xFF).
std::uint8_t subCodeByte(std::uint8_t codeType, std::uint32_t index);

}  // namespace raid::sim

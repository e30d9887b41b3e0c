// Firmware image files and the records of the controller's SPI flash.
//
// An image is a byte-for-byte picture of the controller's 512 KiB flash: the boot-loader
// head, sub-code images in 48 KiB slots, and the record area whose first 256-byte record
// (`ConfigRecord`) holds the directory of sub-codes (`SubCodeEntry`) and the
// controller's default settings. The flash keeps its records in the same layout.
//
// An image file is outside input: whatever it holds, no value in it may steer a read
// outside its bytes. Every reader here is bounds-checked, a directory entry whose
// sub-code would reach into the record area or past the end of the image is an offset
// error like any other bad offset, and a file too short to hold a record area has no
// record at all.
//
// Only a file of exactly the flash's size is an image: the version byte is checked at
// 0x78001 and the record read at size - 0x8000, which are the same place only then.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace raid {

namespace firmware {

constexpr std::size_t kFlashSize = 0x80000;       // the flash, and a firmware image
constexpr std::size_t kHeadSize = 0xC000;         // boot loader at 0; below it the low-area write enable is needed
constexpr std::size_t kSlotSize = 0xC000;         // every sub-code occupies exactly one slot
constexpr std::size_t kRecordAreaSize = 0x8000;   // the last 32 KiB: 128 record slots
constexpr std::size_t kRecordSize = 256;
constexpr std::size_t kRecordSlots = kRecordAreaSize / kRecordSize;
constexpr std::size_t kRecordAreaStart = kFlashSize - kRecordAreaSize;  // 0x78000
// The version byte is checked at this absolute offset: byte 1 of the record of a
// 512 KiB image.
constexpr std::size_t kVersionOffset = kRecordAreaStart + 1;
constexpr std::size_t kDirectoryEntries = 10;

// ConfigRecord fields.
constexpr std::size_t kRecSequence = 0;
constexpr std::size_t kRecKind = 1;
constexpr std::size_t kRecDirectory = 2;  // entry i at 2 + 5 i
constexpr std::size_t kEntrySize = 5;
constexpr std::size_t kRecNextSlot = 52;  // 24-bit
constexpr std::size_t kRecChecksum = 254; // 16-bit, low byte first

constexpr std::uint8_t kEmptyCodeType = 0xFF;
constexpr std::uint8_t kPresentMarker = 0x5A;
// The code type whose offset the upgrade takes without the slot test.
constexpr std::uint8_t kAnyOffsetCodeType = 0x35;

constexpr std::array<std::uint8_t, 4> kSignature{0x46, 0x49, 0x50, 0x53};  // "FIPS"

}  // namespace firmware

// What the upgrade shows for an entry it cannot take (caption "Error").
inline constexpr const char* kFileOffsetErrorText = "FileOffset Error of bin file!!";
inline constexpr const char* kFileOffsetErrorCaption = "Error";

struct SubCodeEntry {
    std::uint8_t codeType = firmware::kEmptyCodeType;
    std::uint32_t offset = 0;  // 24-bit: in a file its offset there, in the flash its address
    std::uint8_t marker = 0;

    bool present() const { return marker == firmware::kPresentMarker && codeType != firmware::kEmptyCodeType; }
    // The test the upgrade applies to a file offset: a non-zero multiple of the slot
    // size, or any offset at all for code type 0x35. Says nothing about where the
    // sub-code ends: see subCodeFits.
    bool offsetAcceptable() const {
        return codeType == firmware::kAnyOffsetCodeType || (offset != 0 && offset % firmware::kSlotSize == 0);
    }
};

// One 256-byte record, as an image carries it and as every slot of the flash's record
// area holds it. Fields outside the record read as 0; entries past the tenth read empty.
class ConfigRecord {
public:
    using Bytes = std::array<std::uint8_t, firmware::kRecordSize>;

    ConfigRecord() { bytes_.fill(0xFF); }
    explicit ConfigRecord(const Bytes& bytes) : bytes_(bytes) {}
    // The first 256 bytes of `from`, or nullopt when it is shorter.
    static std::optional<ConfigRecord> from(std::span<const std::uint8_t> from);

    const Bytes& bytes() const { return bytes_; }
    std::uint8_t byte(std::size_t offset) const { return offset < bytes_.size() ? bytes_[offset] : 0; }
    std::uint8_t sequence() const { return bytes_[firmware::kRecSequence]; }
    std::uint8_t kind() const { return bytes_[firmware::kRecKind]; }
    SubCodeEntry entry(std::size_t index) const;
    std::uint32_t nextSlot() const { return le24(firmware::kRecNextSlot); }
    std::uint16_t storedChecksum() const;
    // The 16-bit sum of bytes 0..253.
    std::uint16_t checksum() const;
    bool checksumValid() const { return storedChecksum() == checksum(); }

    void setSequence(std::uint8_t s) { bytes_[firmware::kRecSequence] = s; }
    // Bytes 1-3 of entry `index` (ignored past the tenth).
    void setEntryOffset(std::size_t index, std::uint32_t offset);
    void setNextSlot(std::uint32_t address) { putLe24(firmware::kRecNextSlot, address); }
    // Writes checksum() into bytes 254-255.
    void seal();

private:
    std::uint32_t le24(std::size_t at) const;
    void putLe24(std::size_t at, std::uint32_t value);
    Bytes bytes_;
};

// The 16-bit record checksum of a 256-byte record held anywhere.
std::uint16_t recordChecksum(std::span<const std::uint8_t, firmware::kRecordSize> record);

// The 32-bit wrapping byte sum the loader shows as "Chksum:".
std::uint32_t byteSum(std::span<const std::uint8_t> bytes);

// The loaded image: its bytes and size; size 0 means none is held.
class FirmwareImage {
public:
    FirmwareImage() = default;
    explicit FirmwareImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    bool loaded() const { return !bytes_.empty(); }
    std::size_t size() const { return bytes_.size(); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    // Frees the bytes (not just the size): a held image is let go before another loads.
    void clear() { std::vector<std::uint8_t>().swap(bytes_); }

    std::uint8_t byteAt(std::size_t offset) const { return offset < bytes_.size() ? bytes_[offset] : 0; }

    // Signature "FIPS" at 0, exactly 512 KiB, and 0xA0, 0xB0 or 0xC0 at 0x78001.
    bool valid() const;
    // The image's record at size - 0x8000; nullopt when the file is shorter than the
    // record area.
    std::optional<ConfigRecord> configRecord() const;
    // Whether the slot-sized sub-code of `entry` lies wholly inside the image and ends
    // before its record area (where the record, not code, is).
    bool subCodeFits(const SubCodeEntry& entry) const;
    // The sub-code's bytes (one slot from the entry's offset), or nullopt when they do
    // not lie wholly inside the image.
    std::optional<std::span<const std::uint8_t>> subCode(const SubCodeEntry& entry) const;

private:
    std::vector<std::uint8_t> bytes_;
};

// One present entry of an image's directory, as the upgrade walks them.
struct DirectoryItem {
    std::size_t index = 0;  // 0..9
    SubCodeEntry entry;
    // Offset acceptable and the sub-code inside the image before its record area; set
    // only then.
    std::optional<std::span<const std::uint8_t>> subCode;
    bool usable() const { return subCode.has_value(); }
};

// The present entries of the image's directory in order; empty without a record.
std::vector<DirectoryItem> imageDirectory(const FirmwareImage& image);

}  // namespace raid

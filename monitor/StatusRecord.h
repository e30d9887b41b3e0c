// Field access for the two 512-byte pages every enclosure hands us: the status record
// (`EnclosureStatus`, refreshed every poll) and the identification page
// (`EnclosureIdentity`, read when the enclosure is found).
//
// The status record comes in two layouts: kind 0xA0 (RAID controller) has its own
// positions; 0xB0 and 0xC0 (hybrid) share the other set. Any kind that is not 0xA0 is
// read with the shared set, the way the decoder has always treated unknown kinds.
//
// Every read is bounds-checked against the 512 bytes: a record is device data and may
// hold anything, so no value in it may steer a read outside the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/DeviceState.h"
#include "device/Transport.h"

namespace raid {

constexpr std::uint8_t kControllerRaid = 0xA0;
constexpr std::uint8_t kControllerSecond = 0xB0;
constexpr std::uint8_t kControllerHybrid = 0xC0;

// DriveFlags bits of drive 1; drive 2 uses the same bits shifted left by 4.
constexpr std::uint8_t kFlagInserted = 0x01;
constexpr std::uint8_t kFlagPresent = 0x02;
constexpr std::uint8_t kFlagAbsent = 0x04;
constexpr std::uint8_t kFlagFailed = 0x08;
constexpr std::uint8_t kBothPresent = 0x22;

inline constexpr std::array<const char*, 4> RaidModeNames{"Striping(RAID0)", "Mirroring(RAID1)", "NRAID",
                                                          "JBOD"};
inline constexpr std::array<const char*, 4> SataSpeedNames{"", "1.5G", "3G", "6G"};

// ---- Raw access (0 / empty outside the page) ----

std::uint8_t byteAt(const Sector& page, std::size_t offset);
std::uint16_t le16At(const Sector& page, std::size_t offset);
std::uint32_t le32At(const Sector& page, std::size_t offset);
// Sector counts: 40-bit little-endian.
std::uint64_t le40At(const Sector& page, std::size_t offset);

// ATA string: character k is byte (k XOR 1) of the field. The text ends at the first
// zero byte, as the controller pads short texts either with blanks or with zeros.
// Every text taken from a record passes through printableDeviceText: bytes that are
// not printable ASCII come out as blanks, so no device text can break a line.
std::string ataString(const Sector& page, std::size_t offset, std::size_t length);
// Model texts: 40 characters with trailing blanks cut, scanning back from the 40th and
// never cutting the first six (after the blanking above).
std::string ataModel(const Sector& page, std::size_t offset);

// count × 512 / 2^30, truncated.
constexpr std::uint64_t gigabytes(std::uint64_t sectors) { return sectors >> 21; }

// ---- Name tables ----

// 0..3 RaidModeNames, 63 "Bypass", anything else "Undefine".
std::string raidModeText(std::uint8_t mode);
// 'D' "CacheHDD", 'M' "Safe", 'S' "Extended", 'd' "CacheSSD", 's' "SingleHDD",
// 127 "VirtualDisk", anything else "Undefined".
std::string hybridModeText(std::uint8_t mode);
// Nibble values above 3 are outside the table: empty text.
std::string sataSpeedName(unsigned nibble);
// Drive names in event texts: "SSD"/"HDD" on a hybrid controller, else "HDD1"/"HDD2".
std::string driveName(std::uint8_t kind, int drive);

// ---- Status record ----

struct StatusLayout {
    std::size_t serial[2];
    std::size_t model[2];
    std::size_t capacity[2];
    std::size_t configuredCapacity;
    std::size_t driveFlags;
    std::size_t activity;
    std::size_t sataSpeeds;
};

const StatusLayout& raidLayout();    // kind 0xA0
const StatusLayout& hybridLayout();  // kinds 0xB0, 0xC0 (and anything else)
const StatusLayout& layoutFor(std::uint8_t kind);

// A read-only view of one status record. The layout follows the record's kind unless
// one is forced (the alert texts always read the kind-0xA0 positions).
class StatusRecord {
public:
    explicit StatusRecord(const Sector& page) : page_(page), layout_(layoutFor(page[1])) {}
    StatusRecord(const Sector& page, const StatusLayout& layout) : page_(page), layout_(layout) {}

    const Sector& page() const { return page_; }
    std::uint8_t byte(std::size_t offset) const { return byteAt(page_, offset); }

    std::uint8_t kind() const { return page_[1]; }
    std::uint8_t driveFlags() const { return byte(layout_.driveFlags); }
    std::uint8_t activity() const { return byte(layout_.activity); }
    // The speed byte at the layout's own position (the information block's drive 1 line).
    std::uint8_t layoutSpeeds() const { return byte(layout_.sataSpeeds); }
    // drive: 0 or 1.
    std::string serial(int drive) const;
    std::string model(int drive) const;
    // The whole 40-character model field, not trimmed (the Status page shows it so), with
    // the same blanking of unprintable bytes.
    std::string fullModel(int drive) const;
    std::uint64_t capacity(int drive) const;
    std::uint64_t configuredCapacity() const { return le40At(page_, layout_.configuredCapacity); }

    // Fields at fixed positions, whatever the kind.
    std::uint8_t raidMode() const { return byte(57); }
    std::uint8_t hybridMode() const { return byte(55); }
    std::uint8_t options() const { return byte(56); }
    std::uint8_t failureReason() const { return byte(105); }
    std::uint8_t progress() const { return byte(106); }
    std::uint8_t monitorMarker() const { return byte(108); }
    std::uint8_t fanTempAlarms() const { return byte(348); }
    std::uint16_t fanSpeed() const { return le16At(page_, 349); }
    std::uint8_t temperature() const { return byte(351); }
    std::uint8_t sataSpeeds() const { return byte(357); }
    std::uint8_t cacheState() const { return byte(203); }
    std::uint8_t cacheDisableRequest() const { return byte(204); }
    std::uint32_t flushPosition() const { return le32At(page_, 217); }
    std::uint64_t secondFlushPosition() const { return le40At(page_, 221); }
    std::uint8_t badSectorCount() const { return byte(471); }
    // The k-th bad sector found (from 0) sits in ring entry k mod 10.
    std::uint32_t badSector(unsigned k) const { return le32At(page_, 472 + 4 * (k % 10)); }
    // Three characters when byte 187 is 'A'..'Z' and 188, 189 are hex digits, else "C00".
    std::string subCode() const;

private:
    const Sector& page_;
    const StatusLayout& layout_;
};

// ---- Identification page ----

// 8 characters, not trimmed.
std::string firmwareRevision(const Sector& identity);
std::string enclosureModel(const Sector& identity);
// Identity byte 260: 16 → 1, 1 → 4 (hybrid), anything else → 2.
int productClass(const Sector& identity);

// Firmware capabilities from the revision text: six digits, then "."; the six digits
// as a number must reach 90619 (surface scan reported) / 100126 (fan and temperature).
bool scanCapable(std::string_view revision);
bool monitorCapable(std::string_view revision);

// ---- Device tables ----

// The slot of device index i (bits 0..3 of its DeviceCode); -1 when i is not a watched
// position of the list.
int deviceSlot(const DeviceState& dev, int deviceIndex);
// The buffers of a device index; an all-zero page for anything outside the tables,
// so a bad slot number can never reach past a table.
const Sector& statusOf(const DeviceState& dev, int deviceIndex);
const Sector& identityOf(const DeviceState& dev, int deviceIndex);
// Bounded lookups by slot number.
const Sector& statusSlot(const DeviceState& dev, int slot);
const Sector& identitySlot(const DeviceState& dev, int slot);
const Sector& freshPageSlot(const DeviceState& dev, int slot);
const Sector& zeroPage();

}  // namespace raid

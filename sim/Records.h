// Builders for realistic identity pages and status records, for the default
// scenario and for tests everywhere. Texts are stored ATA style (see putAtaString),
// sector counts as 40-bit little-endian.
#pragma once

#include "sim/Block.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace raid::sim {

// Identity page offsets.
namespace identity {
constexpr std::size_t kSerial = 20;        // 20 chars, as in an IDENTIFY page
constexpr std::size_t kFirmware = 46;      // 8 chars, "101208.0" style
constexpr std::size_t kModel = 54;         // 40 chars
constexpr std::size_t kMark = 258;         // "3X"
constexpr std::size_t kProductClass = 260;
}  // namespace identity

// Status record offsets, RAID layout (controller kind 0xA0).
namespace raidrec {
constexpr std::size_t kKind = 1;
constexpr std::size_t kMode = 57;  // 0 Striping(RAID0), 1 Mirroring(RAID1), 2 NRAID, 3 JBOD, 63 Bypass
constexpr std::size_t kSerial1 = 58;
constexpr std::size_t kSerial2 = 78;
constexpr std::size_t kCapacity = 98;
constexpr std::size_t kDriveFlags = 104;
constexpr std::size_t kActivity = 105;
constexpr std::size_t kProgress = 106;
constexpr std::size_t kMonitorMarker = 108;  // 17: fan and temperature fields are valid
constexpr std::size_t kSubCode = 187;        // 3 chars, e.g. "A01"
constexpr std::size_t kModel1 = 256;
constexpr std::size_t kCapacity1 = 296;
constexpr std::size_t kModel2 = 302;
constexpr std::size_t kCapacity2 = 342;
constexpr std::size_t kFanTempAlarms = 348;  // high nibble 0xA = valid; bit 0 fan, bit 2 over-temperature
constexpr std::size_t kFanSpeed = 349;       // u16 LE
constexpr std::size_t kTemperature = 351;
constexpr std::size_t kSataSpeeds = 357;     // low nibble drive 1, high nibble drive 2
constexpr std::size_t kBadSectors = 471;
constexpr std::size_t kRing = 472;           // 10 x u32 LE
}  // namespace raidrec

// Status record offsets, hybrid layout (kind 0xC0; kind 0xB0 has the same positions
// but no mode byte).
namespace hybridrec {
constexpr std::size_t kKind = 1;
constexpr std::size_t kMode = 55;
constexpr std::size_t kSerial1 = 56;
constexpr std::size_t kModel1 = 76;
constexpr std::size_t kCapacity1 = 116;
constexpr std::size_t kSerial2 = 123;
constexpr std::size_t kModel2 = 143;
constexpr std::size_t kCapacity2 = 183;
constexpr std::size_t kCapacity = 197;
constexpr std::size_t kDriveFlags = 202;
constexpr std::size_t kActivity = 203;            // activity / cache state
constexpr std::size_t kCacheDisableRequest = 204;
constexpr std::size_t kFlushPosition = 217;       // u32 LE, 0xFFFFFFFF = nothing
constexpr std::size_t kFlushPosition2 = 221;      // 5 bytes LE
constexpr std::size_t kSataSpeeds = 263;
}  // namespace hybridrec

constexpr std::uint8_t kKindRaid = 0xA0;
constexpr std::uint8_t kKindHybridNoMode = 0xB0;
constexpr std::uint8_t kKindHybrid = 0xC0;

enum RaidMode : std::uint8_t { kStriping = 0, kMirroring = 1, kNraid = 2, kJbod = 3, kBypass = 63 };

// DriveFlags bits of one drive (drive 2 uses the same bits shifted left by 4).
enum DriveState : std::uint8_t {
    kDriveInserted = 0x1,
    kDrivePresent = 0x2,
    kDriveAbsent = 0x4,
    kDriveFailed = 0x8,
};

// SATA link speed nibbles.
enum SataSpeed : std::uint8_t { kSata15 = 1, kSata3 = 2, kSata6 = 3 };

constexpr std::uint64_t k4TbSectors = 7814037168ull;

struct IdentityOptions {
    std::string firmware = "101208.0";
    std::string model = "SIM DUAL BAY RAID ENCLOSURE";
    std::string serial = "SIMENC00000000000001";
    std::uint8_t productClass = 16;

    IdentityOptions& setFirmware(std::string v) { firmware = std::move(v); return *this; }
    IdentityOptions& setModel(std::string v) { model = std::move(v); return *this; }
    IdentityOptions& setProductClass(std::uint8_t v) { productClass = v; return *this; }
};

struct DriveRecord {
    std::uint8_t state = kDrivePresent;
    std::string model = "WDC WD40EFRX-68N32N0";
    std::string serial;
    std::uint64_t sectors = k4TbSectors;
    std::uint8_t sataSpeed = kSata6;
};

struct StatusOptions {
    std::uint8_t kind = kKindRaid;
    std::uint8_t mode = kMirroring;  // RAID mode (0xA0) or hybrid mode (0xC0)
    std::array<DriveRecord, 2> drives{DriveRecord{kDrivePresent, "WDC WD40EFRX-68N32N0", "WD-WCC7K1AAAAA1"},
                                      DriveRecord{kDrivePresent, "WDC WD40EFRX-68N32N0", "WD-WCC7K2BBBBB2"}};
    // Configured capacity; when empty it follows from the mode and the drives.
    std::optional<std::uint64_t> capacity;
    std::uint8_t activity = 0;
    std::uint8_t progress = 0;
    std::uint8_t monitorMarker = 17;
    std::uint8_t fanTempAlarms = 0xA0;
    std::uint16_t fanSpeed = 1800;
    std::uint8_t temperature = 38;
    std::string subCode = "A01";
    std::uint8_t badSectors = 0;
    std::array<std::uint32_t, 10> ring{};
    // Hybrid layout only.
    std::uint8_t cacheDisableRequest = 0;
    std::uint32_t flushPosition = 0xFFFFFFFFu;
    std::uint64_t flushPosition2 = 0xFFFFFFFFFFull;

    StatusOptions& setKind(std::uint8_t v) { kind = v; return *this; }
    StatusOptions& setMode(std::uint8_t v) { mode = v; return *this; }
    // drive: 0 or 1
    StatusOptions& setDriveState(int drive, std::uint8_t state) { drives.at(static_cast<std::size_t>(drive)).state = state; return *this; }
    StatusOptions& setDrive(int drive, DriveRecord d) { drives.at(static_cast<std::size_t>(drive)) = std::move(d); return *this; }
    StatusOptions& setCapacity(std::uint64_t sectors) { capacity = sectors; return *this; }
    StatusOptions& setActivity(std::uint8_t a, std::uint8_t progressPercent) { activity = a; progress = progressPercent; return *this; }
    StatusOptions& setFan(std::uint8_t alarms, std::uint16_t rpm, std::uint8_t celsius) { fanTempAlarms = alarms; fanSpeed = rpm; temperature = celsius; return *this; }
    StatusOptions& setSubCode(std::string v) { subCode = std::move(v); return *this; }
    StatusOptions& setBadSectors(std::uint8_t v) { badSectors = v; return *this; }
    StatusOptions& setRing(std::array<std::uint32_t, 10> v) { ring = v; return *this; }
};

Block makeIdentityPage(const IdentityOptions& options = {});
// RAID layout for kind 0xA0, hybrid layout for 0xB0 and 0xC0.
Block makeStatusRecord(const StatusOptions& options = {});
std::uint8_t driveFlags(std::uint8_t drive1State, std::uint8_t drive2State);
// The configured capacity the options imply (explicit value, or derived from the mode).
std::uint64_t configuredCapacity(const StatusOptions& options);

// Write / read a 512-byte block file. readBlockFile fails unless the file is exactly
// 512 bytes; `error` then says why.
bool writeBlockFile(const std::string& path, const Block& block);
bool readBlockFile(const std::string& path, Block& out, std::string& error);

// Write / read a whole flash picture (`size` bytes). Only regular files are read
// (a FIFO or device would never end or never start), and never more than size + 1
// bytes of them; writing refuses anything present that is not a regular file.
bool writeFlashFile(const std::string& path, const std::vector<std::uint8_t>& content);
bool readFlashFile(const std::string& path, std::size_t size, std::vector<std::uint8_t>& out, std::string& error);

}  // namespace raid::sim

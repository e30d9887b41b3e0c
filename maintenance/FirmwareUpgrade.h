// Writing a loaded firmware image into one enclosure's SPI flash.
//
// The upgrade start reads the controller's record and the flash's record area, then
// picks one of two procedures: the full upgrade (erase, program and verify all 512
// KiB) or the sub-code update (each sub-code of the image into the next free 48 KiB
// slot, verified, and a new record appended to the record area). Both run to the end
// inside the click, on the engine thread; the SPI primitives let the engine's pending
// work run before every request, so the window stays live and the caller's busy flag
// keeps polling, re-detection, navigation and closing away meanwhile.
//
// Before a full upgrade the whole flash is read twice and, when both reads agree, kept
// as a file (see UpgradePorts::saveBackup), so that an image that turns out bad can be
// undone by loading that file. Without a good copy nothing is erased.
//
// A sub-code update writes a record that sends the controller to the slots it names,
// so it names only slots it has just filled: one directory entry the update cannot
// take ends it before anything is written.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/DeviceState.h"
#include "device/Reporter.h"
#include "device/Transport.h"
#include "maintenance/FirmwareImage.h"
#include "maintenance/SpiFlash.h"
#include "maintenance/UpgradePageModel.h"

namespace raid {

namespace upgrade {
constexpr std::uint32_t kLowBank = 0xC000;   // first of four 48 KiB slots
constexpr std::uint32_t kHighBank = 0x3C000; // first of the other four
constexpr std::uint32_t kTestArea = 0x60000; // what the full upgrade's SPI test erases
constexpr std::uint32_t kTestLength = 0xC000;
// The sub-code read-back starts one page early: the page before the slot is read too.
constexpr std::uint32_t kReadBackLength = 0xC200;
constexpr std::size_t kMaxSubCodeEntries = 4;
// Progress units: erase 4 KiB = 1, program 512 bytes = 1, read 512 bytes = 1.
constexpr std::uint32_t kFlashReadUnits = firmware::kFlashSize / 512;
constexpr std::uint32_t kFullUpgradeUnits =
    kTestLength / 4096 + firmware::kFlashSize / 4096 + firmware::kFlashSize / 512 + kFlashReadUnits;
constexpr std::uint32_t kSubCodeUnits = firmware::kSlotSize / 4096 + firmware::kSlotSize / 512 + kReadBackLength / 512;
}  // namespace upgrade

// The current record of the flash's record area and what its directory lists.
struct FlashDirectory {
    std::size_t currentIndex = 0;  // slot of the newest record (127 for an erased area)
    ConfigRecord record;
    int low = 0;    // present entries below 0x3C000
    int high = 0;   // present entries at or above it
    int total() const { return low + high; }
};

// `area` is the 32 KiB record area. From slot 0 the erased slots are stepped over,
// then the used ones; the slot before the stop is the current one.
FlashDirectory readFlashDirectory(std::span<const std::uint8_t> area);

enum class UpgradeKind { Full, SubCode };
// Full when the flash lists sub-codes in both banks or more than four, the image
// lists more than four, or the flash record is of kind 0xC0.
UpgradeKind chooseUpgrade(const FlashDirectory& flash, std::size_t imageEntries);
// The sequence number of the record after `current` (0 after 127).
std::uint8_t nextRecordSequence(std::size_t current);

struct UpgradePorts {
    SpiFlash& spi;
    Transport& transport;
    DeviceState& dev;
    Reporter& reporter;
    UpgradeDisplay& display;
    // A box of the engine (blocks until answered).
    std::function<void(const std::string& text, const std::string& caption)> messageBox;
    // A pause that keeps the engine's pending work going.
    std::function<void(std::int64_t ms)> wait;
    // The progress counter the page's timer copies.
    std::uint32_t& progress;
    // Keeps the flash as it was before a full upgrade (both reads agreed); returns the
    // file's path, or nullopt with `error` set. Without it no copy is kept.
    std::function<std::optional<std::string>(std::span<const std::uint8_t> flash, std::string& error)> saveBackup;
    // Where the status-record search of a VU device may look.
    std::uint32_t statusSearchLimit = 0x80000;
};

inline constexpr const char* kNoImageText = "Please Load Firmware File First ";
inline constexpr const char* kUpgradeCaption = "Firmware Upgrade Message";
inline constexpr const char* kWrongKindText = "SPI Configuration Version Error";
inline constexpr const char* kRebuildingText = "Don't upgrade new firmware when device is rebuilding or scanning.";

// Why an upgrade did not begin: each refusal before a procedure runs.
enum class UpgradeRefusal {
    none,
    busy,            // an upgrade runs already, or a detection pass owns the drives
    noImage,         // no firmware image is loaded
    noUpgradeMode,   // the controller did not enter its upgrade mode
    noRecord,        // its status record could not be read
    wrongKind,       // the record is of a controller kind no image is for
    rebuilding,      // the controller rebuilds or scans
    unreadableArea,  // the flash's record area could not be read
};

struct UpgradeOutcome {
    bool started = false;  // a procedure ran (the refusals before it leave this false)
    bool ok = false;
    UpgradeKind kind = UpgradeKind::Full;
    std::string backupPath;  // the copy of the flash kept before a full upgrade
    UpgradeRefusal refusal = UpgradeRefusal::none;
    // Why it did not succeed, refused or failed: the fault, the words the user was last
    // shown of it and the context around them. Ok after a completed upgrade.
    DeviceResult failure;
    // The words of the last box the upgrade showed (its closing message); "" for none.
    std::string closingText;
};

class FirmwareUpgrade {
public:
    explicit FirmwareUpgrade(UpgradePorts ports) : p_(std::move(ports)) {}

    // Image2_UpgradeClick after the busy flag is set: every refusal, the record
    // search, the procedure and its closing message. `device` is the Upgrade page's
    // chosen device; HeldDevice is set to it (the caller resets it with the flag).
    UpgradeOutcome run(const FirmwareImage& image, int device);

    bool FullUpgrade(const FirmwareImage& image, UpgradeOutcome& outcome);
    bool SubCodeUpdate(const FirmwareImage& image, const FlashDirectory& flash, UpgradeOutcome& outcome);

private:
    // Status panel 4 says how a step went; a failed step's result gets its words as context.
    DeviceResult step(DeviceResult r, const char* good, const char* bad);
    DeviceResult writeSubCode(const DirectoryItem& item, std::uint32_t slot);
    DeviceResult appendRecord(ConfigRecord record, const FlashDirectory& flash);
    DeviceResult endUpgradeMode() { return p_.spi.SpiModeCommand(spimode::kUpgradeOff); }

    UpgradePorts p_;
};

}  // namespace raid

#include "maintenance/FirmwareUpgrade.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/StatusRead.h"
#include "monitor/StatusRecord.h"

namespace raid {

namespace {

const char* const kTitle = "Firmware Update...";
const char* const kPowerCycle =
    "\nPlease power off this device or the system,"
    "\nand power on it to enable the new firmware!";

std::string backupNote(const std::string& path) {
    return path.empty() ? std::string() : "\n\nThe firmware as it was before is kept in\n" + path;
}

// A refusal before any procedure ran: why, and the words of the box that said so.
UpgradeOutcome& refused(UpgradeOutcome& outcome, UpgradeRefusal why, DeviceResult failure) {
    outcome.refusal = why;
    outcome.failure = std::move(failure);
    return outcome;
}

DeviceResult refusedFor(const char* text) { return DeviceResult::failure(DeviceFault::refused, text); }

}  // namespace

FlashDirectory readFlashDirectory(std::span<const std::uint8_t> area) {
    const std::size_t slots = std::min(area.size() / firmware::kRecordSize, firmware::kRecordSlots);
    std::size_t i = 0;
    while (i < slots && area[i * firmware::kRecordSize] == 0xFF) ++i;
    while (i < slots && area[i * firmware::kRecordSize] != 0xFF) ++i;
    FlashDirectory dir;
    // An area erased throughout stops past its end: the "current" record is then the
    // last slot, so the next one written is slot 0.
    dir.currentIndex = i == 0 ? firmware::kRecordSlots - 1 : i - 1;
    if (const auto rec = ConfigRecord::from(area.subspan(std::min(area.size(), dir.currentIndex * firmware::kRecordSize))))
        dir.record = *rec;
    for (std::size_t e = 0; e < firmware::kDirectoryEntries; ++e) {
        const SubCodeEntry entry = dir.record.entry(e);
        if (!entry.present()) continue;
        if (entry.offset < upgrade::kHighBank)
            ++dir.low;
        else
            ++dir.high;
    }
    return dir;
}

UpgradeKind chooseUpgrade(const FlashDirectory& flash, std::size_t imageEntries) {
    if ((flash.low > 0 && flash.high > 0) || flash.total() > static_cast<int>(upgrade::kMaxSubCodeEntries) ||
        imageEntries > upgrade::kMaxSubCodeEntries || flash.record.kind() == kControllerHybrid)
        return UpgradeKind::Full;
    return UpgradeKind::SubCode;
}

std::uint8_t nextRecordSequence(std::size_t current) {
    const std::size_t s = current + 1;
    return s > firmware::kRecordSlots - 1 ? 0 : static_cast<std::uint8_t>(s);
}

DeviceResult FirmwareUpgrade::step(DeviceResult r, const char* good, const char* bad) {
    r.within(bad);
    p_.reporter.panel(4, r ? good : bad);
    return r;
}

UpgradeOutcome FirmwareUpgrade::run(const FirmwareImage& image, int device) {
    UpgradeOutcome outcome;
    if (!image.valid()) {
        p_.messageBox(kNoImageText, "Message");
        return refused(outcome, UpgradeRefusal::noImage, refusedFor(kNoImageText));
    }
    p_.dev.HeldDevice = static_cast<std::uint32_t>(device);
    if (DeviceResult on = p_.spi.SpiModeCommand(spimode::kUpgradeOn); !on)
        return refused(outcome, UpgradeRefusal::noUpgradeMode, std::move(on));

    Sector record{};
    p_.dev.UpgradeHoldsDevice = true;
    const DeviceResult gotRecord = readStatusRecord(p_.transport, p_.dev, record.data(), p_.statusSearchLimit);
    p_.transport.report().result(gotRecord, DeviceSite::status);
    p_.dev.UpgradeHoldsDevice = false;
    if (!gotRecord) {
        p_.messageBox("Get SPI Record fail ", "Message");
        endUpgradeMode();
        // The read's own fault, with what it was for.
        return refused(outcome, UpgradeRefusal::noRecord, DeviceResult(gotRecord).within("Get SPI Record fail "));
    }
    const StatusRecord status(record);
    const std::uint8_t kind = status.kind();
    if (kind != kControllerRaid && kind != kControllerSecond && kind != kControllerHybrid) {
        p_.messageBox(kWrongKindText, "Error");
        endUpgradeMode();
        return refused(outcome, UpgradeRefusal::wrongKind, refusedFor(kWrongKindText));
    }
    // Bits 0-1 of the activity byte are set while the controller rebuilds or scans
    // (a hybrid controller's are not looked at).
    if (kind != kControllerHybrid && (status.activity() & 3)) {
        p_.messageBox(kRebuildingText, "Error");
        endUpgradeMode();
        return refused(outcome, UpgradeRefusal::rebuilding, refusedFor(kRebuildingText));
    }

    // The record area tells which slots the controller uses now. An area that could
    // not be read says nothing: writing sub-codes and a record from a guess could
    // leave the controller without firmware, so the upgrade stops here.
    std::vector<std::uint8_t> area(firmware::kSlotSize, 0xFF);
    const DeviceResult readArea = p_.spi.SpiRead(static_cast<std::uint32_t>(firmware::kRecordAreaStart),
                                                 static_cast<std::uint32_t>(firmware::kRecordAreaSize), area.data());
    if (!readArea) {
        p_.messageBox(readArea.lastWords(), "Message");
        endUpgradeMode();
        return refused(outcome, UpgradeRefusal::unreadableArea, readArea);
    }
    const FlashDirectory flash =
        readFlashDirectory(std::span<const std::uint8_t>(area).first(firmware::kRecordAreaSize));
    const std::size_t entries = imageDirectory(image).size();
    outcome.started = true;
    outcome.kind = chooseUpgrade(flash, entries);
    if (outcome.kind == UpgradeKind::Full)
        outcome.ok = FullUpgrade(image, outcome);
    else
        outcome.ok = SubCodeUpdate(image, flash, outcome);
    return outcome;
}

bool FirmwareUpgrade::FullUpgrade(const FirmwareImage& image, UpgradeOutcome& outcome) {
    SpiFlash& spi = p_.spi;
    const std::uint32_t size = static_cast<std::uint32_t>(firmware::kFlashSize);
    const bool keepCopy = static_cast<bool>(p_.saveBackup);
    p_.progress = 0;
    // The bar's maximum is what the steps count, so a finished upgrade fills it.
    p_.display.beginProgress(kTitle, keepCopy ? "Saving the current firmware" : "Process 1 / 4",
                             upgrade::kFullUpgradeUnits + (keepCopy ? 2 * upgrade::kFlashReadUnits : 0));

    DeviceResult r;
    if (keepCopy) {
        // A read that went wrong unnoticed would be kept as the way back and found out
        // only when it is needed: the copy is kept only when a second read agrees.
        std::vector<std::uint8_t> before(size), again(size);
        r = spi.SpiRead(0, size, before.data());
        if (r) r = spi.SpiRead(0, size, again.data());
        if (r) {
            std::string error;
            std::optional<std::string> path;
            if (before != again)
                error = "two reads of the flash differ";
            else
                path = p_.saveBackup(before, error);
            if (path) {
                outcome.backupPath = *path;
            } else {
                // Without the copy a bad image could not be undone: nothing is erased.
                r = DeviceResult::failure(DeviceFault::refused, "The current firmware could not be saved (" + error +
                                                                    "): nothing was written.");
                p_.reporter.panel(4, r.lastWords());
            }
        }
        if (r) p_.display.panelText("Process 1 / 4");
    }
    if (r) r = step(spi.SpiErase(upgrade::kTestArea, upgrade::kTestLength), "SPI test OK", "SPI Test Fail.");
    if (r) {
        p_.display.panelText("Process 2 / 4");
        r = step(spi.SpiErase(0, size), "SPI Erase OK", "SPI Erase Fail.");
    }
    if (r) {
        p_.display.panelText("Process 3 / 4");
        r = step(spi.SpiProgram(0, size, image.bytes().data()), "SPI Program OK", "SPI Program Fail.");
    }
    if (r) {
        p_.display.panelText("Process 4 / 4");
        std::vector<std::uint8_t> back(size);
        r = spi.SpiRead(0, size, back.data());
        if (r) {
            const bool same = std::equal(back.begin(), back.end(), image.bytes().begin());
            r = step(same ? DeviceResult() : DeviceResult::failure(DeviceFault::verify), "SPI Verify OK",
                     "SPI Verify fail !!!");
        }
    }
    // Leaving the upgrade mode can fail too: its words are then the last the user met.
    const DeviceResult off = endUpgradeMode();
    if (!r) r.also(off);
    p_.display.endProgress();
    if (r)
        p_.messageBox(std::string("Firmware Upgrade 4/4 completed!\n") + kPowerCycle + backupNote(outcome.backupPath),
                      kUpgradeCaption);
    else
        p_.messageBox(r.lastWords() + backupNote(outcome.backupPath), "Message");
    outcome.failure = r;
    return r.ok();
}

DeviceResult FirmwareUpgrade::writeSubCode(const DirectoryItem& item, std::uint32_t slot) {
    SpiFlash& spi = p_.spi;
    const std::span<const std::uint8_t> code = *item.subCode;
    const auto length = static_cast<std::uint32_t>(firmware::kSlotSize);
    DeviceResult r = step(spi.SpiErase(slot, length), "SPI Erase OK", "SPI Erase fail");
    if (!r) return r;
    r = step(spi.SpiProgram(slot, length, code.data()), "SPI Page Program OK", "SPI Page Program fail");
    if (!r) return r;
    p_.wait(1000);
    std::uint8_t* back = p_.transport.TransferBuffer();
    r = step(spi.SpiRead(slot - 512, upgrade::kReadBackLength, back), "SPI Read OK", "SPI Read fail");
    if (!r) return r;
    const bool same = std::equal(code.begin(), code.end(), back + 512);
    char text[48];
    std::snprintf(text, sizeof text, "CodeType 0x%02X%s", item.entry.codeType, same ? " Verify OK." : " Verify Fail");
    p_.reporter.panel(4, text);
    return same ? DeviceResult() : DeviceResult::failure(DeviceFault::verify, text);
}

DeviceResult FirmwareUpgrade::appendRecord(ConfigRecord record, const FlashDirectory& flash) {
    SpiFlash& spi = p_.spi;
    const std::uint8_t s = nextRecordSequence(flash.currentIndex);
    record.setSequence(s);
    const std::uint32_t at = static_cast<std::uint32_t>(firmware::kRecordAreaStart) + std::uint32_t{s} * 256;
    // The first slot of a sector: the sector is erased unless it already is.
    if (s % 16 == 0) {
        Sector head{};
        head.fill(0xFF);
        const bool read = spi.SpiRead(at, 512, head.data()).ok();
        if (!read || head[0] != 0xFF || head[1] != 0xFF || head[2] != 0xFF) {
            DeviceResult erased = spi.SpiErase(at, 4096);
            if (!erased) return erased;
        }
    }
    // The record is what makes the controller run the new sub-codes: a record that
    // did not reach the flash is a failed upgrade, not a completed one.
    DeviceResult programmed = spi.SpiProgram(at, 256, record.bytes().data());
    if (!programmed) return programmed;
    // Only the newest sector keeps records: the one before it goes (the last one
    // when the area starts again at slot 0). Older records are no longer needed, so
    // a failure here leaves the upgrade complete.
    const std::uint32_t e = s == 0 ? static_cast<std::uint32_t>(firmware::kRecordAreaSize) : std::uint32_t{s} * 256;
    if (e % 4096 == 0) spi.SpiErase(static_cast<std::uint32_t>(firmware::kRecordAreaStart) + e - 4096, 4096);
    return {};
}

bool FirmwareUpgrade::SubCodeUpdate(const FirmwareImage& image, const FlashDirectory& flash, UpgradeOutcome& outcome) {
    const std::vector<DirectoryItem> items = imageDirectory(image);
    const std::size_t n = items.size();
    // The new record is the image's with the slots this update fills: an entry it
    // cannot take would stay in it as the image has it, and the controller would look
    // for code where none was written. So one such entry stops the update here,
    // before the first erase, with the flash as it was.
    if (std::any_of(items.begin(), items.end(), [](const DirectoryItem& item) { return !item.usable(); })) {
        p_.reporter.panel(4, kFileOffsetErrorText);
        p_.messageBox(kFileOffsetErrorText, kFileOffsetErrorCaption);
        endUpgradeMode();
        outcome.failure = refusedFor(kFileOffsetErrorText);
        return false;
    }
    p_.progress = 0;
    p_.display.beginProgress(kTitle, "", static_cast<std::uint32_t>(n) * upgrade::kSubCodeUnits);

    std::uint32_t slot = flash.low > 0 ? upgrade::kHighBank : upgrade::kLowBank;
    ConfigRecord record = image.configRecord().value_or(ConfigRecord());
    std::size_t u = 0;
    DeviceResult r;
    for (const DirectoryItem& item : items) {
        p_.display.panelText("Process " + std::to_string(u + 1) + " / " + std::to_string(n));
        r = writeSubCode(item, slot);
        if (!r) break;
        record.setEntryOffset(item.index, slot);
        slot += static_cast<std::uint32_t>(firmware::kSlotSize);
        ++u;
    }
    if (r) {
        record.setNextSlot(slot);
        r = appendRecord(record, flash);
        // The record's own requests are not part of the bar: it is full now.
        if (r) p_.progress = static_cast<std::uint32_t>(n) * upgrade::kSubCodeUnits;
    }
    p_.display.endProgress();
    if (r)
        p_.messageBox("Firmware Upgrade " + std::to_string(u) + "/" + std::to_string(n) + "completed!\n" + kPowerCycle,
                      kUpgradeCaption);
    else
        p_.messageBox(r.lastWords(), kUpgradeCaption);
    endUpgradeMode();
    outcome.failure = r;
    return r.ok();
}

}  // namespace raid

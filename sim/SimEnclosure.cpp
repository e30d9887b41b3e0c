#include "sim/SimEnclosure.h"

#include "platform/Random.h"
#include "sim/Opcodes.h"

#include <algorithm>
#include <cstring>

namespace raid::sim {

namespace {
constexpr std::size_t kMarkOffset = 258;
constexpr std::size_t kTableLength = 20;
constexpr std::size_t kEraseAnswerLength = 8;
}  // namespace

const char* pathName(Path path) {
    switch (path) {
    case Path::Mailbox: return "mailbox";
    case Path::Ata: return "ata";
    case Path::Vu1: return "vu1";
    case Path::Vu2: return "vu2";
    }
    return "?";
}

SimEnclosure::SimEnclosure(Path path, const Block& identity, const Block& status)
    : SimDisk("SIM RAID VOLUME", "SIMRAID0000000000001"),
      path_(path),
      identity_(identity),
      status_(status),
      flash_(std::make_unique<Flash>()) {
    // Stand-in for the controller firmware: anything but erased flash, and the same
    // on every run so read-backs can be compared.
    XorShiftRandom rnd(0x5EED1234u);
    for (std::uint32_t a = 0; a < kRecordAreaStart; a += 4) putLe32(flash_->data() + a, rnd.next());
    setRecordSlotsUsedLocked(0, 3);
}

void SimEnclosure::setStatus(const Block& status) {
    std::lock_guard<std::mutex> lock(mu_);
    status_ = status;
}

Block SimEnclosure::status() const {
    std::lock_guard<std::mutex> lock(mu_);
    return status_;
}

Block SimEnclosure::identity() const {
    std::lock_guard<std::mutex> lock(mu_);
    return identity_;
}

std::vector<MailboxCommand> SimEnclosure::mailboxLog() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {mailbox_.begin(), mailbox_.end()};
}

std::uint64_t SimEnclosure::mailboxCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return mailboxCount_;
}

void SimEnclosure::clearMailboxLog() {
    std::lock_guard<std::mutex> lock(mu_);
    mailbox_.clear();
}

Block SimEnclosure::flashAnswer() const {
    std::lock_guard<std::mutex> lock(mu_);
    return flashAnswer_;
}

void SimEnclosure::setFlashAnswer(const Block& answer) {
    std::lock_guard<std::mutex> lock(mu_);
    flashAnswer_ = answer;
}

void SimEnclosure::setRecordSlotsUsed(int first, int count) {
    std::lock_guard<std::mutex> lock(mu_);
    setRecordSlotsUsedLocked(first, count);
}

void SimEnclosure::setRecordSlotsUsedLocked(int first, int count) {
    std::uint8_t* area = flash_->data() + kRecordAreaStart;
    std::fill(area, area + kRecordSlots * kRecordSlotSize, std::uint8_t{0xFF});
    first = std::clamp(first, 0, kRecordSlots);
    const int last = std::clamp(first + std::max(count, 0), first, kRecordSlots);
    for (int slot = first; slot < last; ++slot) {
        std::uint8_t* rec = area + static_cast<std::uint32_t>(slot) * kRecordSlotSize;
        std::fill(rec, rec + kRecordSlotSize, std::uint8_t{0x00});
        rec[0] = static_cast<std::uint8_t>(slot);
        rec[1] = status_[1];
    }
}

std::uint32_t SimEnclosure::newestRecordAddress() const {
    std::lock_guard<std::mutex> lock(mu_);
    return newestRecordAddressLocked();
}

std::uint32_t SimEnclosure::newestRecordAddressLocked() const {
    auto used = [this](int slot) {
        return (*flash_)[kRecordAreaStart + static_cast<std::uint32_t>(slot) * kRecordSlotSize] != 0xFF;
    };
    int i = 0;
    while (i < kRecordSlots && !used(i)) ++i;
    if (i == kRecordSlots) return kLastRecordSlot;
    while (i < kRecordSlots && used(i)) ++i;
    return kRecordAreaStart + static_cast<std::uint32_t>(i - 1) * kRecordSlotSize;
}

bool SimEnclosure::statusViewArmed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return statusArmed_;
}

bool SimEnclosure::doScsi(const ScsiRequest& req) {
    // Whatever this request is, it ends the probe sequence unless it is the one
    // status read the probe armed (flashRead re-arms on a new probe).
    wasArmed_ = statusArmed_;
    statusArmed_ = false;
    return SimDisk::doScsi(req);
}

bool SimEnclosure::doAta(const std::uint8_t* regs, std::uint8_t* data, std::uint32_t length) {
    statusArmed_ = false;
    if (path_ != Path::Ata) return SimDisk::doAta(regs, data, length);
    if (regs[6] == kAtaVendorFlash) return ataVendor(regs);
    if (regs[6] != kAtaIdentifyDevice || length < kSectorSize) return false;
    Block page = identity_;
    // The ATA-path bridge always marks its IDENTIFY answer, whatever page it holds.
    page[kMarkOffset] = '3';
    page[kMarkOffset + 1] = 'X';
    std::memcpy(data, page.data(), kSectorSize);
    return true;
}

bool SimEnclosure::reservedSector(std::uint64_t lba) const {
    switch (path_) {
    case Path::Mailbox:
        return lba == kStatusSector || lba == kIdentitySector || lba == kFlashAnswerSector;
    case Path::Ata:
        return lba == kStatusSector || lba == kFlashAnswerSector;
    case Path::Vu1:
    case Path::Vu2:
        return false;
    }
    return false;
}

void SimEnclosure::readSector(std::uint64_t lba, std::uint8_t* out) {
    if (reservedSector(lba)) {
        const Block& b = lba == kStatusSector ? status_ : lba == kIdentitySector ? identity_ : flashAnswer_;
        std::memcpy(out, b.data(), kSectorSize);
        return;
    }
    loadSector(lba, out);
}

bool SimEnclosure::writeSectors(std::uint64_t lba, std::uint32_t count, const std::uint8_t* data) {
    const bool mailboxSector = lba == kMailboxSector || (lba >= kMailboxFirst && lba <= kMailboxLast);
    if (mailboxPath() && count == 1 && mailboxSector && data[0] == '3' && data[1] == 'X') {
        return dispatchMailboxCommand(static_cast<std::uint32_t>(lba), data);
    }
    // The controller owns its reserved sectors: a write there is accepted and
    // dropped, so the identity and status the program reads stay the controller's.
    for (std::uint32_t i = 0; i < count; ++i)
        if (!reservedSector(lba + i)) storeSector(lba + i, data + i * kSectorSize);
    return true;
}

bool SimEnclosure::dispatchMailboxCommand(std::uint32_t sector, const std::uint8_t* data) {
    MailboxCommand cmd;
    cmd.sector = sector;
    std::memcpy(cmd.data.data(), data, kSectorSize);
    mailbox_.push_back(cmd);
    if (mailbox_.size() > kMailboxLogLimit) mailbox_.pop_front();
    ++mailboxCount_;
    // Flash and mode commands are acted on (SimFlash.cpp); the others are recorded
    // only, and sector 60 keeps its previous answer.
    return flashCommand(sector, data);
}

bool SimEnclosure::doVendor(const ScsiRequest& req) {
    if (path_ != Path::Vu1 && path_ != Path::Vu2) return false;
    const std::uint8_t* c = req.cdb.data();
    const bool twoBytePrefix = c[1] == kScsiVendorPrefix;
    if (twoBytePrefix != (path_ == Path::Vu2)) return false;
    const std::size_t p = twoBytePrefix ? 2 : 1;
    const std::uint32_t address = getBe24(c + p + 2);
    const bool probe = c[p + 6] == 1;
    switch (c[p]) {
    case kVuFlashRead:
        return flashRead(address, probe, wasArmed_, req);
    case kVuFlashProgram:
        return flashProgram(address, req);
    case kVuFlashErase:
        return flashErase(address, req);
    case kVuIdentification:
        if (!req.dataIn || req.length < kSectorSize) return false;
        std::memcpy(req.data, identity_.data(), kSectorSize);
        return true;
    case kVuTable: {
        if (!req.dataIn || req.length < kTableLength) return false;
        // 0x50 0x8B marks a VU controller; then the opcodes it understands.
        const std::uint8_t table[kTableLength] = {0x50, 0x8B, kVuFlashRead, kVuFlashProgram,
                                                  kVuFlashErase, kVuIdentification, kVuTable};
        std::memcpy(req.data, table, kTableLength);
        return true;
    }
    default:
        return false;
    }
}

bool SimEnclosure::flashRead(std::uint32_t address, bool probe, bool wasArmed, const ScsiRequest& req) {
    if (!req.dataIn || req.length < kSectorSize) return false;
    if (!probe && wasArmed && address == newestRecordAddressLocked()) {
        std::memcpy(req.data, status_.data(), kSectorSize);
        return true;
    }
    if (!readFlashPage(address, req.data)) return refuse(0, kVuFlashRead, 0, address, "read outside the flash");
    if (probe) statusArmed_ = true;
    return true;
}

bool SimEnclosure::flashProgram(std::uint32_t address, const ScsiRequest& req) {
    if (req.dataIn || req.length < kFlashProgramSize) return false;
    if (!programPage(address, req.data)) return refuse(0, kVuFlashProgram, 0, address, "program outside the flash");
    return true;
}

bool SimEnclosure::flashErase(std::uint32_t address, const ScsiRequest& req) {
    if (!req.dataIn || req.length < kEraseAnswerLength) return false;
    if (!eraseBlock(address)) return refuse(0, kVuFlashErase, 0, address, "erase outside the flash");
    std::memset(req.data, 0, kEraseAnswerLength);
    return true;
}

}  // namespace raid::sim

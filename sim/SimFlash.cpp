// The controller's flash commands on the mailbox and ATA paths, the NOR rules shared
// with the VU path, and the test hooks around them (refusal log, bit flip, whole-flash
// copies). The wire format is described in SimEnclosure.h.
#include "sim/SimEnclosure.h"

#include "sim/Opcodes.h"

#include <algorithm>
#include <cstring>

namespace raid::sim {

namespace {

// Mailbox command codes and sub-codes the controller acts on.
constexpr std::uint8_t kMbRead = 0x00, kMbReadSub = 0x03;
constexpr std::uint8_t kMbErase = 0x01, kMbEraseSub = 0x20;
constexpr std::uint8_t kMbProgram = 0x02, kMbProgramSub = 0x02;
constexpr std::uint8_t kMbPrimitive = 0x03;
constexpr std::uint8_t kMbLowArea = 0x04;
constexpr std::uint8_t kMbUpgrade = 0x10;
constexpr std::size_t kProgramDataOffset = 7;
constexpr std::size_t kProgramMarkOffset = 509;
constexpr std::uint8_t kProgramMark = 0x55;

// ATA vendor command features.
constexpr std::uint8_t kAtaRead = 0x01;
constexpr std::uint8_t kAtaDriveHead = 0xE0;

std::uint16_t checksumOf(const std::uint8_t* block) {
    std::uint32_t sum = 0;
    for (std::size_t i = 7; i <= 509; ++i) sum += block[i];
    return static_cast<std::uint16_t>(sum);
}

bool mailboxSector(std::uint64_t lba) { return lba == kMailboxSector || (lba >= kMailboxFirst && lba <= kMailboxLast); }

FlashRequest mailboxKind(std::uint8_t code) {
    switch (code) {
    case kMbRead: return FlashRequest::Read;
    case kMbErase: return FlashRequest::Erase;
    case kMbProgram: return FlashRequest::Program;
    case kMbPrimitive:
    case kMbLowArea:
    case kMbUpgrade: return FlashRequest::Mode;
    default: return FlashRequest::None;
    }
}

}  // namespace

bool SimEnclosure::loadFlash(const std::vector<std::uint8_t>& content) {
    if (content.size() != kFlashSize) return false;
    std::lock_guard<std::mutex> lock(mu_);
    std::copy(content.begin(), content.end(), flash_->begin());
    return true;
}

std::vector<std::uint8_t> SimEnclosure::flashCopy() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {flash_->begin(), flash_->end()};
}

FlashModes SimEnclosure::flashModes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return modes_;
}

std::vector<FlashRefusal> SimEnclosure::flashRefusals() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {refusals_.begin(), refusals_.end()};
}

void SimEnclosure::flipBitOfRead(int skip) {
    std::lock_guard<std::mutex> lock(mu_);
    flipAfter_ = std::max(skip, 0);
}

FlashRequest SimEnclosure::classify(const ScsiRequest& req) const {
    const std::uint8_t* c = req.cdb.data();
    if (path_ == Path::Vu1 || path_ == Path::Vu2) {
        const std::size_t p = path_ == Path::Vu2 ? 2 : 1;
        if (c[0] != kScsiVendorPrefix || (p == 2 && c[1] != kScsiVendorPrefix)) return FlashRequest::None;
        switch (c[p]) {
        // The slot probe of the status-record search is not a flash read of the
        // upgrade; the read after it is (the controller cannot tell it apart either).
        case kVuFlashRead: return c[p + 6] == 1 ? FlashRequest::None : FlashRequest::Read;
        case kVuFlashProgram: return FlashRequest::Program;
        case kVuFlashErase: return FlashRequest::Erase;
        default: return FlashRequest::None;
        }
    }
    if (c[0] != kScsiWrite10 || req.dataIn || !req.data || req.length < kSectorSize || c[8] != 1) return FlashRequest::None;
    if (!mailboxSector(getBe32(c + 2)) || req.data[0] != '3' || req.data[1] != 'X') return FlashRequest::None;
    return mailboxKind(req.data[2]);
}

FlashRequest SimEnclosure::classifyAta(const std::uint8_t* regs) const {
    if (path_ != Path::Ata || regs[6] != kAtaVendorFlash) return FlashRequest::None;
    return regs[0] == kAtaRead ? FlashRequest::Read : FlashRequest::Mode;
}

bool SimEnclosure::refuse(std::uint32_t sector, std::uint8_t code, std::uint8_t sub, std::uint32_t address,
                          const char* reason) {
    refusals_.push_back(FlashRefusal{sector, code, sub, address, reason});
    if (refusals_.size() > kMailboxLogLimit) refusals_.pop_front();
    return false;
}

bool SimEnclosure::readFlashPage(std::uint32_t address, std::uint8_t* out) {
    if (address >= kFlashSize) return false;
    // A read that starts in the last slot runs off the end of the part: the bytes
    // past the end read as erased, as the controller's SPI read does.
    const std::uint32_t inside = std::min<std::uint32_t>(kSectorSize, kFlashSize - address);
    std::memcpy(out, flash_->data() + address, inside);
    std::memset(out + inside, 0xFF, kSectorSize - inside);
    if (flipAfter_ == 0) out[0] ^= 0x01;
    if (flipAfter_ >= 0) --flipAfter_;
    return true;
}

bool SimEnclosure::eraseBlock(std::uint32_t address) {
    if (address >= kFlashSize) return false;
    const std::uint32_t block = address & ~(kFlashEraseBlock - 1);
    std::fill_n(flash_->data() + block, kFlashEraseBlock, std::uint8_t{0xFF});
    return true;
}

bool SimEnclosure::programPage(std::uint32_t address, const std::uint8_t* data) {
    if (address >= kFlashSize || kFlashSize - address < kFlashProgramSize) return false;
    // NOR: programming can only clear bits.
    for (std::uint32_t i = 0; i < kFlashProgramSize; ++i) (*flash_)[address + i] &= data[i];
    return true;
}

bool SimEnclosure::flashCommand(std::uint32_t sector, const std::uint8_t* data) {
    const std::uint8_t code = data[2];
    const std::uint8_t sub = data[3];
    const std::uint32_t address = getBe24(data + 4);
    if (mailboxKind(code) == FlashRequest::None) return true;
    auto no = [&](const char* reason) { return refuse(sector, code, sub, address, reason); };
    if (getLe16(data + 510) != checksumOf(data)) return no("bad checksum");

    switch (code) {
    case kMbRead:
        if (sub != kMbReadSub) return no("unknown sub-code");
        if (!readFlashPage(address, flashAnswer_.data())) return no("read outside the flash");
        return true;
    case kMbErase:
        if (sub != kMbEraseSub) return no("unknown sub-code");
        if (address >= kFlashSize) return no("erase outside the flash");
        if (address < kLowAreaEnd && !modes_.lowArea) return no("erase in the low area while low-area writes are off");
        return eraseBlock(address);
    case kMbProgram:
        if (sub != kMbProgramSub) return no("unknown sub-code");
        if (data[kProgramMarkOffset] != kProgramMark) return no("program without the 0x55 mark");
        if (address >= kFlashSize || kFlashSize - address < kFlashProgramSize) return no("program outside the flash");
        if (address < kLowAreaEnd && !modes_.lowArea) return no("program in the low area while low-area writes are off");
        return programPage(address, data + kProgramDataOffset);
    default:
        break;
    }
    if (sub > 1) return no("unknown sub-code");
    const bool on = sub == 1;
    if (code == kMbUpgrade) modes_.upgrade = on;
    else if (code == kMbPrimitive) modes_.primitive = on;
    else modes_.lowArea = on;
    return true;
}

bool SimEnclosure::ataVendor(const std::uint8_t* regs) {
    const std::uint8_t features = regs[0];
    const std::uint32_t address = regs[2] | std::uint32_t{regs[3]} << 8 | std::uint32_t{regs[4]} << 16;
    auto no = [&](const char* reason) { return refuse(0, kAtaVendorFlash, features, address, reason); };
    switch (features) {
    case kAtaRead:
        if (regs[5] != kAtaDriveHead) return no("read without drive/head 0xE0");
        if (!readFlashPage(address, flashAnswer_.data())) return no("read outside the flash");
        return true;
    case 0x11: modes_.upgrade = true; return true;
    case 0x10: modes_.upgrade = false; return true;
    case 0x03: modes_.primitive = true; return true;
    case 0x02: modes_.primitive = false; return true;
    case 0x04: modes_.lowArea = true; return true;
    case 0x05: modes_.lowArea = false; return true;
    default: return no("unknown features");
    }
}

}  // namespace raid::sim

#include "device/DevicePath.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/DeviceState.h"

namespace raid {

namespace spimode {
bool known(std::uint8_t code) {
    switch (code) {
    case kUpgradeOn: case kUpgradeOff: case kPrimitiveOn: case kPrimitiveOff: case kLowAreaOn: case kLowAreaOff:
        return true;
    default: return false;
    }
}
}  // namespace spimode

namespace {

// Mailbox command codes and sub-codes of the flash commands.
constexpr std::uint8_t kMbRead = 0x00, kMbReadSub = 0x03;
constexpr std::uint8_t kMbErase = 0x01, kMbEraseSub = 0x20;
constexpr std::uint8_t kMbProgram = 0x02, kMbProgramSub = 0x02;
constexpr std::size_t kProgramData = 7;
constexpr std::size_t kProgramMark = 509;
constexpr std::uint8_t kProgramMarkValue = 0x55;
constexpr std::uint32_t kProgramUnit = 256;
// Where the flash commands go and where a read's answer is fetched.
constexpr std::uint32_t kCommandSector = 20;
constexpr std::uint32_t kFlashAnswerSector = 60;

// Where the mailbox controller answers with its identification page.
constexpr std::uint32_t kIdentitySector = 58;
// The INQUIRY peripheral byte of a vendor-unique bridge.
constexpr std::uint8_t kVendorUniqueDevice = 0x1F;

// The ATA vendor command and its read form.
constexpr std::uint8_t kAtaVendor = 0x88;
constexpr std::uint8_t kAtaReadFeatures = 0x01;
constexpr std::uint8_t kAtaDriveHead = 0xE0;

DeviceResult good() { return {}; }

// An identification page carries "3X" at 258: it comes from one of our controllers.
bool carriesMark(const std::uint8_t* page) { return page[258] == '3' && page[259] == 'X'; }
DeviceResult failed(std::string text) { return DeviceResult::failure(DeviceFault::request, std::move(text)); }

// Mailbox code and sub-code of each mode command.
void modeMailbox(std::uint8_t code, std::uint8_t& mbCode, std::uint8_t& sub) {
    switch (code) {
    case spimode::kUpgradeOn: mbCode = 0x10; sub = 0x01; return;
    case spimode::kUpgradeOff: mbCode = 0x10; sub = 0x00; return;
    case spimode::kPrimitiveOn: mbCode = 0x03; sub = 0x01; return;
    case spimode::kPrimitiveOff: mbCode = 0x03; sub = 0x00; return;
    case spimode::kLowAreaOn: mbCode = 0x04; sub = 0x01; return;
    default: mbCode = 0x04; sub = 0x00; return;
    }
}

void mailboxHead(Transport& t, std::uint8_t code, std::uint8_t sub, std::uint32_t address) {
    Sector& m = t.MailboxCommand();
    m[0] = '3';
    m[1] = 'X';
    m[2] = code;
    m[3] = sub;
    m[4] = static_cast<std::uint8_t>(address >> 16);
    m[5] = static_cast<std::uint8_t>(address >> 8);
    m[6] = static_cast<std::uint8_t>(address);
}

bool writeMailbox(Transport& t, std::uint32_t sector) {
    return t.WriteSectors(t.CurrentHandle(), sector, t.MailboxCommand().data(), 1);
}

// A one-off mailbox command at a random sector; the failure names the sector.
DeviceResult oneOffMailbox(Transport& t) {
    t.MailboxChecksum();
    const std::uint32_t sector = t.RandomMailboxSector();
    if (writeMailbox(t, sector)) return good();
    return failed("Error code " + std::to_string(sector) + "1");
}

DeviceResult fetchFlashAnswer(Transport& t, std::uint8_t* destination) {
    if (t.ReadSectors(t.CurrentHandle(), kFlashAnswerSector, destination, 1)) return good();
    return failed("Error code 600");
}

// Status at a sector, flash writes through the command sector: the mailbox and the
// ATA paths share these.
class SectorPath : public DevicePath {
public:
    DeviceResult readStatus(Transport& t, std::uint8_t* buffer, std::uint32_t) const override {
        if (t.ReadSectors(t.CurrentHandle(), kStatusSector, buffer, 1)) return good();
        return failed("Error code 330");
    }
    DeviceResult flashErase(Transport& t, std::uint32_t address, bool first) const override {
        // The checksum leaves the address bytes out, so one checksum serves every sector.
        mailboxHead(t, kMbErase, kMbEraseSub, address);
        if (first) t.MailboxChecksum();
        if (writeMailbox(t, kCommandSector)) return good();
        return failed("Error code 201");
    }
    DeviceResult flashProgram(Transport& t, std::uint32_t address, const std::uint8_t* source) const override {
        Sector& m = t.MailboxCommand();
        mailboxHead(t, kMbProgram, kMbProgramSub, address);
        std::memcpy(m.data() + kProgramData, source, kProgramUnit);
        m[kProgramMark] = kProgramMarkValue;
        t.MailboxChecksum();
        if (writeMailbox(t, kCommandSector)) return good();
        return failed("Error code 201");
    }
};

class MailboxPath final : public SectorPath {
public:
    const char* name() const override { return "mailbox"; }
    std::uint32_t codeBits() const override { return kCodeMailbox; }
    ProbeAnswer probe(Recognition& r) const override {
        if (!r.transport.ReadSectors(r.handle, kIdentitySector, r.page, 1)) return {false, identityUnread()};
        return {carriesMark(r.page), {}};
    }
    DeviceResult flashRead(Transport& t, std::uint32_t address, std::uint8_t* destination) const override {
        mailboxHead(t, kMbRead, kMbReadSub, address);
        DeviceResult sent = oneOffMailbox(t);
        if (!sent) return sent;
        return fetchFlashAnswer(t, destination);
    }
    DeviceResult mode(Transport& t, std::uint8_t code) const override {
        // The payload is whatever the last command left; its checksum is made again
        // so that the controller takes the block whatever came before.
        std::uint8_t mbCode = 0, sub = 0;
        modeMailbox(code, mbCode, sub);
        mailboxHead(t, mbCode, sub, 0);
        return oneOffMailbox(t);
    }
};

class AtaPath final : public SectorPath {
public:
    const char* name() const override { return "ata"; }
    std::uint32_t codeBits() const override { return kCodeAta; }
    ProbeAnswer probe(Recognition& r) const override {
        // Asked whatever the mailbox said: a drive may answer both ways.
        r.step("Mode 2");
        std::uint8_t* identify = r.transport.TransferBuffer();
        std::array<std::uint8_t, 7> regs{0, 0, 0, 0, 0, kAtaDriveHead, 0xEC};
        if (!r.transport.SendAta(r.handle, regs.data(), identify, 1) || !carriesMark(identify)) return {};
        // On the ATA way the enclosure's identity is its IDENTIFY answer (firmware at
        // 46, model at 54). Sector 58 is then ordinary data; keeping it would leave the
        // enclosure without model, firmware and capabilities everywhere.
        if (!carriesMark(r.page)) std::copy(identify, identify + 512, r.page);
        return {true, {}};
    }
    DeviceResult flashRead(Transport& t, std::uint32_t address, std::uint8_t* destination) const override {
        std::array<std::uint8_t, 7> regs{kAtaReadFeatures,
                                         0,
                                         static_cast<std::uint8_t>(address),
                                         static_cast<std::uint8_t>(address >> 8),
                                         static_cast<std::uint8_t>(address >> 16),
                                         kAtaDriveHead,
                                         kAtaVendor};
        if (!t.SendAta(t.CurrentHandle(), regs.data(), nullptr, 0)) return failed("VU command 0x88 FEA 0x01 Read Error");
        return fetchFlashAnswer(t, destination);
    }
    DeviceResult mode(Transport& t, std::uint8_t code) const override {
        std::array<std::uint8_t, 7> regs{code, 0, 0, 0, 0, 0, kAtaVendor};
        if (t.SendAta(t.CurrentHandle(), regs.data(), nullptr, 0)) return good();
        char text[40];
        std::snprintf(text, sizeof text, "VU command 0x88 FEA %02X Error", code);
        return failed(text);
    }
};

// The VU identification of the current handle with one prefix length: the identity
// page into `page`, or the table command's answer. True when it is an enclosure.
bool probeVu(Transport& t, std::uint8_t* page, bool shortPrefix) {
    if (t.SendVu(kVuIdentify, page, 0, shortPrefix) && carriesMark(page)) return true;
    std::uint8_t* transfer = t.TransferBuffer();
    transfer[0] = 0;
    return t.SendVuTable(3, shortPrefix) && transfer[0] == 0x50 && transfer[1] == 0x8B;
}

class VuPath final : public DevicePath {
public:
    explicit VuPath(bool shortPrefix) : short_(shortPrefix) {}
    const char* name() const override { return "vu"; }
    std::uint32_t codeBits() const override { return short_ ? kCodeVu | kCodeShortPrefix : kCodeVu; }
    ProbeAnswer probe(Recognition& r) const override {
        // Only a drive no other way reached, and only a vendor-unique one, is asked.
        if (r.found != 0 || !r.vendorUnique()) return {};
        r.step(short_ ? "Mode 3" : "Mode 4");
        return {probeVu(r.transport, r.page, short_), {}};
    }

    DeviceResult readStatus(Transport& t, std::uint8_t* buffer, std::uint32_t searchLimit) const override {
        // Skip the erased slots before the records, then the used ones; the slot
        // before the stop is the newest. Only byte 0 of each probe answer decides.
        // A limit outside the record area would walk the search into the firmware.
        if (searchLimit <= kRecordAreaStart || searchLimit > kRecordAreaEnd) searchLimit = kRecordAreaEnd;
        const std::uint32_t last = searchLimit - kRecordStep;
        std::uint32_t p = kRecordAreaStart;
        while (p <= last) {
            t.SendVu(kVuProbe, buffer, p, short_);
            if (buffer[0] != 0xFF) break;
            p += kRecordStep;
        }
        while (p <= last) {
            t.SendVu(kVuProbe, buffer, p, short_);
            if (buffer[0] == 0xFF) break;
            p += kRecordStep;
        }
        p -= kRecordStep;
        if (t.SendVu(kVuRead, buffer, p, short_)) return good();
        return failed("Read Error for USB");
    }
    DeviceResult flashRead(Transport& t, std::uint32_t address, std::uint8_t* destination) const override {
        if (t.SendVu(kVuRead, destination, address, short_)) return good();
        return failed("Read SPI Error USB");
    }
    DeviceResult flashErase(Transport& t, std::uint32_t address, bool) const override {
        if (t.SendVu(kVuErase, t.TransferBuffer(), address, short_)) return good();
        return failed("Erase SPI Error USB");
    }
    DeviceResult flashProgram(Transport& t, std::uint32_t address, const std::uint8_t* source) const override {
        std::array<std::uint8_t, kProgramUnit> page;
        std::memcpy(page.data(), source, page.size());
        if (t.SendVu(kVuProgram, page.data(), address, short_)) return good();
        return failed("Write SPI Error USB");
    }
    // The VU controller needs no modes: nothing is sent.
    DeviceResult mode(Transport&, std::uint8_t) const override { return good(); }

private:
    bool short_;
};

const MailboxPath kMailbox;
const AtaPath kAta;
const VuPath kVuShort(true);
const VuPath kVuLong(false);

// The probe order. The mailbox and the ATA way are asked of every drive; the VU ways
// only of a drive neither answered, the short prefix first.
const auto kProbeOrder = std::to_array<const DevicePath*>({&kMailbox, &kAta, &kVuShort, &kVuLong});

}  // namespace

DeviceResult DevicePath::action(Transport& t, const DeviceAction& action) const {
    Sector& m = t.MailboxCommand();
    m[0] = '3';
    m[1] = 'X';
    m[2] = (action.code & 0x20) ? 0x1F : 0x24;
    m[3] = action.abort ? 0 : 1;
    m[4] = action.code;
    for (int i = 0; i < 5; ++i) m[7 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(action.arg1 >> (8 * i));
    m[12] = 0;
    for (int i = 0; i < 6; ++i) m[13 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(action.arg2 >> (8 * i));
    t.MailboxChecksum();
    if (writeMailbox(t, kCommandSector)) return good();
    return failed("Error code 201");
}

bool Recognition::vendorUnique() {
    if (vendorUnique_ < 0)
        vendorUnique_ = transport.Inquiry(handle, page) && page[4] == kVendorUniqueDevice ? 1 : 0;
    return vendorUnique_ == 1;
}

const DevicePath& pathOf(std::uint32_t code) {
    for (const DevicePath* path : kProbeOrder)
        if ((code & path->codeBits()) == path->codeBits()) return *path;
    return kAta;
}

std::uint32_t recognize(Recognition& r) {
    for (const DevicePath* path : kProbeOrder) {
        const ProbeAnswer answer = path->probe(r);
        r.transport.report().result(answer.problem, DeviceSite::detection);
        if (answer.speaks) r.found |= path->codeBits();
    }
    return r.found;
}

bool isEnclosureCode(std::uint32_t code) {
    for (const DevicePath* path : kProbeOrder)
        if (code & path->codeBits()) return true;
    return false;
}

}  // namespace raid

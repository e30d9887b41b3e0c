#include "maintenance/SpiFlash.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace raid {

namespace {

// Mailbox command codes and sub-codes of the flash commands.
constexpr std::uint8_t kMbRead = 0x00, kMbReadSub = 0x03;
constexpr std::uint8_t kMbErase = 0x01, kMbEraseSub = 0x20;
constexpr std::uint8_t kMbProgram = 0x02, kMbProgramSub = 0x02;
constexpr std::size_t kProgramData = 7;
constexpr std::size_t kProgramMark = 509;
constexpr std::uint8_t kProgramMarkValue = 0x55;

// The ATA vendor command and its read form.
constexpr std::uint8_t kAtaVendor = 0x88;
constexpr std::uint8_t kAtaReadFeatures = 0x01;
constexpr std::uint8_t kAtaDriveHead = 0xE0;

std::uint32_t units(std::uint32_t length, std::uint32_t unit) { return (length + unit - 1) / unit; }

// Mailbox code and sub-code of each mode command.
bool modeMailbox(std::uint8_t code, std::uint8_t& mbCode, std::uint8_t& sub) {
    switch (code) {
    case spimode::kUpgradeOn: mbCode = 0x10; sub = 0x01; return true;
    case spimode::kUpgradeOff: mbCode = 0x10; sub = 0x00; return true;
    case spimode::kPrimitiveOn: mbCode = 0x03; sub = 0x01; return true;
    case spimode::kPrimitiveOff: mbCode = 0x03; sub = 0x00; return true;
    case spimode::kLowAreaOn: mbCode = 0x04; sub = 0x01; return true;
    case spimode::kLowAreaOff: mbCode = 0x04; sub = 0x00; return true;
    default: return false;
    }
}

}  // namespace

SpiTransport spiTransportOf(std::uint32_t deviceCode) {
    if (deviceCode & kCodeVu) return SpiTransport::Vu;
    if (deviceCode & kCodeMailbox) return SpiTransport::Mailbox;
    return SpiTransport::Ata;
}

bool SpiFlash::openHeld() {
    const int active = p_.dev.ActiveCount.load();
    if (active <= 0) {
        p_.reporter.panel(4, "Device not found!!!");
        p_.reporter.messageBox("No Device found !", "Message");
        return false;
    }
    const std::uint32_t held = p_.dev.HeldDevice;
    if (held >= static_cast<std::uint32_t>(active) || held >= static_cast<std::uint32_t>(kMaxActive)) {
        p_.reporter.panel(4, "No Upgrade Mode!!!");
        p_.reporter.messageBox("No Upgrade Mode !", "Message");
        return false;
    }
    const std::uint32_t code = p_.dev.ActiveDevices[held];
    kind_ = spiTransportOf(code);
    if (p_.transport.OpenDrive(static_cast<std::uint8_t>(code & kCodeDriveMask)) == kInvalidHandle) {
        p_.reporter.messageBox("Invalid Drive", "Error");
        return false;
    }
    if (kind_ == SpiTransport::Vu) p_.transport.ShortVendorPrefix = (code & kCodeShortPrefix) != 0;
    return true;
}

void SpiFlash::mailboxHead(std::uint8_t code, std::uint8_t sub, std::uint32_t address) {
    Sector& m = p_.transport.MailboxCommand();
    m[0] = '3';
    m[1] = 'X';
    m[2] = code;
    m[3] = sub;
    m[4] = static_cast<std::uint8_t>(address >> 16);
    m[5] = static_cast<std::uint8_t>(address >> 8);
    m[6] = static_cast<std::uint8_t>(address);
}

bool SpiFlash::writeMailbox(std::uint32_t sector) {
    ++requests_;
    return p_.transport.WriteSectors(p_.transport.CurrentHandle(), sector, p_.transport.MailboxCommand().data(), 1);
}

bool SpiFlash::writeFlashSector(std::uint32_t sector, const char* failure) {
    if (writeMailbox(sector)) return true;
    p_.reporter.panel(4, failure);
    return false;
}

bool SpiFlash::sendMode(std::uint8_t code) {
    std::uint8_t mbCode = 0, sub = 0;
    if (!modeMailbox(code, mbCode, sub)) return false;
    if (kind_ == SpiTransport::Vu) return true;
    if (kind_ == SpiTransport::Mailbox) {
        // The payload is whatever the last command left; its checksum is made again
        // so that the controller takes the block whatever came before.
        mailboxHead(mbCode, sub, 0);
        p_.transport.MailboxChecksum();
        const std::uint32_t sector = p_.transport.RandomMailboxSector();
        if (writeMailbox(sector)) return true;
        p_.reporter.panel(4, "Error code " + std::to_string(sector) + "1");
        return false;
    }
    std::array<std::uint8_t, 7> regs{code, 0, 0, 0, 0, 0, kAtaVendor};
    ++requests_;
    if (p_.transport.SendAta(p_.transport.CurrentHandle(), regs.data(), nullptr, 0)) return true;
    char text[40];
    std::snprintf(text, sizeof text, "VU command 0x88 FEA %02X Error", code);
    p_.reporter.panel(4, text);
    return false;
}

bool SpiFlash::SpiModeCommand(std::uint8_t code) {
    std::uint8_t mbCode = 0, sub = 0;
    if (!modeMailbox(code, mbCode, sub)) return false;
    if (code != spimode::kUpgradeOn && code != spimode::kUpgradeOff) {
        // Inside a primitive, on its handle.
        return sendMode(code);
    }
    if (!openHeld()) return false;
    const bool ok = sendMode(code);
    p_.transport.CloseCurrent();
    return ok;
}

bool SpiFlash::readPage(std::uint32_t address, std::uint8_t* destination) {
    Transport& t = p_.transport;
    if (kind_ == SpiTransport::Vu) {
        ++requests_;
        if (t.SendVu(kVuRead, destination, address)) return true;
        p_.reporter.panel(4, "Read SPI Error USB");
        return false;
    }
    if (kind_ == SpiTransport::Mailbox) {
        mailboxHead(kMbRead, kMbReadSub, address);
        t.MailboxChecksum();
        const std::uint32_t sector = t.RandomMailboxSector();
        if (!writeMailbox(sector)) {
            p_.reporter.panel(4, "Error code " + std::to_string(sector) + "1");
            return false;
        }
    } else {
        std::array<std::uint8_t, 7> regs{kAtaReadFeatures,
                                         0,
                                         static_cast<std::uint8_t>(address),
                                         static_cast<std::uint8_t>(address >> 8),
                                         static_cast<std::uint8_t>(address >> 16),
                                         kAtaDriveHead,
                                         kAtaVendor};
        ++requests_;
        if (!t.SendAta(t.CurrentHandle(), regs.data(), nullptr, 0)) {
            p_.reporter.panel(4, "VU command 0x88 FEA 0x01 Read Error");
            return false;
        }
    }
    ++requests_;
    if (t.ReadSectors(t.CurrentHandle(), spi::kFlashAnswerSector, destination, 1)) return true;
    p_.reporter.panel(4, "Error code 600");
    return false;
}

bool SpiFlash::eraseSector(std::uint32_t address, bool first) {
    Transport& t = p_.transport;
    if (kind_ == SpiTransport::Vu) {
        ++requests_;
        if (t.SendVu(kVuErase, t.TransferBuffer(), address)) return true;
        p_.reporter.panel(4, "Erase SPI Error USB");
        return false;
    }
    // The checksum leaves the address bytes out, so one checksum serves every sector.
    mailboxHead(kMbErase, kMbEraseSub, address);
    if (first) t.MailboxChecksum();
    return writeFlashSector(spi::kCommandSector, "Error code 201");
}

bool SpiFlash::programPage(std::uint32_t address, const std::uint8_t* source) {
    Transport& t = p_.transport;
    if (kind_ == SpiTransport::Vu) {
        std::array<std::uint8_t, spi::kProgramUnit> page;
        std::memcpy(page.data(), source, page.size());
        ++requests_;
        if (t.SendVu(kVuProgram, page.data(), address)) return true;
        p_.reporter.panel(4, "Write SPI Error USB");
        return false;
    }
    Sector& m = t.MailboxCommand();
    mailboxHead(kMbProgram, kMbProgramSub, address);
    std::memcpy(m.data() + kProgramData, source, spi::kProgramUnit);
    m[kProgramMark] = kProgramMarkValue;
    t.MailboxChecksum();
    return writeFlashSector(spi::kCommandSector, "Error code 201");
}

bool SpiFlash::SpiRead(std::uint32_t address, std::uint32_t length, std::uint8_t* destination) {
    if (!openHeld()) return false;
    if (!sendMode(spimode::kPrimitiveOn)) {
        p_.transport.CloseCurrent();
        return false;
    }
    bool ok = true;
    const std::uint32_t pages = units(length, spi::kReadUnit);
    for (std::uint32_t i = 0; i < pages && ok; ++i) {
        pump();
        ok = readPage(address + i * spi::kReadUnit, destination + std::size_t{i} * spi::kReadUnit);
        if (ok) ++p_.progress;
    }
    const bool closed = sendMode(spimode::kPrimitiveOff);
    p_.transport.CloseCurrent();
    return ok && closed;
}

bool SpiFlash::writeLoop(std::uint32_t address, const std::function<bool()>& body) {
    if (!openHeld()) return false;
    if (!sendMode(spimode::kPrimitiveOn)) {
        p_.transport.CloseCurrent();
        return false;
    }
    // The decision is taken on the start address alone, as the controller expects.
    const bool low = address < spi::kLowAreaEnd;
    if (low && !sendMode(spimode::kLowAreaOn)) {
        sendMode(spimode::kPrimitiveOff);
        p_.transport.CloseCurrent();
        return false;
    }
    bool ok = body();
    if (low && !sendMode(spimode::kLowAreaOff)) ok = false;
    if (!sendMode(spimode::kPrimitiveOff)) ok = false;
    p_.transport.CloseCurrent();
    return ok;
}

bool SpiFlash::SpiErase(std::uint32_t address, std::uint32_t length) {
    return writeLoop(address, [&] {
        const std::uint32_t sectors = units(length, spi::kEraseUnit);
        for (std::uint32_t i = 0; i < sectors; ++i) {
            pump();
            if (!eraseSector(address + i * spi::kEraseUnit, i == 0)) return false;
            ++p_.progress;
        }
        return true;
    });
}

bool SpiFlash::SpiProgram(std::uint32_t address, std::uint32_t length, const std::uint8_t* source) {
    return writeLoop(address, [&] {
        const std::uint32_t pages = units(length, spi::kProgramUnit);
        for (std::uint32_t i = 0; i < pages; ++i) {
            pump();
            if (!programPage(address + i * spi::kProgramUnit, source + std::size_t{i} * spi::kProgramUnit))
                return false;
            if (i % 2 == 1) ++p_.progress;
        }
        return true;
    });
}

}  // namespace raid

#include "maintenance/SpiFlash.h"

namespace raid {

namespace {

std::uint32_t units(std::uint32_t length, std::uint32_t unit) { return (length + unit - 1) / unit; }

}  // namespace

DeviceResult SpiFlash::shown(DeviceResult r) {
    p_.transport.report().result(r, DeviceSite::flash);
    return r;
}

DeviceResult SpiFlash::openHeld() {
    const int active = p_.dev.ActiveCount.load();
    if (active <= 0) return shown(noDevice());
    const std::uint32_t held = p_.dev.HeldDevice;
    if (held >= static_cast<std::uint32_t>(active) || held >= static_cast<std::uint32_t>(kMaxActive))
        return shown(noUpgradeMode());
    const std::uint32_t code = p_.dev.ActiveDevices[held];
    path_ = &pathOf(code);
    if (p_.transport.OpenDrive(static_cast<std::uint8_t>(code & kCodeDriveMask)) == kInvalidHandle)
        return shown(invalidDrive());
    return {};
}

DeviceResult SpiFlash::SpiModeCommand(std::uint8_t code) {
    if (!spimode::known(code)) return DeviceResult::failure(DeviceFault::refused);
    if (code != spimode::kUpgradeOn && code != spimode::kUpgradeOff) {
        // Inside a primitive, on its handle.
        return sendMode(code);
    }
    DeviceResult opened = openHeld();
    if (!opened) return opened;
    DeviceResult r = sendMode(code);
    p_.transport.CloseCurrent();
    return r;
}

DeviceResult SpiFlash::SpiRead(std::uint32_t address, std::uint32_t length, std::uint8_t* destination) {
    DeviceResult r = openHeld();
    if (!r) return r;
    r = sendMode(spimode::kPrimitiveOn);
    if (!r) {
        p_.transport.CloseCurrent();
        return r;
    }
    const std::uint32_t pages = units(length, spi::kReadUnit);
    for (std::uint32_t i = 0; i < pages && r; ++i) {
        pump();
        r = shown(path_->flashRead(p_.transport, address + i * spi::kReadUnit,
                                   destination + std::size_t{i} * spi::kReadUnit));
        if (r) ++p_.progress;
    }
    r.also(sendMode(spimode::kPrimitiveOff));
    p_.transport.CloseCurrent();
    return r;
}

DeviceResult SpiFlash::writeLoop(std::uint32_t address, const std::function<DeviceResult()>& body) {
    DeviceResult r = openHeld();
    if (!r) return r;
    r = sendMode(spimode::kPrimitiveOn);
    if (!r) {
        p_.transport.CloseCurrent();
        return r;
    }
    // The decision is taken on the start address alone, as the controller expects.
    const bool low = address < spi::kLowAreaEnd;
    if (low) {
        r = sendMode(spimode::kLowAreaOn);
        if (!r) {
            r.also(sendMode(spimode::kPrimitiveOff));
            p_.transport.CloseCurrent();
            return r;
        }
    }
    r = body();
    if (low) r.also(sendMode(spimode::kLowAreaOff));
    r.also(sendMode(spimode::kPrimitiveOff));
    p_.transport.CloseCurrent();
    return r;
}

DeviceResult SpiFlash::SpiErase(std::uint32_t address, std::uint32_t length) {
    return writeLoop(address, [&] {
        const std::uint32_t sectors = units(length, spi::kEraseUnit);
        for (std::uint32_t i = 0; i < sectors; ++i) {
            pump();
            DeviceResult r = shown(path_->flashErase(p_.transport, address + i * spi::kEraseUnit, i == 0));
            if (!r) return r;
            ++p_.progress;
        }
        return DeviceResult();
    });
}

DeviceResult SpiFlash::SpiProgram(std::uint32_t address, std::uint32_t length, const std::uint8_t* source) {
    return writeLoop(address, [&] {
        const std::uint32_t pages = units(length, spi::kProgramUnit);
        for (std::uint32_t i = 0; i < pages; ++i) {
            pump();
            DeviceResult r = shown(path_->flashProgram(p_.transport, address + i * spi::kProgramUnit,
                                                       source + std::size_t{i} * spi::kProgramUnit));
            if (!r) return r;
            if (i % 2 == 1) ++p_.progress;
        }
        return DeviceResult();
    });
}

}  // namespace raid

// The controller's SPI flash as the upgrade reaches it: read, erase and program in the
// flash's own units, and the mode commands that put the controller into and out of its
// flash modes, over the held device's path (device/DevicePath).
//
// Every request addresses the held device (DeviceState::HeldDevice). Before each one
// the engine's pending work runs (`pump`), so its clock, status texts and progress
// display go on while the flash is written. A failure is the result returned, and is
// handed to the transport's report as it happens (which shows it in panel 4 or a box,
// with the controller's own texts).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/DevicePath.h"
#include "device/DeviceResult.h"
#include "device/DeviceState.h"
#include "device/Transport.h"

namespace raid {

namespace spi {
constexpr std::uint32_t kReadUnit = 512;
constexpr std::uint32_t kEraseUnit = 4096;
constexpr std::uint32_t kProgramUnit = 256;
// Erase and program starting below this address touch the boot area: the controller
// takes them only with its low-area writes switched on.
constexpr std::uint32_t kLowAreaEnd = 0xC000;
}  // namespace spi

struct SpiPorts {
    Transport& transport;
    DeviceState& dev;
    // "Let the window process its messages": runs before every request.
    std::function<void()> pump;
    // Advanced in the progress units: +1 per sector erased, per 512 bytes programmed,
    // per 512-byte page read.
    std::uint32_t& progress;
};

class SpiFlash {
public:
    explicit SpiFlash(SpiPorts ports) : p_(std::move(ports)) {}

    // `length` is rounded up to whole units; the destination must hold that much.
    DeviceResult SpiRead(std::uint32_t address, std::uint32_t length, std::uint8_t* destination);
    DeviceResult SpiErase(std::uint32_t address, std::uint32_t length);
    // The source must hold `length` rounded up to 256 bytes.
    DeviceResult SpiProgram(std::uint32_t address, std::uint32_t length, const std::uint8_t* source);
    // One of the spimode codes; any other fails without sending. What a mode needs
    // is the path's business (a VU controller needs none). 0x10 and 0x11 open and
    // close the held device themselves; the others go to the running primitive's handle.
    DeviceResult SpiModeCommand(std::uint8_t code);

private:
    // Opens the held device and finds its path; a failure when there is none or it
    // cannot be opened.
    DeviceResult openHeld();
    // Reports a failure as it happens and hands it back.
    DeviceResult shown(DeviceResult r);
    DeviceResult sendMode(std::uint8_t code) { return shown(path_->mode(p_.transport, code)); }
    // The low-area part of erase and program around `body`.
    DeviceResult writeLoop(std::uint32_t address, const std::function<DeviceResult()>& body);
    void pump() {
        if (p_.pump) p_.pump();
    }

    SpiPorts p_;
    // Until a device is opened, the path a code without path bits names.
    const DevicePath* path_ = &pathOf(0);
};

}  // namespace raid

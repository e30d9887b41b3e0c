// The controller's SPI flash as the upgrade reaches it: read, erase and program in the
// flash's own units, and the mode commands that put the controller into and out of its
// flash modes, over whichever of the three transports the held device speaks.
//
// Every request addresses the held device (DeviceState::HeldDevice). Before each one
// the engine's pending work runs (`pump`), so its clock, status texts and progress
// display go on while the flash is written. Failures are reported in status bar panel
// 4 (or a box) with the controller's own texts; the caller reads the panel for its
// closing message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/DeviceState.h"
#include "device/Reporter.h"
#include "device/Transport.h"

namespace raid {

namespace spimode {
constexpr std::uint8_t kUpgradeOn = 0x11;
constexpr std::uint8_t kUpgradeOff = 0x10;
constexpr std::uint8_t kPrimitiveOn = 0x03;
constexpr std::uint8_t kPrimitiveOff = 0x02;
constexpr std::uint8_t kLowAreaOn = 0x04;
constexpr std::uint8_t kLowAreaOff = 0x05;
}  // namespace spimode

namespace spi {
constexpr std::uint32_t kReadUnit = 512;
constexpr std::uint32_t kEraseUnit = 4096;
constexpr std::uint32_t kProgramUnit = 256;
// Erase and program starting below this address touch the boot area: the controller
// takes them only with its low-area writes switched on.
constexpr std::uint32_t kLowAreaEnd = 0xC000;
constexpr std::uint32_t kFlashAnswerSector = 60;
constexpr std::uint32_t kCommandSector = 20;
}  // namespace spi

// How a device is reached, from its DeviceCode.
enum class SpiTransport { Vu, Mailbox, Ata };
SpiTransport spiTransportOf(std::uint32_t deviceCode);

struct SpiPorts {
    Transport& transport;
    DeviceState& dev;
    Reporter& reporter;
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
    bool SpiRead(std::uint32_t address, std::uint32_t length, std::uint8_t* destination);
    bool SpiErase(std::uint32_t address, std::uint32_t length);
    // The source must hold `length` rounded up to 256 bytes.
    bool SpiProgram(std::uint32_t address, std::uint32_t length, const std::uint8_t* source);
    // One of the spimode codes; any other fails without sending. Nothing is sent to a
    // VU-command device (its controller needs no modes). 0x10 and 0x11 open and close
    // the held device themselves; the others go to the running primitive's handle.
    bool SpiModeCommand(std::uint8_t code);

    // Requests sent by this object (mode commands included), for tests and benchmarks.
    std::uint64_t requests() const { return requests_; }

private:
    // Opens the held device and makes its transport current; false (reported) when
    // there is none or it cannot be opened.
    bool openHeld();
    bool sendMode(std::uint8_t code);
    bool readPage(std::uint32_t address, std::uint8_t* destination);
    bool eraseSector(std::uint32_t address, bool first);
    bool programPage(std::uint32_t address, const std::uint8_t* source);
    // Builds the shared mailbox block's head for a flash command.
    void mailboxHead(std::uint8_t code, std::uint8_t sub, std::uint32_t address);
    bool writeMailbox(std::uint32_t sector);
    bool writeFlashSector(std::uint32_t sector, const char* failure);
    // The low-area part of erase and program around `body`.
    bool writeLoop(std::uint32_t address, const std::function<bool()>& body);
    void pump() {
        if (p_.pump) p_.pump();
    }

    SpiPorts p_;
    SpiTransport kind_ = SpiTransport::Ata;
    std::uint64_t requests_ = 0;
};

}  // namespace raid

// How one enclosure is spoken to.
//
// A bridge controller is reached one of four ways: the sector mailbox (commands
// written to reserved sectors, answers read from others), the ATA vendor command 0x88,
// or vendor-unique CDBs with a one-byte or a two-byte 0xFE prefix. Each way is one path
// object, and each offers its own probe. Recognition (Discovery, through recognize())
// asks the probes of a drive in one fixed order and records the ways that answered in
// the enclosure's DeviceCode; pathOf() gives the path object for a code, so no caller
// tests the code's bits. Every request of a path goes to the transport's current
// handle: the caller opens the enclosure's drive before and closes it after, so one
// open serves a whole flash primitive.
//
// Adding a way to reach a controller is one class in DevicePath.cpp plus its entry in
// the probe order there (and the DeviceCode bit that records it, device/DeviceState.h).
#pragma once

#include <cstdint>

#include "device/DeviceResult.h"
#include "device/Transport.h"

namespace raid {

// The mode commands of the flash primitives.
namespace spimode {
constexpr std::uint8_t kUpgradeOn = 0x11;
constexpr std::uint8_t kUpgradeOff = 0x10;
constexpr std::uint8_t kPrimitiveOn = 0x03;
constexpr std::uint8_t kPrimitiveOff = 0x02;
constexpr std::uint8_t kLowAreaOn = 0x04;
constexpr std::uint8_t kLowAreaOff = 0x05;
// False for anything that is not one of the six.
bool known(std::uint8_t code);
}  // namespace spimode

// The status record area at the top of the flash (VU enclosures are searched there)
// and the sector the others answer with their newest record.
constexpr std::uint32_t kRecordAreaStart = 0x78000;
constexpr std::uint32_t kRecordAreaEnd = 0x80000;
constexpr std::uint32_t kRecordStep = 0x100;
constexpr std::uint32_t kStatusSector = 33;

// An action of the Status page's buttons (abort or start a rebuild, a scan ...).
struct DeviceAction {
    std::uint8_t code = 0;
    bool abort = false;
    std::uint64_t arg1 = 0;  // 5 bytes reach the controller
    std::uint64_t arg2 = 0;  // 6 bytes reach the controller
};

// One drive under recognition: its open handle, the identity page the probes fill,
// and what the earlier probes found. The transport's report hears the steps.
class Recognition {
public:
    Recognition(Transport& t, DriveHandle h, std::uint8_t* identity) : transport(t), handle(h), page(identity) {}

    Transport& transport;
    const DriveHandle handle;
    std::uint8_t* const page;  // 512 bytes: the identity the drive answers with
    std::uint32_t found = 0;   // the DeviceCode bits of the ways that answered so far

    // Tells the user what is tried now ("Mode 2").
    void step(const char* text) { transport.report().step(text); }
    // Whether the drive's INQUIRY answer names a vendor-unique device. Asked once,
    // by the first probe that wants to know, into `page`.
    bool vendorUnique();

private:
    int vendorUnique_ = -1;  // -1: not asked yet
};

// What a probe found out about a drive.
struct ProbeAnswer {
    bool speaks = false;   // the drive is an enclosure reached this way
    DeviceResult problem;  // a failure met while asking: shown, recognition goes on
};

class DevicePath {
public:
    virtual ~DevicePath() = default;

    // Short name for traces and summaries.
    virtual const char* name() const = 0;

    // The newest status record into `buffer` (512 bytes). `searchLimit` is the end of
    // the record area a search may touch.
    virtual DeviceResult readStatus(Transport& t, std::uint8_t* buffer, std::uint32_t searchLimit) const = 0;

    // One 512-byte page of flash at `address`.
    virtual DeviceResult flashRead(Transport& t, std::uint32_t address, std::uint8_t* destination) const = 0;
    // One 4 KiB flash sector at `address`; `first` is the first sector of a run.
    virtual DeviceResult flashErase(Transport& t, std::uint32_t address, bool first) const = 0;
    // One 256-byte page at `address`.
    virtual DeviceResult flashProgram(Transport& t, std::uint32_t address, const std::uint8_t* source) const = 0;
    // One of the spimode codes (checked by the caller).
    virtual DeviceResult mode(Transport& t, std::uint8_t code) const = 0;

    // The action command: the same mailbox command on every path.
    DeviceResult action(Transport& t, const DeviceAction& action) const;

    // Recognition: asks the drive under `r` whether it is reached this way; may fill
    // r.page with the identity the drive gives this way.
    virtual ProbeAnswer probe(Recognition& r) const = 0;
    // The DeviceCode bits that record this way.
    virtual std::uint32_t codeBits() const = 0;
};

// The path recorded in a DeviceCode: the first way in the probe order whose bits the
// code carries (a drive that answers both the mailbox and the ATA way is spoken to
// through the mailbox). A code without path bits names the ATA vendor way.
const DevicePath& pathOf(std::uint32_t deviceCode);

// Asks every way's probe, in the fixed probe order, about the drive under `r`; the
// problems met are handed to the transport's report. Returns the DeviceCode bits of
// the ways that answered (0: no enclosure).
std::uint32_t recognize(Recognition& r);

// Whether a code names an enclosure at all.
bool isEnclosureCode(std::uint32_t deviceCode);

}  // namespace raid

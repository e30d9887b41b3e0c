// One status poll of the watched devices (indices 0 and 1): read each device's newest
// status record, decide whether to accept it, keep the identity of a drive that has
// just gone, and store it as the slot's EnclosureStatus. Decoding and drawing are the
// caller's, with the mask of devices that were read.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "device/DeviceState.h"
#include "device/Transport.h"
#include "monitor/StatusDecoder.h"

namespace raid {

struct PollHost {
    std::function<bool(int device)> watched;               // the device's check box is ticked
    std::function<void(int device)> unwatch;               // clear it (too many failed reads)
    std::function<void(const std::string& text)> panel4;   // status bar panel 4
    std::function<bool()> maintenanceBusy;                 // an upgrade started meanwhile
};

class StatusPoll {
public:
    StatusPoll(Transport& transport, DeviceState& dev, StatusDecoder& decoder, PollHost host)
        : transport_(transport), dev_(dev), decoder_(decoder), host_(std::move(host)) {}

    // Returns the mask of devices whose record was read (bit i = device i); 0 when an
    // upgrade started during the poll.
    std::uint8_t poll(std::uint32_t searchLimit);

    // Per-device poll state (indices 0 and 1).
    std::array<std::uint8_t, 2> PollFailures{};
    std::uint8_t StatusErrorCount = 0;

private:
    // Whether to take the fresh record (the acceptance rule), and what to keep.
    void accept(int device, Sector& fresh);

    Transport& transport_;
    DeviceState& dev_;
    StatusDecoder& decoder_;
    PollHost host_;
};

}  // namespace raid

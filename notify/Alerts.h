// The hand-over from event detection to the alert mail: the detail lines of the alert
// are recorded at once, and a request bit tells TEmailThread to compose and send.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/DeviceState.h"

namespace raid {

// MailRequestFlags bits.
constexpr std::uint8_t kMailLoadSettings = 0x01;
constexpr std::uint8_t kMailSendAlert = 0x02;

class AlertState {
public:
    // `mailRequestFlags` is the byte TEmailThread watches; the engine owns it.
    AlertState(const DeviceState& dev, std::atomic<std::uint8_t>& mailRequestFlags)
        : MailRequestFlags(mailRequestFlags), dev_(dev) {}

    // kind 1 drive failure (port = drive 0/1), 2 enclosure gone, 3 over heat, 4 fan.
    // The detail lines are always read at the RAID-layout (kind 0xA0) positions,
    // whatever the enclosure is: the mail has always been written that way.
    void raiseAlert(int kind, int deviceIndex, int port);

    std::atomic<std::uint8_t>& MailRequestFlags;
    int pendingKind = 1;
    std::vector<std::string> AlertInfoLines;
    // Every alert raised and not yet taken for mail, oldest first: two alerts within
    // one 200 ms turn of TEmailThread are two mails, not one.
    struct Raised {
        int kind;
        std::vector<std::string> lines;
    };
    std::deque<Raised> raised;
    static constexpr std::size_t kRaisedLimit = 64;
    // Bit kind-1 set: alerts of that kind send no mail (the e-mail page's check box).
    std::uint8_t suppressMask = 0;

private:
    const DeviceState& dev_;
};

}  // namespace raid

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

// The alert in a few words, as the first detail line says it without its full stop:
// "Device1 P1 Hard Disk Drive fail", "Device2 RAID system fail", ...
std::string alertName(int kind, int deviceIndex, int port);

class AlertState {
public:
    // `mailRequestFlags` is the byte TEmailThread watches; the engine owns it.
    AlertState(const DeviceState& dev, std::atomic<std::uint8_t>& mailRequestFlags)
        : MailRequestFlags(mailRequestFlags), dev_(dev) {}

    // kind 1 drive failure (port = drive 0/1), 2 enclosure gone, 3 over heat, 4 fan.
    // The detail lines are always read at the RAID-layout (kind 0xA0) positions,
    // whatever the enclosure is: the mail has always been written that way.
    // `wallSeconds` is when the event was seen: the mail and any report of its fate
    // name it, however late the mail goes.
    void raiseAlert(int kind, int deviceIndex, int port, double wallSeconds = 0);

    std::atomic<std::uint8_t>& MailRequestFlags;
    int pendingKind = 1;
    std::vector<std::string> AlertInfoLines;
    // Every alert raised and not yet taken for mail, oldest first: two alerts within
    // one 200 ms turn of TEmailThread are two mails, not one.
    struct Raised {
        int kind;
        std::vector<std::string> lines;
        int deviceIndex = 0;
        int port = 0;
        double wallSeconds = 0;
    };
    std::deque<Raised> raised;
    static constexpr std::size_t kRaisedLimit = 64;
    // Bit kind-1 set: alerts of that kind send no mail (the e-mail page's check box).
    std::uint8_t suppressMask = 0;

private:
    const DeviceState& dev_;
};

}  // namespace raid

// Who may do what through the service's bus interface.
//
// Watching the enclosures needs nothing. Every other method asks the authority first,
// with the caller's unique bus name as the subject, and goes on only when the answer
// says allowed: reading the day logs (serials and addresses are in them), saving the
// mail settings or sending the test mail, naming the alert program, and upgrading a
// controller's firmware. The
// answer comes later (polkit may ask the user for a password meanwhile), so the check
// takes a completion; a check that cannot be made - polkit not there, an error, no
// answer in time - is a refusal.
#pragma once

#include <functional>
#include <string>

namespace raid::bus {

enum class BusAction {
    readLogs,         // the day's log lines and older day files
    configureMail,    // saving the mail settings, sending the test mail
    upgradeFirmware,  // loading an image into a controller's flash
    configureAlertProgram,  // naming the program the service runs as root on every alert
};

// The polkit action id of `action` (the policy file declares the same ids).
const char* polkitActionId(BusAction action);

struct AuthorityAnswer {
    bool allowed = false;
    // Why not, in words for the caller's error reply ("" when allowed).
    std::string problem;
};

class Authority {
public:
    virtual ~Authority() = default;
    using Done = std::function<void(const AuthorityAnswer&)>;
    // Asks whether the client known on the bus as `sender` (":1.42") may do `action`.
    // `done` is called exactly once, on the thread that runs the bus connection the
    // authority was made for, never from inside check() itself.
    virtual void check(const std::string& sender, BusAction action, Done done) = 0;
};

}  // namespace raid::bus

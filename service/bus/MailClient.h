// The mail methods of a running service, called from another process: what
// raid-gui-monitor --set and --test-mail use while the service owns its name, so that
// the caller's own polkit check applies and the service uses a save at once.
#pragma once

#include <string>

#include "service/bus/BusState.h"

typedef struct sd_bus sd_bus;

namespace raid::bus {

class MailClient {
public:
    MailClient() = default;
    ~MailClient();
    MailClient(const MailClient&) = delete;
    MailClient& operator=(const MailClient&) = delete;

    // Connects to `address` ("" the system bus). True when the service owns its name
    // there; false when there is no bus or no service (then nothing runs to ask).
    bool connect(const std::string& address);

    // Each returns "" or the service's error in words ("not authorized: ..."). The
    // password field of the values holds the state ("stored", "damaged", "none").
    std::string get(SettingsEdits& values);
    // `values` with the password field a new password when `newPassword`, else "".
    std::string save(const SettingsEdits& values, bool newPassword, MailAnswer& out);
    // Waits for the mail server's outcome (bounded by `timeoutSeconds`).
    std::string testMail(MailAnswer& out, unsigned timeoutSeconds);

private:
    sd_bus* bus_ = nullptr;
};

}  // namespace raid::bus

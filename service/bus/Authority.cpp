#include "service/bus/Authority.h"

namespace raid::bus {

const char* polkitActionId(BusAction action) {
    switch (action) {
        case BusAction::readLogs: return "org.qxraidgui.monitor1.read-logs";
        case BusAction::configureMail: return "org.qxraidgui.monitor1.configure-mail";
        case BusAction::upgradeFirmware: return "org.qxraidgui.monitor1.upgrade-firmware";
        case BusAction::configureAlertProgram: return "org.qxraidgui.monitor1.configure-alert-program";
    }
    // An action outside the enum has no id: polkit refuses an unknown one, which is
    // what such a caller must get.
    return "org.qxraidgui.monitor1.unknown";
}

}  // namespace raid::bus

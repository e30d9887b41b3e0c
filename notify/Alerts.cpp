#include "notify/Alerts.h"

#include "monitor/StatusRecord.h"
#include "monitor/StatusTexts.h"

namespace raid {

std::string alertName(int kind, int deviceIndex, int port) {
    const std::string n = std::to_string(deviceIndex + 1);
    switch (kind) {
    case 1: return "Device" + n + " P" + std::to_string(port) + " Hard Disk Drive fail";
    case 2: return "Device" + n + " RAID system fail";
    case 3: return "Device" + n + " over heat";
    default: return "Device" + n + " fan fail";
    }
}

void AlertState::raiseAlert(int kind, int deviceIndex, int port, double wallSeconds) {
    AlertInfoLines.clear();
    // Only the four kinds exist; anything else would shift the mask out of range and
    // queue a mail with no subject or contents of its own.
    if (kind < 1 || kind > 4) return;
    if ((suppressMask >> (kind - 1)) & 1) return;

    if (deviceSlot(dev_, deviceIndex) >= 0) {
        const std::string n = std::to_string(deviceIndex + 1);
        const Sector& identity = identityOf(dev_, deviceIndex);
        const StatusRecord rec(statusOf(dev_, deviceIndex), raidLayout());
        AlertInfoLines.push_back(alertName(kind, deviceIndex, port) + ".");
        AlertInfoLines.push_back("Device" + n + " information :");
        AlertInfoLines.push_back("Model# " + enclosureModel(identity));
        AlertInfoLines.push_back(firmwareLine(raidModeText(rec.raidMode()), identity, rec));
        AlertInfoLines.push_back("Configured Capacity : " + capacityText(rec.configuredCapacity()));

        const std::uint8_t flags = rec.driveFlags();
        for (int d = 0; d < 2; ++d) {
            const std::string name = driveName(kControllerRaid, d);  // HDD1/HDD2 whatever the kind
            const std::uint8_t bits = static_cast<std::uint8_t>((flags >> (4 * d)) & 0x0F);
            bool details = kind == 1;
            if (bits & kFlagAbsent) {
                AlertInfoLines.push_back("  " + name + " is absent. ");
            } else if (bits & kFlagPresent) {
                const unsigned nibble = d == 0 ? (rec.sataSpeeds() & 0x0F) : (rec.sataSpeeds() >> 4);
                AlertInfoLines.push_back("  " + name + " is present.(SATA" + sataSpeedName(nibble) + ")");
                details = true;
            } else if (bits & kFlagFailed) {
                AlertInfoLines.push_back("  " + name + " was failed, Capacity too small.");
                details = true;
            } else if (bits & kFlagInserted) {
                AlertInfoLines.push_back(name + " was inserted.");
            }
            if (details) {
                for (auto& line : driveDetailLines(rec, d, "    ")) AlertInfoLines.push_back(std::move(line));
            }
        }
    }

    pendingKind = kind;
    if (raised.size() >= kRaisedLimit) raised.pop_front();
    raised.push_back({kind, AlertInfoLines, deviceIndex, port, wallSeconds});
    MailRequestFlags.fetch_or(kMailSendAlert);
}

}  // namespace raid

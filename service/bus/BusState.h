// What the engine hands the bus thread: plain values, copied once, never shared.
//
// The engine thread builds these after each poll (the enclosures), as day log lines
// are added, as alerts are raised and as mails end; the bus thread turns them into
// properties and signals. Nothing here points into the engine's state.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/StatusSummary.h"
#include "monitor/HistorySample.h"
#include "notify/NotificationSettings.h"

namespace raid::bus {

inline constexpr char kBusName[] = "org.qxraidgui.Monitor1";
inline constexpr char kManagerPath[] = "/org/qxraidgui/Monitor1";
inline constexpr char kManagerInterface[] = "org.qxraidgui.Monitor1";
inline constexpr char kEnclosurePrefix[] = "/org/qxraidgui/Monitor1/enclosure";
inline constexpr char kEnclosureInterface[] = "org.qxraidgui.Monitor1.Enclosure";
inline constexpr char kJobPrefix[] = "/org/qxraidgui/Monitor1/job";
inline constexpr char kUpgradeInterface[] = "org.qxraidgui.Monitor1.Upgrade";
inline constexpr char kErrorRefused[] = "org.qxraidgui.Monitor1.Error.Refused";

// One enclosure as the Status page and --status --json show it, with the two pages it
// was read from.
struct EnclosureState {
    int slot = 0;  // the physical drive it answers on first: its object's name
    unsigned poll = 0;  // the poll it was read at (set from the snapshot)
    EnclosureSummary summary;
    std::array<std::uint8_t, 512> statusRecord{};
    std::array<std::uint8_t, 512> identityPage{};
};

struct EnclosureSnapshot {
    unsigned poll = 0;  // polls made since the service started
    std::vector<EnclosureState> enclosures;
    std::vector<std::string> notes;
};

struct AlertEvent {
    int kind = 0, device = 0, port = 0;
    std::vector<std::string> lines;  // what the alert mail says
};

struct MailEvent {
    int kind = 0;
    unsigned attempt = 0;
    std::string subject;
    bool sent = false;
    std::string error;
    unsigned refused = 0;  // recipients the server refused
    bool retry = false;    // tried again later
};

// An engine's answer to a day-log request: the lines, or an error for the caller.
struct DayLogAnswer {
    std::string errorName;  // "" for success
    std::string errorText;
    std::string day;                 // "yymmdd"
    std::vector<std::string> lines;  // the day's lines, or the day names for a list
};

// An engine's answer to GetHistory.
struct HistoryAnswer {
    std::string errorName;  // "" for success
    std::string errorText;
    HistorySeries series;
};

// What a stored SMTP password is shown as: never the password itself.
inline constexpr char kPasswordStored[] = "stored";    // the page shows eight asterisks
inline constexpr char kPasswordDamaged[] = "damaged";  // the page shows "ErrorFormat"
inline constexpr char kPasswordNone[] = "none";        // the page shows an empty field

// An engine's answer to a mail method. The password field of `values` holds one of the
// three states above: the password stays in the engine.
struct MailAnswer {
    std::string errorName;  // "" for success
    std::string errorText;
    bool saved = false;       // SaveMailSettings
    std::string problem;      // why nothing was saved: the page's "E-Mail Message" text
    SettingsEdits values;     // GetMailSettings, SaveMailSettings
    bool sent = false;        // SendTestMail: the server took it for a recipient at least
    std::string sendError;    // why not
    std::vector<std::string> refused;  // recipients not reached: "address: code reason"
};

// A firmware upgrade the bus asks of the engine: checked, read and authorized.
struct UpgradeRequest {
    int slot = -1;       // the enclosure object's N
    std::string image;   // the image's bytes as the descriptor held them
    std::string name;    // what the Upgrade page shows for the file
};

// How an upgrade asked of the engine goes, as the engine reports it: first refused or
// started, then progress while it runs, then finished.
struct UpgradeReport {
    enum class Kind { refused, started, progress, finished };
    Kind kind = Kind::refused;
    std::string errorText;  // refused: the system's words
    bool running = false;   // the progress panel is up
    std::string title;      // the Upgrade page's title
    std::string panelText;  // what the progress panel says ("Process 2 / 4")
    std::uint32_t value = 0, maximum = 0;
    bool succeeded = false;   // finished
    std::string outcome;      // finished: the closing box's words, success or failure
    std::string backupPath;   // the copy of the flash kept before a full upgrade
};

}  // namespace raid::bus

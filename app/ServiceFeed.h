// A window that is a client of raid-gui-monitor: where its device list and status
// records come from when the service, not this process, talks to the enclosures.
//
// The bus side (gui/ServiceClient) turns what the service publishes into the plain
// values below and posts them to the engine thread; ServiceFeed puts them where the
// detection pass and the poll would have put them (the device tables, the published
// identity pages, the status records) and lets the same page code draw them. The
// window never sends an enclosure anything and writes no file of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/EngineCommands.h"
#include "device/Transport.h"
#include "monitor/HistorySample.h"
#include "monitor/TimeLeft.h"
#include "notify/NotificationSettings.h"
#include "platform/FileStore.h"
#include "platform/NoDevices.h"
#include "platform/StoragePort.h"
#include "platform/VolumePort.h"

namespace raid {

class MainForm;

// One enclosure object of the service, checked.
struct ServiceEnclosure {
    std::string path;        // its object path: who it is on the bus
    int device = 0;          // 1 = Device1, the service's order
    int slot = 0;            // the physical drive it answers on first (0..9)
    unsigned poll = 0;       // the service's poll the record is from
    bool polled = false;     // the record was read by that poll
    std::string volumes;     // its drive letters ("E")
    std::uint32_t access = 0;  // the path bits of its device code
    Sector statusRecord{};
    Sector identityPage{};
    // The service's time-left estimate of the rebuild or scan the record shows (a
    // service without it: not known).
    WorkKind work = WorkKind::None;
    TimeLeftEstimate timeLeft;
};

// A property value as it came over the bus, before it is checked.
using BusValue = std::variant<std::monostate, std::int64_t, bool, std::string, std::vector<std::uint8_t>,
                              std::vector<std::string>, double>;
using BusProperties = std::map<std::string, BusValue>;

// The enclosure an object's properties describe; nullopt when one the window needs is
// missing, of another type or out of range (then the object is not shown).
std::optional<ServiceEnclosure> enclosureFromProperties(const std::string& path, const BusProperties& props);

// A firmware upgrade job of the service (its object's properties, checked).
struct ServiceJob {
    std::string path;       // its object path
    std::string enclosure;  // the enclosure object it upgrades
    bool running = false;
    std::string title;      // the Upgrade page's title while it runs
    std::string panelText;  // what the progress panel says
    std::uint32_t value = 0, maximum = 0;
    bool succeeded = false;
    std::string outcome;    // the words of the page's closing box ("" while it runs)
};
// nullopt when a property the window needs is missing or of another type.
std::optional<ServiceJob> jobFromProperties(const std::string& path, const BusProperties& props);

// The service's answer to StartUpgrade, on the engine thread.
struct ServiceUpgradeAnswer {
    std::string errorName;  // "" when the upgrade started
    std::string errorText;  // the system's words (a refusal), polkit's, or the bus's
    std::string job;        // the job's object path
};
using ServiceUpgradeDone = std::function<void(const ServiceUpgradeAnswer&)>;
inline constexpr char kErrorNotAuthorized[] = "org.qxraidgui.Monitor1.Error.NotAuthorized";
inline constexpr char kErrorRefused[] = "org.qxraidgui.Monitor1.Error.Refused";
// polkit's refusal of an upgrade, in the window's words.
inline constexpr char kUpgradeNotAllowed[] = "The firmware upgrade was not allowed: ";

// The words the window shows where its enclosures would be when it has none to show
// because the service cannot be reached.
inline constexpr char kServiceMissingBanner[] = "RAID GUI service not running";
// Short enough for the status bar's last panel; the banner's hint says it in full.
inline constexpr char kServiceMissingHelp[] = "Start it: systemctl start raid-gui-monitor";
inline constexpr char kServiceMissingHint[] =
    "The RAID GUI service (raid-gui-monitor) watches the enclosures; this window shows what it sees. "
    "Start it with \"systemctl start raid-gui-monitor\".";
inline constexpr char kBusMissingBanner[] = "System bus not reachable";

// The service's answer to a mail method, on the engine thread.
struct ServiceMailAnswer {
    std::string errorName;  // "" when the method answered; else the bus error
    std::string errorText;  // its message: the system's own words (polkit's refusal, no recipient)
    bool saved = false;     // SaveMailSettings
    std::string problem;    // why nothing was saved, in the page's words
    // GetMailSettings, SaveMailSettings: the page's values; the password field holds
    // the stored password's state ("stored", "damaged", "none"), never a password.
    SettingsEdits values;
    bool sent = false;                 // SendTestMail
    std::string sendError;
    std::vector<std::string> refused;  // "address: code reason"
};
using ServiceMailDone = std::function<void(const ServiceMailAnswer&)>;

// The service's answer to a day-log method, on the engine thread.
struct ServiceDayLogAnswer {
    std::string errorName;  // "" when the method answered
    std::string errorText;
    std::string day;                 // "yymmdd"
    std::vector<std::string> lines;  // the day's lines, or the day names of a list
};
using ServiceDayLogDone = std::function<void(const ServiceDayLogAnswer&)>;

// The service's answer to GetHistory, on the engine thread.
struct ServiceHistoryAnswer {
    std::string errorName;  // "" when the method answered
    std::string errorText;
    HistorySeries series;
};
using ServiceHistoryDone = std::function<void(const ServiceHistoryAnswer&)>;

// What a client window asks the service for. Each call returns at once; `done` runs
// on the engine thread with the answer (or the bus's error: no service, no bus).
class ServicePort {
public:
    virtual ~ServicePort() = default;
    virtual void getMailSettings(ServiceMailDone done) = 0;
    // `values` as the E-mail page's OK takes them; the password field only when
    // `newPassword` (the user typed one), else "" and the stored one stays.
    virtual void saveMailSettings(const SettingsEdits& values, bool newPassword, ServiceMailDone done) = 0;
    // Answered when the mail server's dialogue is over.
    virtual void sendTestMail(ServiceMailDone done) = 0;
    // Today's lines, and from then on each new line (ServiceFeed::dayLogLine) until
    // unwatchDayLog. A service without it answers UnknownMethod.
    virtual void watchDayLog(ServiceDayLogDone done) = 0;
    virtual void unwatchDayLog() = 0;
    // Today's lines once.
    virtual void getDayLog(ServiceDayLogDone done) = 0;
    // The day file of `day` ("yymmdd"), read by the service.
    virtual void getOlderDayLog(const std::string& day, ServiceDayLogDone done) = 0;
    // The Upgrade page's Load and Upgrade done by the service: `enclosure` is the
    // object of the page's chosen device, `imageFd` the image file the window opened
    // (the port hands over a copy before it returns; the caller keeps its own).
    // Answered when the upgrade starts or is refused, which may take as long as the
    // administrator takes to answer polkit's password prompt.
    virtual void startUpgrade(const std::string& enclosure, int imageFd, ServiceUpgradeDone done) = 0;
    // The history of the enclosure object `enclosure` from `fromMinute` (Unix time) on.
    // A port without it answers UnknownMethod at once.
    virtual void getHistory(const std::string& enclosure, std::int64_t fromMinute, ServiceHistoryDone done) {
        (void)enclosure;
        (void)fromMinute;
        done(ServiceHistoryAnswer{"org.freedesktop.DBus.Error.UnknownMethod", "The service keeps no history", {}});
    }
};

// The E-mail page's settings as the service's values show them: the password field
// holds what the page shows for the stored password (eight asterisks, "ErrorFormat"
// for a damaged record, nothing when none is stored).
NotificationSettings settingsFromService(const SettingsEdits& values);
inline constexpr char kStoredPasswordShown[] = "********";

class ServiceFeed {
public:
    ServiceFeed(MainForm& form, ServicePort& port);
    ~ServiceFeed();

    // Engine thread. Every enclosure object the service lists now (any order) and its
    // notes, after each change the bus brought (an object added or removed, a poll).
    void update(std::vector<ServiceEnclosure> enclosures, const std::vector<std::string>& notes);
    // The service is not there: nobody owns its name (`busReachable`), or the bus
    // itself cannot be reached. `why` is the bus's own word, for the status bar.
    void absent(bool busReachable, const std::string& why);
    // An alert the service raised, with its mail's lines.
    void alert(const std::vector<std::string>& lines);

    // The event log window of a client shows the service's day log: asked for when
    // the window opens, followed line by line while it is open.
    void logWindowOpened();
    void logWindowClosed();
    // A line the service added to its day log (sent to this client while it watches).
    void dayLogLine(const std::string& day, const std::string& line);
    const std::vector<std::string>& dayLines() const { return dayLines_; }
    // "View Log File" of a client: a day file ("yymmdd.log", wherever the user picked
    // it) is the service's to read, as only it may read the log folder. Waits for the
    // answer on the engine thread (polling goes on). False: not a day file's name.
    bool readDayFile(const std::string& path, LogFileText& out);
    static constexpr std::int64_t kDayFileWaitUs = 120'000'000;
    bool logLive() const { return present_ && logOpen_ && logAnswered_; }
    // While the service cannot send the lines as they come, the day log is asked for
    // again this often.
    static constexpr int kDayLogRefreshMs = 4000;
    // More lines of one day than a day log holds: the rest is not kept.
    static constexpr std::size_t kMaxDayLines = 200000;

    // The Upgrade page of a client. Load: the file the user picked is opened and read
    // here, with the user's rights, by the same loader as raid-gui-sim's page (the
    // same boxes and texts), and kept open for the start. Upgrade: the service runs it
    // (StartUpgrade with that file); the page follows the job. Both are ignored while
    // an upgrade runs or is being asked for, as the page ignores them during its own.
    void loadImage(const std::string& path);
    void startUpgrade();
    // A job's properties as the service announced or changed them; `finished` when
    // its Finished signal came; gone when its object went.
    void job(const ServiceJob& job);
    void jobFinished(const std::string& path, bool succeeded, const std::string& outcome);
    void jobGone(const std::string& path);
    // An upgrade (this window's or another's) runs and the page shows it.
    bool upgradeShown() const { return !shownJob_.empty(); }
    bool upgradeAsked() const { return asking_; }

    bool present() const { return present_; }
    ServicePort& port() { return port_; }
    // Engine thread: the object path of the enclosure shown as device `index` ("" none).
    std::string enclosurePath(int index) const {
        return index >= 0 && static_cast<std::size_t>(index) < shown_.size() ? shown_[static_cast<std::size_t>(index)].path
                                                                             : std::string();
    }
    // Each alert's lines, on the engine thread (the window shows it on the desktop).
    std::function<void(const std::vector<std::string>&)> onAlert;

private:
    bool sameAsShown(const std::vector<ServiceEnclosure>& list) const;
    void publish(const std::vector<ServiceEnclosure>& list);

    MainForm& form_;
    ServicePort& port_;
    bool present_ = false;
    bool published_ = false;
    void dayLog(const ServiceDayLogAnswer& a, bool watched);
    void refreshDayLog();
    void upgradeAnswered(const ServiceUpgradeAnswer& a);
    void follow(const ServiceJob& j);
    void ended(const ServiceJob& j);
    void endShown();
    std::uint32_t heldIndex(const std::string& enclosure) const;

    // The image the user loaded, still open: the very file the service is handed.
    std::unique_ptr<FileStore> userFiles_;
    std::unique_ptr<FileReader> image_;
    bool asking_ = false;      // StartUpgrade sent, not answered yet
    std::string ownJob_;       // the job this window started, until its end was shown
    std::string shownJob_;     // the running job the page shows
    std::map<std::string, ServiceJob> jobs_;
    static constexpr std::size_t kMaxJobs = 64;

    std::vector<ServiceEnclosure> shown_;
    std::string notesShown_;
    bool logOpen_ = false;
    bool logAnswered_ = false;
    bool watching_ = false;  // lines come one by one; else the day log is asked again
    unsigned logGeneration_ = 0;
    int refreshTimer_ = -1;
    std::string day_;
    std::vector<std::string> dayLines_;
};

// The file store of a window that writes nothing: every read finds nothing, every
// write is refused (the day log and the settings are the service's).
class NoFiles final : public FileStore {
public:
    bool exists(const std::string&) override { return false; }
    std::optional<std::uint64_t> size(const std::string&) override { return std::nullopt; }
    std::optional<std::string> readAll(const std::string&) override { return std::nullopt; }
    bool append(const std::string&, std::string_view) override { return false; }
    bool replace(const std::string&, std::string_view) override { return false; }
    bool remove(const std::string&) override { return false; }
    bool folderWritable(const std::string&) override { return false; }
};

}  // namespace raid

// The engine side of the main window: every process-wide field of the main window,
// its creation, timers, window messages and the detection cycle.
//
// All of this runs on the engine thread (see platform/Scheduler.h); only the
// detection pass runs on DriveDetectThread, and only while the detection hand-over
// (app/DetectionCycle.h) keeps every other device user away. The pages' own handlers
// live in app/pages/; MainForm keeps the lifecycle, timers, navigation and workers.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/DetectionCycle.h"
#include "app/Dialogs.h"
#include "app/EngineCommands.h"
#include "app/MailService.h"
#include "app/ServiceFeed.h"
#include "app/pages/HistoryWindowSide.h"
#include "app/pages/Pages.h"
#include "device/DeviceState.h"
#include "device/Discovery.h"
#include "device/Transport.h"
#include "maintenance/FirmwareImage.h"
#include "monitor/DeviceListCompare.h"
#include "monitor/EventLog.h"
#include "monitor/HistoryRecorder.h"
#include "monitor/HistoryStore.h"
#include "monitor/PollCycle.h"
#include "monitor/StatusDecoder.h"
#include "notify/Alerts.h"
#include "notify/AlertMail.h"
#include "notify/NotificationSettings.h"
#include "platform/DeviceChangePort.h"
#include "platform/DriveLockPort.h"
#include "platform/FileStore.h"
#include "platform/HostInfo.h"
#include "platform/Random.h"
#include "platform/Scheduler.h"
#include "platform/SettingsPort.h"
#include "platform/StoragePort.h"
#include "platform/VolumePort.h"

namespace raid {

// RequestMask bits.
constexpr std::uint8_t kRequestPoll = 0x01;
constexpr std::uint8_t kRequestAction = 0x04;
constexpr std::uint8_t kPollingArmed = 0x10;

inline const std::string kVersionText = "v0.23.7-3";
inline const std::string kAppTitle = "RAID GUI " + kVersionText;

struct Ports {
    Scheduler& scheduler;
    StoragePort& storage;
    VolumePort& volumes;
    DialogPort& dialogs;
    DeviceChangePort* deviceChanges = nullptr;  // optional
    HostInfoPort* hostInfo = nullptr;           // optional: empty values without it
    FileStore* files = nullptr;                 // optional: the standard file store without it
    std::string logFolder;                      // where the day logs go ("" = current folder)
    std::string fallbackLogFolder;              // where they go while logFolder is read-only
    RandomPort* random = nullptr;               // optional: a generator of the form's own without it
    SettingsPort* settings = nullptr;           // optional: settings held in memory only without it
    TcpPort* tcp = nullptr;                     // optional: without it no mail goes out (each is reported)
    std::string settingsFolder = {};            // where the mail text files go by default (ends in "/")
    DriveLockPort* locks = nullptr;             // optional: no locking against other programs without it
    // A window that is a client of the service: its enclosures and records come from
    // there (app/ServiceFeed); it opens no drive, reads no settings file, writes no day
    // log and mails nothing. The storage and volume ports are then never used.
    ServicePort* service = nullptr;
    // How many days of history the engine keeps (in the "history" folder of logFolder).
    int historyDays = HistoryStore::kDefaultDays;
};

// The five system-information lines (each starts with its own line break).
std::vector<std::string> BuildSystemInfo(HostInfoPort* host);

class MainForm final : public EngineCommands {
public:
    MainForm(Ports ports, Controls& controls);
    ~MainForm() override;
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Window lifecycle and messages.
    void FormCreate();
    // Returns false when the close is refused (maintenance running).
    bool FormClose();
    // WM_DEVICECHANGE.
    void DeviceChange();

    // Timer bodies (public so tests and tools can drive them).
    void Timer2Timer();
    void Timer3Timer();

    // Navigation layout by page mask (bit p = page p): each offered page's image gets
    // the next navigation slot.
    void LayoutNavigation(std::uint8_t mask);
    void ShowPage();
    void ApplyPresentation();

    // TRaidThread's body: one request per wake-up when no detection runs.
    void RaidThreadWake();
    // TEmailThread's body.
    void EmailThreadWake();
    // Serves the first set request bit (0x01 poll, then 0x04 action) and clears it.
    // Engine thread; does nothing while a detection pass owns the drives.
    void RunRequest();
    void PollCycle();
    bool SendAction();
    void ServiceMailRequests();

    // --- what the window asks (EngineCommands), all on the engine thread ---
    void Click(const std::string& control) override;
    void DoubleClick(const std::string& control) override;
    void CheckBoxClick(const std::string& control, bool checked) override;
    void EditChange(const std::string& control, const std::string& text) override;
    void SelectCell(const std::string& control, int row) override;
    // The desktop session is ending (quit request, SIGTERM, SIGHUP). Returns whether
    // the session may end; when it may, the program has been closed.
    bool QueryEndSession() override;
    bool CloseRequest() override;
    void LogWindowClosed() override { logWindow_.closed(); }
    LogSnapshot logSnapshot(std::size_t from) const override { return logWindow_.snapshot(from); }
    LogFileText readLogFile(const std::string& path) override { return logWindow_.readFile(path); }
    void HistoryRangeClick(HistoryRange range) override { historyWindow_.showRange(range); }
    void HistoryWindowClosed() override { historyWindow_.closed(); }

    // Navigation handlers.
    void Image_StsClick();
    void Image_FWUpgClick();
    void Image_EmailClick();
    void Image_AboutClick();
    void StatusBar1DblClick();

    // --- state (the main window's fields) ---
    std::atomic<std::uint8_t> RequestMask{0};
    std::atomic<std::uint8_t> DeviceChangeCountdown{0};
    // A machine that never settles (a flapping enclosure, a USB stick or loop devices
    // coming and going every few seconds) restarts the countdown for ever. It must not
    // hold polling and re-detection back without end, so the engine remembers when the
    // changes began (the first change after 5 s without any), when the drives were last
    // counted again during them, and when the latest change came (scheduler
    // microseconds; -1: none yet).
    std::int64_t DeviceChangeSinceUs = -1;
    std::int64_t DeviceChangeRecountUs = -1;
    std::int64_t LastDeviceChangeUs = -1;
    // Device changes hold polling back at most this long from their beginning: past it
    // the polls go on with the published list while the machine is still changing.
    // Longer than the 5 s countdown, so a single change still waits for its re-count.
    static constexpr std::int64_t kChangesHoldPollingUs = 6'000'000;
    // A countdown restarted again and again still ends this long after the changes
    // began or the drives were last counted: the drives are counted again (and a pass
    // runs when a count changed), so an enclosure that leaves among the churn is seen.
    static constexpr std::int64_t kChangesRecountUs = 10'000'000;
    // Device changes hold polling now.
    bool DeviceChangesHoldPolling() const;
    // The countdown has been restarted for kChangesRecountUs: the re-count is due.
    bool DeviceChangesRecountDue() const;
    std::atomic<bool> MaintenanceBusy{false};
    int CurrentPage = 0;
    int StatusDevice = 0;
    int UpgradeDevice = 0;
    int EmailSubPage = 0;
    std::uint8_t ActionCode = 0;
    bool ActionAbort = false;
    std::uint64_t ActionArg1 = 0;
    std::uint64_t ActionArg2 = 0;
    std::uint32_t ProgressValue = 0;
    double StartTime = 0;  // wall seconds
    double ClockNow = 0;   // wall seconds, refreshed every second
    std::uint32_t statusSearchLimit = 0x80000;
    // How long a hint stays up (ms); the window applies it to its tool tips.
    int HintHidePause = 0;

    DeviceState dev;

    Transport& transport() { return *transport_; }
    EventLog& eventLog() { return *log_; }
    const EventLog& eventLog() const { return *log_; }
    StatusDecoder& decoder() { return *decoder_; }
    const StatusDecoder& decoder() const { return *decoder_; }
    AlertState& alerts() { return *alerts_; }
    DetectionCycle& detection() { return detection_; }
    StatusPoll& poll() { return *poll_; }
    StatusPage& statusPage() { return statusPage_; }
    EmailPage& emailPage() { return emailPage_; }
    UpgradePage& upgradePage() { return upgradePage_; }
    // Sets or clears MaintenanceBusy: while set the device check boxes are disabled;
    // clearing it lets go of the held device.
    void setMaintenanceBusy(bool busy);
    NotificationSettings& settings() { return settings_; }
    SettingsStore& settingsStore() { return *settingsStore_; }
    // After the E-mail page's save: the settings are loaded again.
    void settingsSaved();
    // LoadNotificationSettings.
    void LoadNotificationSettings();
    LogWindowSide& logWindow() { return logWindow_; }
    bool logWindowOpen() const { return logWindow_.open(); }
    // The history chart window's engine side; its source is set from outside.
    HistoryWindowSide& historyWindow() { return historyWindow_; }
    // Hands an alert to the mail side (and to whoever watches, see onAlertRaised).
    void raiseAlert(int kind, int deviceIndex, int port);
    Discovery& discovery() { return *discovery_; }
    // The service a client window shows (nullptr: this process talks to the devices).
    ServiceFeed* serviceFeed() { return feed_.get(); }
    const ServiceFeed* serviceFeed() const { return feed_.get(); }
    DriveLockPort* driveLocks() const { return ports_.locks; }
    bool driveAccessDenied() const { return ports_.storage.accessDenied(); }
    Controls& controls() { return controls_; }
    Scheduler& scheduler() { return ports_.scheduler; }
    Reporter& reporter() { return *reporter_; }
    DialogPort& dialogs() { return ports_.dialogs; }
    FileStore& files() { return *files_; }
    // The firmware image the Load image read (size 0: none).
    FirmwareImage& firmwareImage() { return firmwareImage_; }
    bool anyDeviceChecked() const;
    // Whether the user watches device index 0 or 1 (its check box shows it). Any thread.
    bool watched(int index) const { return watched_[index == 0 ? 0 : 1].load(); }
    // Engine thread: sets it and ticks or clears the check box.
    void setWatched(int index, bool on);
    // The status bar's panels 0..4: what the engine last said there (engine thread).
    void setPanel(int index, const std::string& text);
    const std::string& panelText(int index) const { return panels_[static_cast<std::size_t>(index)]; }
    // The check box of device index 0 or 1.
    static const char* deviceCheckBox(int index) { return names::deviceCheckBox[index == 0 ? 0 : 1]; }

    // Shows a box through the dialog port (engine thread).
    int messageBox(const std::string& text, const std::string& caption, int buttons = DialogPort::OkOnly);

    // Timers.
    Scheduler::TimerId Timer1 = -1, Timer2 = -1, Timer3 = -1, Timer4 = -1, Timer5 = -1;

    // Product class of the selected device (1, 2 or 4 = hybrid), set by the device
    // refresh; with the decoder's flush counter it puts the poll clock into slow mode.
    int ProductClass = 2;
    // The device refresh after a published detection, on selection changes and page
    // switches (the Status page's): the device the next operation addresses, its
    // product class, the device names and the caption.
    void DeviceRefresh();
    int TickDivider = 0;  // the slow-mode divider; the Status page resets it
    // Each raised alert (after the alert state holds its lines), for tools that show it.
    std::function<void(int kind, int deviceIndex, int port)> onAlertRaised;
    // Watchers for tools and tests: clicks that no handler claims, check box clicks.
    std::function<void(const std::string&)> onClick;
    std::function<void(const std::string&, bool)> onCheckBox;
    // Each mail's outcome, on the engine thread: sent, or the error and whether it will
    // be tried again.
    std::function<void(const OutgoingMail&, const SmtpResult&, bool retry)> onMail;
    MailOutbox& outbox() { return mail_.outbox(); }
    MailService& mail() { return mail_; }
    // Called on the engine thread when the program is to end (granted close/session end).
    std::function<void()> onQuit;

    std::array<bool, kDecoderDevices> UserAbort{};
    std::atomic<std::uint8_t> MailRequestFlags{0};
    std::vector<std::string> SystemInfoLines;
    // A one-shot check (raid-gui-monitor --status) rather than a running program: the
    // enclosure is not told that a program starts or ends, and alerts are not mailed.
    bool AnnounceToEnclosure = true;
    bool MailAlerts = true;
    // The engine's history (null in a client window: the service keeps it).
    HistoryStore* historyStore() { return history_.get(); }
    HistoryRecorder* historyRecorder() { return recorder_.get(); }
    // Where the window gets an enclosure's history: the engine's own store, or the
    // service's over the bus in a client window. Calls may come from any thread.
    HistorySource& historySource() { return *historySource_; }
    // Polls made since FormCreate, and which devices the last one read.
    unsigned PollsDone = 0;
    std::uint8_t LastPollMask = 0;

    // Longest the session-end handler waits for the enclosure to be told (then it
    // closes anyway: a session end must never hang on a dead device).
    std::int64_t sessionEndWaitUs = 30'000'000;

private:
    void startWorkers();

    Ports ports_;
    // Published only: the engine never reads its state back from here.
    Controls& controls_;
    std::array<std::atomic<bool>, 2> watched_{};
    std::array<std::string, 5> panels_;
    std::unique_ptr<Reporter> reporter_;
    // Turns device results into what reporter_ shows; the transport's report.
    std::unique_ptr<DeviceReport> presenter_;
    XorShiftRandom ownRandom_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<Discovery> discovery_;
    std::unique_ptr<FileStore> ownFiles_;
    FileStore* files_ = nullptr;
    FirmwareImage firmwareImage_;
    std::unique_ptr<EventLog> log_;
    std::unique_ptr<HistoryStore> history_;
    std::unique_ptr<HistoryRecorder> recorder_;
    std::unique_ptr<HistorySource> historySource_;
    std::unique_ptr<AlertState> alerts_;
    std::unique_ptr<StatusDecoder> decoder_;
    std::unique_ptr<StatusPoll> poll_;
    MemorySettings ownSettings_;
    NotificationSettings settings_;
    std::unique_ptr<SettingsStore> settingsStore_;
    std::vector<std::string> settingsProblems_;
    std::string shownSettingsProblems_;  // the last box of them, not shown twice running
    MailService mail_{*this};
    void showSettingsProblems();
    DetectionCycle detection_{*this};
    HandlerTable handlers_;
    StatusPage statusPage_{*this};
    UpgradePage upgradePage_{*this};
    EmailPage emailPage_{*this};
    LogWindowSide logWindow_{*this};
    HistoryWindowSide historyWindow_{*this};
    NoFiles noFiles_;
    std::unique_ptr<ServiceFeed> feed_;
};

}  // namespace raid

// The engine side of the main window: every process-wide field of the main window,
// its creation, timers, window messages and the detection cycle.
//
// All of this runs on the engine thread (see platform/Scheduler.h); only the
// detection pass runs on DriveDetectThread, and only while DetectionRunning keeps
// every other device user away.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "device/DeviceState.h"
#include "device/Discovery.h"
#include "device/Transport.h"
#include "monitor/DeviceListCompare.h"
#include "monitor/EventLog.h"
#include "monitor/StatusDecoder.h"
#include "notify/Alerts.h"
#include "platform/DeviceChangePort.h"
#include "platform/FileStore.h"
#include "platform/HostInfo.h"
#include "platform/Random.h"
#include "platform/Scheduler.h"
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
};

// The five system-information lines (each starts with its own line break).
std::vector<std::string> BuildSystemInfo(HostInfoPort* host);

class MainForm {
public:
    MainForm(Ports ports, Controls& controls);
    ~MainForm();
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
    void DetectionTick();

    // Navigation layout by page mask (bit p = page p).
    void LayoutNavigation(std::uint8_t mask);
    void ShowPage();
    void ApplyPresentation();

    // The detection thread's body (one wake-up).
    void DriveDetectWake();
    // TRaidThread's body: one request per wake-up when no detection runs.
    void RaidThreadWake();
    // TEmailThread's body.
    void EmailThreadWake();
    // Serves the first set request bit (0x01 poll, then 0x04 action) and clears it.
    void RunRequest();
    void PollCycle();
    bool SendAction();
    void ServiceMailRequests();

    // --- user actions, forwarded by the window (all on the engine thread) ---
    // A click on an image, button or label, by control name (Image_Sts, Image0_D1, ...).
    void Click(const std::string& control);
    void DoubleClick(const std::string& control);  // StatusBar1
    // Pressed look of the push images (Image3_OK, Image3_Ignore, Image0_Log, Image2_Load, Image2_Upgrade).
    void MouseDown(const std::string& control);
    void MouseUp(const std::string& control);
    // The user ticked or cleared a check box (the new state).
    void CheckBoxClick(const std::string& control, bool checked);
    // The desktop session is ending (quit request, SIGTERM, SIGHUP). Returns whether
    // the session may end; when it may, the program has been closed.
    bool QueryEndSession();
    // The title-bar close button. Returns whether the window closes.
    bool CloseRequest();

    // The event log window (TForm5). The window itself belongs to the front end: the
    // engine only says when to open it and answers its periodic questions, so polling
    // and logging go on while it is open.
    void Image0_LogClick();
    void LogWindowClosed() { logWindowOpen_ = false; }
    bool logWindowOpen() const { return logWindowOpen_; }
    struct LogSnapshot {
        std::vector<std::string> lines;  // day lines from `from` on (all of them when `restart`)
        std::size_t total = 0;           // number of day lines now
        bool restart = false;            // the day lines shrank (a new day began): start over
        bool live = false;               // polling armed (RequestMask bit 0x10)
    };
    // Day lines the window does not have yet, given how many it has.
    LogSnapshot logSnapshot(std::size_t from) const;
    std::function<void()> onShowLogWindow;

    // Page handlers.
    void Image_StsClick();
    void Image_FWUpgClick();
    void Image_EmailClick();
    void Image_AboutClick();
    void StatusBar1DblClick();

    // --- state (the main window's fields) ---
    std::atomic<std::uint8_t> RequestMask{0};
    std::atomic<std::uint8_t> DeviceChangeCountdown{0};
    std::atomic<bool> DetectRequested{true};
    std::atomic<bool> DetectionRunning{true};
    std::atomic<bool> DetectionDone{false};
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
    int keptLogicalCount = 0;
    // When each detection pass started (scheduler microseconds); written by the
    // detection thread, for tools and tests that look after the run.
    std::vector<std::int64_t> detectionPassTimesUs;
    int keptPhysicalCount = 0;

    DeviceState dev;

    Transport& transport() { return *transport_; }
    EventLog& eventLog() { return *log_; }
    StatusDecoder& decoder() { return *decoder_; }
    AlertState& alerts() { return *alerts_; }
    // Hands an alert to the mail side (and to whoever watches, see onAlertRaised).
    void raiseAlert(int kind, int deviceIndex, int port);
    // Draws the Status page: -1 when no device check box is ticked, else 0. The first
    // drawing ends the start-up pass.
    int DrawStatusPage(bool fullRedraw);
    Discovery& discovery() { return *discovery_; }
    Controls& controls() { return controls_; }
    Scheduler& scheduler() { return ports_.scheduler; }
    Reporter& reporter() { return *reporter_; }

    // Shows a box through the dialog port (engine thread).
    int messageBox(const std::string& text, const std::string& caption, int buttons = DialogPort::OkOnly);

    // Timers.
    Scheduler::TimerId Timer1 = -1, Timer2 = -1, Timer3 = -1, Timer4 = -1;

    // Names of the device check boxes by device index.
    static const char* deviceCheckBox(int index) { return index == 0 ? "CheckBox1" : "CheckBox3"; }

    // Hooks the later layers fill in (device refresh, device-list comparison, ...).
    std::function<void()> onDeviceRefresh;
    std::function<void()> onDeviceListCompare;
    std::function<void(bool firstPresentation)> onStatusPageRefresh;
    std::function<void()> onUpgradePageRefresh;
    std::function<void()> onEmailPageLoad;
    std::function<void()> onEmailSubPageRefresh;
    std::function<void(std::uint8_t mask)> onDecode;
    // Product class of the selected device (1, 2 or 4 = hybrid), set by the device
    // refresh; with the decoder's flush counter it puts the poll clock into slow mode.
    int ProductClass = 2;
    // The device refresh after a published detection and on selection changes: takes
    // the device the next operation addresses and its product class.
    void DeviceRefresh();
    int TickDivider = 0;  // the slow-mode divider; the Status page resets it
    std::function<void()> onServiceMail;
    std::function<void(const std::string&)> onClick;  // clicks no handler here claims
    std::function<void(const std::string&, bool)> onCheckBox;
    // Each raised alert (after the alert state holds its lines), for tools that show it.
    std::function<void(int kind, int deviceIndex, int port)> onAlertRaised;
    // Called on the engine thread when the program is to end (granted close/session end).
    std::function<void()> onQuit;

    // Per-device poll state (indices 0 and 1).
    std::array<std::uint8_t, 2> PollFailures{};
    std::array<bool, kDecoderDevices> UserAbort{};
    std::uint8_t StatusErrorCount = 0;
    std::atomic<std::uint8_t> MailRequestFlags{0};
    bool SettingsKeyExists = false;
    std::vector<std::string> SystemInfoLines;
    // Longest the session-end handler waits for the enclosure to be told (then it
    // closes anyway: a session end must never hang on a dead device).
    std::int64_t sessionEndWaitUs = 30'000'000;

private:
    void declareControls();
    void selectSubImage(const std::array<const char*, 3>& images, std::size_t count, std::size_t index);
    void publishDetection();

    Ports ports_;
    Controls& controls_;
    std::unique_ptr<Reporter> reporter_;
    XorShiftRandom random_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<Discovery> discovery_;
    std::unique_ptr<FileStore> ownFiles_;
    std::unique_ptr<EventLog> log_;
    std::unique_ptr<AlertState> alerts_;
    std::unique_ptr<StatusDecoder> decoder_;
    bool logWindowOpen_ = false;
};

}  // namespace raid

#include "app/MainForm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "device/StatusRead.h"
#include "monitor/StatusRecord.h"

namespace raid {

namespace {

// Navigation image of each page (page 1 exists in the page book but is never offered).
const std::array<const char*, 5> kNavImages = {"Image_Sts", "Image_Page1", "Image_FWUpg", "Image_Email", "Image_About"};
constexpr int kNavX = 16;
constexpr std::array<int, 5> kNavSlotY = {112, 168, 224, 280, 336};

// Forwards what device routines report to the window. Off the engine thread (the
// detection pass) the texts are queued for the engine thread in order.
class FormReporter final : public Reporter {
public:
    explicit FormReporter(MainForm& form) : form_(form) {}
    void panel(int index, const std::string& text) override {
        if (form_.scheduler().isEngineThread()) {
            form_.controls().setText(panelName(index), text);
        } else {
            MainForm* f = &form_;
            form_.scheduler().post([f, index, text] { f->controls().setText(panelName(index), text); });
        }
    }
    void messageBox(const std::string& text, const std::string& caption) override {
        if (form_.scheduler().isEngineThread()) {
            form_.messageBox(text, caption);
        } else {
            MainForm* f = &form_;
            form_.scheduler().post([f, text, caption] { f->messageBox(text, caption); });
        }
    }

private:
    MainForm& form_;
};

}  // namespace

MainForm::MainForm(Ports ports, Controls& controls) : ports_(ports), controls_(controls) {
    reporter_ = std::make_unique<FormReporter>(*this);
    transport_ = std::make_unique<Transport>(ports_.storage, ports_.scheduler, random_, *reporter_);
    discovery_ = std::make_unique<Discovery>(*transport_, ports_.volumes, dev);
    FileStore* files = ports_.files;
    if (!files) {
        ownFiles_ = makeStdFileStore();
        files = ownFiles_.get();
    }
    log_ = std::make_unique<EventLog>(*files, ports_.logFolder, ports_.fallbackLogFolder, kAppTitle,
                                      [this](const std::string& text) { controls_.setText(panelName(4), text); });
    alerts_ = std::make_unique<AlertState>(dev, MailRequestFlags);
    decoder_ = std::make_unique<StatusDecoder>(DecoderContext{
        dev, *log_, UserAbort, dev.FirstPass, ClockNow, [this] { return ports_.scheduler.wallSeconds(); },
        [this](int kind, int device, int port) { raiseAlert(kind, device, port); }});
    onDecode = [this](std::uint8_t mask) { decoder_->decode(mask); };
    onDeviceListCompare = [this] {
        compareDeviceLists(dev, *log_, [this](int kind, int device, int port) { raiseAlert(kind, device, port); });
    };
    onStatusPageRefresh = [this](bool full) { DrawStatusPage(full); };
    declareControls();
}

MainForm::~MainForm() {
    if (ports_.deviceChanges) ports_.deviceChanges->stop();
}

int MainForm::messageBox(const std::string& text, const std::string& caption, int buttons) {
    return ports_.dialogs.messageBox(text, caption, buttons);
}

void MainForm::declareControls() {
    for (std::size_t p = 0; p < kNavImages.size(); ++p) {
        ControlState s;
        s.left = kNavX;
        s.top = kNavSlotY[p];
        s.text = std::string(kNavImages[p]) + "_White";
        controls_.declare(kNavImages[p], s);
        ControlState yellow = s;
        yellow.text.clear();
        controls_.declare(std::string(kNavImages[p]) + "_Yellow", yellow);
        controls_.declare(std::string(kNavImages[p]) + "_White", yellow);
    }
    for (int i = 0; i < 5; ++i) controls_.declare(panelName(i));
    controls_.declare("StaticText1");
    ControlState box;
    box.text = "Device1";
    controls_.declare("CheckBox1", box);
    box.text = "Device2";
    controls_.declare("CheckBox3", box);
    for (const char* name : {"Image0_D1", "Image0_D2", "Image2_D1", "Image2_D2", "Image0_Log", "Image2_Load",
                             "Image2_Upgrade", "Image_Background", "Image_Background_RAID", "Image_Background_OEM",
                             "Memo1", "Memo2", "Memo7", "Label63", "Label65", "Notebook1", "TForm1"})
        controls_.declare(name);
}

void MainForm::FormCreate() {
    Scheduler& sched = ports_.scheduler;
    // Device-interface notifications: every arrival or removal restarts the countdown.
    if (ports_.deviceChanges) {
        MainForm* self = this;
        ports_.deviceChanges->start([self] { self->scheduler().post([self] { self->DeviceChange(); }); });
    }

    DeviceChangeCountdown = 0;
    dev.UpgradeHoldsDevice = false;
    MaintenanceBusy = false;
    dev.CurrentDevice = 0;
    dev.HeldDevice = kNoHeldDevice;
    dev.ActiveCount = 0;
    dev.FoundCount = 0;

    controls_.setText("StaticText1", "Drive detecting");

    auto turn = [&sched] { sched.processPending(); };
    keptLogicalCount = discovery_->EnumerateLetters(turn);
    keptPhysicalCount = discovery_->CountPhysicalDrives(turn);

    DetectionDone = false;
    DetectionRunning = true;
    DetectRequested = true;
    dev.DetectionPending = true;
    RequestMask = 0;

    Timer1 = sched.addTimer(1000, [] {});
    Timer2 = sched.addTimer(4000, [this] { Timer2Timer(); });
    Timer3 = sched.addTimer(1000, [this] { Timer3Timer(); });
    Timer4 = sched.addTimer(500, [this] { DetectionTick(); });

    // The detection pass starts at once because DetectRequested is already set.
    sched.startWorker("DriveDetectThread", 100, [this] { DriveDetectWake(); });
    sched.startWorker("TRaidThread", 50, [this] { RaidThreadWake(); });
    sched.startWorker("TEmailThread", 200, [this] { EmailThreadWake(); });

    StartTime = sched.wallSeconds();
    ClockNow = StartTime;
    sched.setTimerEnabled(Timer3, true);
    sched.setTimerEnabled(Timer4, true);

    statusSearchLimit = 0x80000;
    discovery_->statusSearchLimit = statusSearchLimit;
    ProgressValue = 0;
    random_.seed(static_cast<std::uint32_t>(std::fmod(sched.wallSeconds() * 1000.0, 4294967296.0)));

    for (const char* name : kNavImages) {
        controls_.setVisible(std::string(name) + "_Yellow", false);
        controls_.setVisible(std::string(name) + "_White", false);
    }
    for (const char* name : {"Image_Background_RAID", "Image_Background_OEM", "Image0_Log", "Memo1", "Memo2", "Memo7",
                             "CheckBox1", "CheckBox3"})
        controls_.setVisible(name, false);
    for (const char* name : kNavImages) controls_.setEnabled(name, false);
    controls_.setEnabled("Image2_Load", false);
    controls_.setEnabled("Image2_Upgrade", false);

    transport_->ShortVendorPrefix = true;
    dev.FirstPass = true;
    ApplyPresentation();

    for (int i = 0; i < 2; ++i) {
        PollFailures[static_cast<std::size_t>(i)] = 0;
        UserAbort[static_cast<std::size_t>(i)] = false;
        decoder_->states()[static_cast<std::size_t>(i)] = DeviceEventState{};
    }

    controls_.setText("Label65", kVersionText);
    // The private mail form and the settings lists arrive with the notification
    // layer. The platform's COM set-up for the host query would go here on Windows.
    SystemInfoLines = BuildSystemInfo(ports_.hostInfo);
    for (const char* name : {"Image0_D1", "Image0_D2", "Image2_D1", "Image2_D2"}) controls_.setVisible(name, false);
    CurrentPage = 0;
    ShowPage();
    StatusDevice = 0;
    controls_.setText("Image0_D1", "Image0_D1_Yellow");
    controls_.setText("Image0_D2", "Image0_D2_White");
    UpgradeDevice = 0;
    if (onUpgradePageRefresh) onUpgradePageRefresh();
    EmailSubPage = 0;
    if (onEmailSubPageRefresh) onEmailSubPageRefresh();
}

bool MainForm::FormClose() {
    if (MaintenanceBusy) return false;
    for (auto t : {Timer1, Timer2, Timer3, Timer4}) ports_.scheduler.setTimerEnabled(t, false);
    RequestMask = 0;
    return true;
}

void MainForm::DeviceChange() { DeviceChangeCountdown = 16; }

void MainForm::ApplyPresentation() {
    LayoutNavigation(0x1D);
    controls_.setText("Label63", "RAID Management Sofeware");
    controls_.setText("Image_Background", controls_.text("Image_Background_RAID"));
    controls_.setVisible("Image_Background_OEM", false);
    controls_.setText("TForm1", kAppTitle);
}

void MainForm::LayoutNavigation(std::uint8_t mask) {
    // Slot positions are where the _Yellow pictures sit, top to bottom.
    std::size_t next = 0;
    for (std::size_t p = 0; p < kNavImages.size(); ++p) {
        if (mask & (1u << p)) {
            const ControlState& slot = controls_.get(std::string(kNavImages[next]) + "_Yellow");
            controls_.setPos(kNavImages[p], slot.left, slot.top);
            ++next;
        } else {
            controls_.setVisible(kNavImages[p], false);
        }
    }
}

void MainForm::ShowPage() {
    for (int p : {0, 2, 3, 4}) {
        const std::string name = kNavImages[static_cast<std::size_t>(p)];
        controls_.setText(name, name + (p == CurrentPage ? "_Yellow" : "_White"));
    }
    controls_.setText("Notebook1", std::to_string(CurrentPage));
}

void MainForm::Timer3Timer() { ClockNow = ports_.scheduler.wallSeconds(); }

void MainForm::Timer2Timer() {
    // Slow mode: a hybrid enclosure flushing its cache is polled every tenth tick.
    if (ProductClass == 4 && (decoder_->flushCounter() & 0x80)) {
        if (TickDivider < 9) {
            ++TickDivider;
            return;
        }
        TickDivider = 0;
    }
    if (DeviceChangeCountdown == 0 && !dev.DetectionPending && !MaintenanceBusy) {
        if (RequestMask & kPollingArmed)
            RequestMask |= kRequestPoll;
        else
            RequestMask = kPollingArmed;
    } else if (MaintenanceBusy) {
        RequestMask &= static_cast<std::uint8_t>(~kPollingArmed);
    }
}

void MainForm::DriveDetectWake() {
    if (!DetectRequested) return;
    DetectRequested = false;
    detectionPassTimesUs.push_back(ports_.scheduler.nowUs());
    discovery_->statusSearchLimit = statusSearchLimit;
    discovery_->DetectionPass();
    DetectionRunning = false;
    DetectionDone = true;
}

void MainForm::DetectionTick() {
    Scheduler& sched = ports_.scheduler;
    if (DeviceChangeCountdown != 0) {
        if (DeviceChangeCountdown < 26) {
            DeviceChangeCountdown = static_cast<std::uint8_t>(DeviceChangeCountdown + 1);
            return;
        }
        // A pass still running owns the drives: the re-count waits for it (the countdown
        // stays at 26), or both would send commands at once.
        if (DetectionRunning) return;
        controls_.setEnabled("Image2_Upgrade", false);
        if (MaintenanceBusy) {
            controls_.setEnabled("Image2_Upgrade", true);
            return;
        }
        dev.DetectionPending = true;
        DeviceChangeCountdown = 0;
        auto turn = [&sched] { sched.processPending(); };
        const int letters = discovery_->EnumerateLetters(turn);
        const int physical = discovery_->CountPhysicalDrives(turn);
        if (letters == keptLogicalCount && physical == keptPhysicalCount) {
            controls_.setEnabled("Image2_Upgrade", true);
            dev.DetectionPending = false;
            return;
        }
        keptLogicalCount = letters;
        keptPhysicalCount = physical;
        DetectionRunning = true;
        DetectRequested = true;
        if (dev.ActiveCount == 0) controls_.setText("StaticText1", "Drive detecting");
        return;
    }
    if (DetectionDone) {
        publishDetection();
        return;
    }
    if (DetectionRunning && controls_.text("StaticText1") == "Drive detecting")
        controls_.setVisible("StaticText1", !controls_.visible("StaticText1"));
}

void MainForm::publishDetection() {
    Scheduler& sched = ports_.scheduler;
    DetectionDone = false;
    controls_.setText(panelName(1), "Detected OK");
    controls_.setText(panelName(2), " ");
    static const std::array<const char*, 2> statusImages = {"Image0_D1", "Image0_D2"};
    static const std::array<const char*, 2> upgradeImages = {"Image2_D1", "Image2_D2"};
    for (int i = 0; i < 2; ++i) {
        const bool present = i < dev.FoundCount;
        controls_.setVisible(deviceCheckBox(i), present);
        controls_.setChecked(deviceCheckBox(i), present);
        controls_.setVisible(statusImages[static_cast<std::size_t>(i)], present);
        controls_.setVisible(upgradeImages[static_cast<std::size_t>(i)], present);
    }
    if (!dev.FirstPass && onDeviceListCompare) onDeviceListCompare();

    // The published list has room for eight; only the first two are shown and polled,
    // so enclosures past the eighth are simply not published.
    const int count = dev.FoundCount < kMaxActive ? dev.FoundCount : kMaxActive;
    for (int i = 0; i < count; ++i) dev.ActiveDevices[static_cast<std::size_t>(i)] = dev.FoundDevices[static_cast<std::size_t>(i)];
    dev.ActiveCount = count;
    dev.EnclosureIdentity = dev.freshPages;

    if (count > 0) {
        if (static_cast<int>(dev.CurrentDevice) >= count) dev.CurrentDevice = static_cast<std::uint32_t>(count - 1);
        controls_.setEnabled("Image2_Load", true);
        controls_.setEnabled("Image2_Upgrade", true);
        for (const char* name : kNavImages) controls_.setEnabled(name, true);
        controls_.setVisible("Image0_Log", true);
        DeviceRefresh();
        dev.DetectionPending = false;
        RequestMask |= kRequestPoll | kPollingArmed;
        sched.setTimerEnabled(Timer2, true);
        sched.setTimerEnabled(Timer3, true);
        controls_.setVisible("StaticText1", false);
        controls_.setText("StaticText1", " ");
        if (dev.FirstPass) {
            ActionCode = 0x21;
            ActionArg1 = 0;
            ActionArg2 = 0;
            RequestMask |= kRequestAction;
        }
    } else {
        controls_.setEnabled("Image2_Load", false);
        controls_.setEnabled("Image2_Upgrade", false);
        for (const char* name : kNavImages) controls_.setEnabled(name, false);
        sched.setTimerEnabled(Timer3, false);
        dev.DetectionPending = false;
        controls_.setVisible("StaticText1", true);
        controls_.setText("StaticText1", "No Drive found! ");
    }
}

}  // namespace raid

namespace raid {

// ---------------------------------------------------------------------------
// Worker threads and requests

void MainForm::RaidThreadWake() {
    if (DetectionRunning) return;
    if ((RequestMask & (kRequestPoll | kRequestAction)) == 0) return;
    ports_.scheduler.invokeSync([this] { RunRequest(); });
}

void MainForm::EmailThreadWake() {
    if (MailRequestFlags == 0) return;
    ports_.scheduler.invokeSync([this] { ServiceMailRequests(); });
}

void MainForm::RunRequest() {
    const std::uint8_t mask = RequestMask;
    if (mask & kRequestPoll) {
        PollCycle();
        RequestMask &= static_cast<std::uint8_t>(~kRequestPoll);
    } else if (mask & kRequestAction) {
        SendAction();
        RequestMask &= static_cast<std::uint8_t>(~kRequestAction);
    }
}

void MainForm::PollCycle() {
    if (DeviceChangeCountdown != 0 || dev.DetectionPending || MaintenanceBusy) return;
    std::uint8_t mask = 0;
    for (int i = 0; i < 2; ++i) {
        if (MaintenanceBusy) return;  // an upgrade started meanwhile: no decoding either
        const auto idx = static_cast<std::size_t>(i);
        if (i >= dev.ActiveCount || !controls_.checked(deviceCheckBox(i)) ||
            static_cast<std::uint32_t>(i) == dev.HeldDevice)
            continue;
        dev.CurrentDevice = static_cast<std::uint32_t>(i);
        if (PollFailures[idx] & 1) {
            // A failed read is followed by one idle round.
            ++PollFailures[idx];
            continue;
        }
        Sector fresh{};
        if (!ReadStatus(*transport_, dev, fresh.data(), statusSearchLimit)) {
            if (++PollFailures[idx] > 10) {
                controls_.setChecked(deviceCheckBox(i), false);
                PollFailures[idx] = 0;
            }
            continue;
        }
        Sector& stored = dev.EnclosureStatus[dev.ActiveDevices[idx] & kCodeDriveMask];
        const bool raid = stored[1] == 0xA0;
        const std::size_t f = raid ? 104 : 202;
        const std::uint8_t lastProgress = decoder_->states()[idx].previousProgress;
        if (fresh[f] != 0 || lastProgress == 0xFF) {
            if (raid) {
                // A drive that has just gone keeps its model, capacity and serial.
                const std::uint8_t changed = stored[f] ^ fresh[f];
                auto keep = [&](std::size_t at, std::size_t n) {
                    std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(at), n,
                                fresh.begin() + static_cast<std::ptrdiff_t>(at));
                };
                // It keeps it for as long as it stays away and the enclosure reports no
                // identity of its own for the bay, not just for the one poll that saw it go.
                auto blank = [&](std::size_t at) {
                    return std::all_of(fresh.begin() + static_cast<std::ptrdiff_t>(at),
                                       fresh.begin() + static_cast<std::ptrdiff_t>(at + 20),
                                       [](std::uint8_t b) { return b == 0 || b == ' '; });
                };
                auto gone = [&](std::uint8_t bit, std::size_t serial) {
                    if (fresh[104] & bit) return false;
                    return (changed & bit) || (!(stored[104] & bit) && blank(serial));
                };
                if (gone(0x02, 58)) keep(256, 40), keep(296, 6), keep(58, 20);
                if (gone(0x20, 78)) keep(302, 40), keep(342, 6), keep(78, 20);
            }
            stored = fresh;
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "HDD Status = 0x%02X, Err Count = 0x%02X", fresh[f], StatusErrorCount);
            controls_.setText(panelName(4), text);
            ++StatusErrorCount;
        }
        mask = static_cast<std::uint8_t>(mask | (1u << i));
        PollFailures[idx] = 0;
    }
    if (onDecode) onDecode(mask);
    // The first drawing ends the start-up pass. It happens even when another page is
    // showing: otherwise a user who opened the Upgrade page early could never get back
    // (the page handlers wait for the start-up pass to end) and every poll would write
    // the start-up header into the day log again.
    if (mask != 0 && (CurrentPage == 0 || dev.FirstPass) && onStatusPageRefresh) onStatusPageRefresh(dev.FirstPass);
}

bool MainForm::SendAction() {
    if (dev.HeldDevice != kNoHeldDevice) return false;
    if (dev.ActiveCount == 0) {
        controls_.setText(panelName(4), "Device not found!!!");
        messageBox("No Device found !", "Message");
        return false;
    }
    if (!controls_.checked("CheckBox1") && !controls_.checked("CheckBox3")) return false;
    dev.CurrentDevice = static_cast<std::uint32_t>(StatusDevice);
    const std::uint32_t code = dev.ActiveDevices[static_cast<std::size_t>(StatusDevice) % kMaxActive];
    const DriveHandle handle = transport_->OpenDrive(static_cast<std::uint8_t>(code & kCodeDriveMask));
    if (handle == kInvalidHandle) {
        messageBox("Invalid Drive", "");
        return false;
    }
    Sector& m = transport_->MailboxCommand();
    m[0] = '3';
    m[1] = 'X';
    m[2] = (ActionCode & 0x20) ? 0x1F : 0x24;
    m[3] = ActionAbort ? 0 : 1;
    m[4] = ActionCode;
    for (int i = 0; i < 5; ++i) m[7 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(ActionArg1 >> (8 * i));
    m[12] = 0;
    for (int i = 0; i < 6; ++i) m[13 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(ActionArg2 >> (8 * i));
    transport_->MailboxChecksum();
    const bool ok = transport_->WriteSectors(handle, 20, m.data(), 1);
    if (!ok) controls_.setText(panelName(4), "Error code 201");
    transport_->CloseCurrent();
    if (!ActionAbort && StatusDevice >= 0 && StatusDevice < 2) UserAbort[static_cast<std::size_t>(StatusDevice)] = true;
    return ok;
}

void MainForm::ServiceMailRequests() {
    controls_.setText(panelName(2), "Email=" + std::to_string(MailRequestFlags.load()));
    if (onServiceMail) {
        onServiceMail();
        return;
    }
    // Settings and sending arrive with the notification layer. Until then the load
    // request is acknowledged, and a raised alert stays pending (bit 1) with its kind
    // and lines, so nothing of it is lost before there is a way to send it.
    MailRequestFlags &= static_cast<std::uint8_t>(~kMailLoadSettings);
}

void MainForm::raiseAlert(int kind, int deviceIndex, int port) {
    alerts_->raiseAlert(kind, deviceIndex, port);
    if (onAlertRaised) onAlertRaised(kind, deviceIndex, port);
}

void MainForm::DeviceRefresh() {
    if (!controls_.checked("CheckBox1") && !controls_.checked("CheckBox3")) return;
    const int device = CurrentPage == 2 ? UpgradeDevice : StatusDevice;
    dev.CurrentDevice = static_cast<std::uint32_t>(device);
    ProductClass = productClass(identityOf(dev, device));
    if (onDeviceRefresh) onDeviceRefresh();
}

int MainForm::DrawStatusPage(bool) {
    if (!controls_.checked("CheckBox1") && !controls_.checked("CheckBox3")) return -1;
    // The start-up pass ends with the first drawing.
    dev.FirstPass = false;
    LayoutNavigation(0x1D);
    return 0;
}

// ---------------------------------------------------------------------------
// User actions

void MainForm::Image_StsClick() {
    if (dev.HeldDevice != kNoHeldDevice || dev.FirstPass) return;
    CurrentPage = 0;
    ShowPage();
    dev.CurrentDevice = static_cast<std::uint32_t>(StatusDevice);
    if (onStatusPageRefresh) onStatusPageRefresh(false);
}

void MainForm::Image_FWUpgClick() {
    if (dev.HeldDevice != kNoHeldDevice) return;
    CurrentPage = 2;
    ShowPage();
    dev.CurrentDevice = static_cast<std::uint32_t>(UpgradeDevice);
    if (onUpgradePageRefresh) onUpgradePageRefresh();
}

void MainForm::Image_EmailClick() {
    if (dev.HeldDevice != kNoHeldDevice || dev.FirstPass) return;
    CurrentPage = 3;
    ShowPage();
    if (onEmailPageLoad) onEmailPageLoad();
    if (onEmailSubPageRefresh) onEmailSubPageRefresh();
}

void MainForm::Image_AboutClick() {
    if (dev.HeldDevice != kNoHeldDevice || dev.FirstPass) return;
    CurrentPage = 4;
    ShowPage();
}

void MainForm::StatusBar1DblClick() {
    std::string text;
    for (const auto& line : SystemInfoLines) text += line;
    messageBox(text, "System Information");
}

void MainForm::selectSubImage(const std::array<const char*, 3>& images, std::size_t count, std::size_t index) {
    for (std::size_t i = 0; i < count; ++i)
        controls_.setText(images[i], std::string(images[i]) + (i == index ? "_Yellow" : "_White"));
}

void MainForm::Click(const std::string& c) {
    static const std::array<const char*, 3> emailImages = {"Image3_Setup", "Image3_HDDFail", "Image3_DeviceRemove"};
    static const std::array<const char*, 3> emailPages = {"Setup", "HDD_Fail", "DeviceRemove"};
    static const std::array<const char*, 3> statusImages = {"Image0_D1", "Image0_D2", ""};
    static const std::array<const char*, 3> upgradeImages = {"Image2_D1", "Image2_D2", ""};
    if (c == "Image_Sts") return Image_StsClick();
    if (c == "Image_FWUpg") return Image_FWUpgClick();
    if (c == "Image_Email") return Image_EmailClick();
    if (c == "Image_About") return Image_AboutClick();
    if (c == "Image0_Log") return Image0_LogClick();
    for (std::size_t i = 0; i < 3; ++i) {
        if (c == emailImages[i]) {
            EmailSubPage = static_cast<int>(i);
            selectSubImage(emailImages, 3, i);
            controls_.setText("Notebook2", emailPages[i]);
            controls_.setText("Edit6", "");
            controls_.setText("Edit7", "");
            if (onEmailSubPageRefresh) onEmailSubPageRefresh();
            return;
        }
    }
    for (std::size_t i = 0; i < 2; ++i) {
        if (c == statusImages[i]) {
            StatusDevice = static_cast<int>(i);
            dev.CurrentDevice = static_cast<std::uint32_t>(i);
            selectSubImage(statusImages, 2, i);
            DeviceRefresh();
            if (onStatusPageRefresh) onStatusPageRefresh(true);
            return;
        }
        if (c == upgradeImages[i]) {
            if (dev.HeldDevice != kNoHeldDevice) return;
            UpgradeDevice = static_cast<int>(i);
            selectSubImage(upgradeImages, 2, i);
            DeviceRefresh();
            if (onUpgradePageRefresh) onUpgradePageRefresh();
            return;
        }
    }
    if (onClick) onClick(c);
}

void MainForm::Image0_LogClick() {
    if (logWindowOpen_ || !onShowLogWindow) return;
    logWindowOpen_ = true;
    onShowLogWindow();
}

MainForm::LogSnapshot MainForm::logSnapshot(std::size_t from) const {
    LogSnapshot snap;
    const auto& lines = log_->lines();
    snap.total = lines.size();
    snap.live = (RequestMask & kPollingArmed) != 0;
    if (from > lines.size()) {
        snap.restart = true;
        from = 0;
    }
    snap.lines.assign(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
    return snap;
}

void MainForm::DoubleClick(const std::string& control) {
    if (control == "StatusBar1") StatusBar1DblClick();
}

namespace {
bool isPushImage(const std::string& c) {
    return c == "Image3_OK" || c == "Image3_Ignore" || c == "Image0_Log" || c == "Image2_Load" ||
           c == "Image2_Upgrade";
}
}  // namespace

void MainForm::MouseDown(const std::string& control) {
    if (!isPushImage(control)) return;
    const ControlState& s = controls_.get(control);
    controls_.setPos(control, s.left, s.top + 2);
}

void MainForm::MouseUp(const std::string& control) {
    if (!isPushImage(control)) return;
    const ControlState& s = controls_.get(control);
    controls_.setPos(control, s.left, s.top - 2);
}

void MainForm::CheckBoxClick(const std::string& control, bool checked) {
    controls_.setChecked(control, checked);
    if (onCheckBox) onCheckBox(control, checked);
}

bool MainForm::QueryEndSession() {
    if (MaintenanceBusy) {
        messageBox("Firmware is upgrading, please wait a moment.", "Message");
        return false;
    }
    // The enclosure is told before the window goes; the polling thread clears the bit
    // once the command has been sent (or has failed). With no enclosure there is
    // nobody to tell, and a "No Device found !" box would only hold up the logout.
    if (dev.ActiveCount > 0) {
        ActionCode = 0x20;
        ActionArg1 = 0;
        ActionArg2 = 0;
        RequestMask |= kRequestAction;
        ports_.scheduler.pumpUntil([this] { return (RequestMask & kRequestAction) == 0; }, sessionEndWaitUs);
    }
    FormClose();
    if (onQuit) onQuit();
    return true;
}

bool MainForm::CloseRequest() {
    if (!FormClose()) return false;
    if (onQuit) onQuit();
    return true;
}

std::vector<std::string> BuildSystemInfo(HostInfoPort* host) {
    auto q = [host](const char* cls, const char* prop) { return host ? host->query(cls, prop) : std::string(); };
    return {
        "\n=========== [System Information] ==============",
        "\nMotherBoard : " + q("Win32_BaseBoard", "Manufacturer") + " - " + q("Win32_BaseBoard", "Product"),
        "\nSystem Name : " + q("Win32_Bus", "SystemName"),
        "\nIP Address  : " + q("Win32_NetworkAdapterConfiguration", "IPAddress"),
        "\n" + std::string(47, '='),
    };
}

}  // namespace raid

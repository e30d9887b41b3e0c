#include "app/MainForm.h"

#include <cmath>

#include "app/DevicePresenter.h"
#include "app/HistorySources.h"
#include "app/ViewOperations.h"
#include "device/DevicePath.h"
#include "monitor/TimeFormat.h"

namespace raid {

namespace {

constexpr int kWorkerIdleMs = 1000;

// Forwards what the engine's routines report (device results through the presenter,
// the mail client and the image loader directly) to the window. Off the engine thread
// (the detection pass) the texts are queued for the engine thread in order.
class FormReporter final : public Reporter {
public:
    explicit FormReporter(MainForm& form) : form_(form) {}
    void panel(int index, const std::string& text) override {
        if (form_.scheduler().isEngineThread()) {
            form_.setPanel(index, text);
        } else {
            MainForm* f = &form_;
            form_.scheduler().post([f, index, text] { f->setPanel(index, text); });
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
    presenter_ = std::make_unique<DevicePresenter>(*reporter_);
    RandomPort& random = ports_.random ? *ports_.random : static_cast<RandomPort&>(ownRandom_);
    transport_ = std::make_unique<Transport>(ports_.storage, ports_.scheduler, random, *presenter_);
    discovery_ = std::make_unique<Discovery>(*transport_, ports_.volumes, dev);
    discovery_->setDriveLocks(ports_.locks);
    FileStore* files = ports_.files;
    if (ports_.service) {
        // A client window: nothing of the service's (day logs, settings) is written here.
        feed_ = std::make_unique<ServiceFeed>(*this, *ports_.service);
        files = &noFiles_;
        AnnounceToEnclosure = false;
        MailAlerts = false;
    }
    if (!files) {
        ownFiles_ = makeStdFileStore();
        files = ownFiles_.get();
    }
    files_ = files;
    log_ = std::make_unique<EventLog>(*files, ports_.logFolder, ports_.fallbackLogFolder, kAppTitle,
                                      [this](const std::string& text) { setPanel(4, text); });
    if (!ports_.service) {
        history_ = std::make_unique<HistoryStore>(
            *files, HistoryStore::folderIn(ports_.logFolder), ports_.historyDays, [this](const std::string& text) {
                log_->addLine(text + ", " + formatDateTimeC(ports_.scheduler.wallSeconds()));
                log_->save();
            });
        recorder_ = std::make_unique<HistoryRecorder>(*history_);
        historySource_ = makeStoreHistorySource(ports_.scheduler, *recorder_);
    } else {
        historySource_ = makeServiceHistorySource(ports_.scheduler, *feed_);
    }
    // The chart window reads from it (a host may give it another source).
    historyWindow_.setSource(historySource_.get());
    alerts_ = std::make_unique<AlertState>(dev, MailRequestFlags);
    SettingsPort& settingsPort = ports_.settings ? *ports_.settings : static_cast<SettingsPort&>(ownSettings_);
    settingsStore_ = std::make_unique<SettingsStore>(
        settingsPort, *files, [this](const std::string& problem) { settingsProblems_.push_back(problem); });
    decoder_ = std::make_unique<StatusDecoder>(DecoderContext{
        dev, *log_, UserAbort, dev.FirstPass, ClockNow, [this] { return ports_.scheduler.wallSeconds(); },
        [this](int kind, int device, int port) { raiseAlert(kind, device, port); },
        [this](int device) { return statusPage_.model().scanCapable(device); }});
    poll_ = std::make_unique<StatusPoll>(
        *transport_, dev, *decoder_,
        PollHost{[this](int i) { return watched(i); }, [this](int i) { setWatched(i, false); },
                 [this](const std::string& text) { setPanel(4, text); },
                 [this] { return MaintenanceBusy.load(); }});

    handlers_.on(names::Image_Sts, [this] { Image_StsClick(); });
    handlers_.on(names::Image_FWUpg, [this] { Image_FWUpgClick(); });
    handlers_.on(names::Image_Email, [this] { Image_EmailClick(); });
    handlers_.on(names::Image_About, [this] { Image_AboutClick(); });
    statusPage_.registerHandlers(handlers_);
    upgradePage_.registerHandlers(handlers_);
    emailPage_.registerHandlers(handlers_);
    logWindow_.registerHandlers(handlers_);
    historyWindow_.registerHandlers(handlers_);

    // Initial looks: the navigation pictures sit in their own slots (the captions are
    // Controls' own from the start).
    for (std::size_t p = 0; p < names::navigationImages.size(); ++p) {
        const std::string image = names::navigationImages[p];
        ControlState nav;
        nav.slot = static_cast<int>(p);
        nav.text = names::whitePicture(image);
        controls_.declare(image, nav);
        // Picture sources are hidden (they only hold pictures).
        ControlState picture;
        picture.slot = static_cast<int>(p);
        picture.visible = false;
        controls_.declare(names::yellowPicture(image), picture);
        controls_.declare(names::whitePicture(image), picture);
    }
    // Hidden until something shows them: the other picture sources, the fan and
    // temperature panel (until a drawing finds its values valid), the upgrade's progress
    // panel and the password field (until login is switched on).
    ControlState hiddenPanel;
    hiddenPanel.visible = false;
    for (const auto& images : {names::statusDeviceImage, names::upgradeDeviceImage})
        for (const char* image : images) {
            controls_.declare(names::yellowPicture(image), hiddenPanel);
            controls_.declare(names::whitePicture(image), hiddenPanel);
        }
    for (const char* image : names::emailSubPageImages) {
        controls_.declare(names::yellowPicture(image), hiddenPanel);
        controls_.declare(names::whitePicture(image), hiddenPanel);
    }
    for (const char* name : {names::Panel11, names::UpgradePanel, names::Edit8, names::Edit12})
        controls_.declare(name, hiddenPanel);
}

MainForm::~MainForm() {
    if (ports_.deviceChanges) ports_.deviceChanges->stop();
    if (ports_.locks) ports_.locks->releaseAll();
}

int MainForm::messageBox(const std::string& text, const std::string& caption, int buttons) {
    return ports_.dialogs.messageBox(text, caption, buttons);
}

bool MainForm::anyDeviceChecked() const { return watched(0) || watched(1); }

void MainForm::setWatched(int index, bool on) {
    watched_[index == 0 ? 0 : 1] = on;
    controls_.setChecked(deviceCheckBox(index), on);
}

void MainForm::setPanel(int index, const std::string& text) {
    panels_[static_cast<std::size_t>(index)] = text;
    controls_.setText(panelName(index), text);
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

    detection_.setBannerText("Drive detecting");

    auto turn = [&sched] { sched.processPending(); };
    if (!feed_) {
        detection_.keptLogicalCount = discovery_->EnumerateLetters(turn);
        detection_.keptPhysicalCount = discovery_->CountPhysicalDrives(turn);
    }

    dev.DetectionPending = true;
    RequestMask = 0;

    Timer1 = sched.addTimer(1000, [this] { upgradePage_.Timer1Timer(); });
    Timer2 = sched.addTimer(4000, [this] { Timer2Timer(); });
    Timer3 = sched.addTimer(1000, [this] { Timer3Timer(); });
    Timer4 = sched.addTimer(500, [this] { detection_.tick(); });
    Timer5 = sched.addTimer(1000, [this] { statusPage_.Timer5Timer(); });

    StartTime = sched.wallSeconds();
    ClockNow = StartTime;
    sched.setTimerEnabled(Timer3, true);
    // A client's list comes from the service: no detection to tick.
    sched.setTimerEnabled(Timer4, !feed_);
    sched.setTimerEnabled(Timer5, true);

    statusSearchLimit = 0x80000;
    ProgressValue = 0;
    if (!ports_.random) ownRandom_.seed(static_cast<std::uint32_t>(std::fmod(sched.wallSeconds() * 1000.0, 4294967296.0)));

    for (const char* name : names::navigationImages) {
        controls_.setVisible(names::yellowPicture(name), false);
        controls_.setVisible(names::whitePicture(name), false);
    }
    for (const char* name : {names::Image_Background_RAID, names::Image_Background_OEM, names::Image0_Log,
                             names::Memo1, names::Memo2, names::Memo7, names::CheckBox1, names::CheckBox3})
        controls_.setVisible(name, false);
    for (const char* name : names::navigationImages) controls_.setEnabled(name, false);
    controls_.setEnabled(names::Image2_Load, false);
    controls_.setEnabled(names::Image2_Upgrade, false);

    dev.FirstPass = true;
    ApplyPresentation();

    for (std::size_t i = 0; i < 2; ++i) {
        poll_->PollFailures[i] = 0;
        UserAbort[i] = false;
        decoder_->states()[i] = DeviceEventState{};
    }

    HintHidePause = 6000;
    controls_.setText(names::Label65, kVersionText);
    // The private mail form and the settings lists arrive with the notification
    // layer. The platform's COM set-up for the host query would go here on Windows.
    SystemInfoLines = BuildSystemInfo(ports_.hostInfo);
    alerts_->suppressMask = 0;
    if (feed_) {
        // The settings are the service's: the E-mail page asks it for them.
    } else if (settingsStore_->startUp(settings_, ports_.settingsFolder)) {
        MailRequestFlags |= kMailLoadSettings;  // the load reports what start-up found, in one box
    } else {
        showSettingsProblems();
    }
    for (const char* name : {names::Image0_D1, names::Image0_D2, names::Image2_D1, names::Image2_D2})
        controls_.setVisible(name, false);
    CurrentPage = 0;
    ShowPage();
    StatusDevice = 0;
    selectTab(*this, names::statusDeviceImage.data(), 2, 0);
    UpgradeDevice = 0;
    upgradePage_.refresh();
    EmailSubPage = 0;
    emailPage_.refreshSubPage();

    // The workers start last, once every field they read has its start-up value; the
    // first detection pass then begins at once, as it was requested above. A client
    // has none: the service polls, detects and mails.
    if (feed_) return;
    detection_.request();
    startWorkers();
}

void MainForm::startWorkers() {
    Scheduler& sched = ports_.scheduler;
    // Each worker's work is handed to it by the engine; a worker with nothing to do
    // sleeps until the engine gives it some (at the latest a second), so an idle
    // program costs its timers only. The periods are the pace while work remains.
    sched.startWorker("DriveDetectThread", 100, kWorkerIdleMs,
                      [this] { return detection_.phase() == DetectionPhase::Requested; },
                      [this] { detection_.workerWake(); });
    sched.startWorker("TRaidThread", 50, kWorkerIdleMs,
                      [this] { return !detection_.busy() && (RequestMask & (kRequestPoll | kRequestAction)) != 0; },
                      [this] { RaidThreadWake(); });
    RandomPort& random = ports_.random ? *ports_.random : static_cast<RandomPort&>(ownRandom_);
    mail_.startClient(ports_.tcp, sched, *reporter_, random.next());
    // A mail waiting for its next try is due at a time of its own: the one-second
    // wake-up finds it, at most a second late.
    sched.startWorker("TEmailThread", 200, kWorkerIdleMs,
                      [this] { return MailRequestFlags != 0 || mail_.outbox().size() != 0; },
                      [this] { EmailThreadWake(); });
}

bool MainForm::FormClose() {
    // A client's upgrade runs in the service and goes on without the window.
    if (MaintenanceBusy && !feed_) return false;
    for (auto t : {Timer1, Timer2, Timer3, Timer4, Timer5}) ports_.scheduler.setTimerEnabled(t, false);
    RequestMask = 0;
    // Another RAID GUI may have the enclosures from now on.
    if (ports_.locks) ports_.locks->releaseAll();
    // A mail under way to a server that says nothing must not keep the closing
    // program waiting: the submission ends now (the day log already holds the event).
    mail_.cancel();
    return true;
}

void MainForm::DeviceChange() {
    const std::int64_t now = ports_.scheduler.nowUs();
    // After 5 s without a change the machine had settled: these changes begin anew.
    if (LastDeviceChangeUs < 0 || now - LastDeviceChangeUs >= 5'000'000) {
        DeviceChangeSinceUs = now;
        DeviceChangeRecountUs = now;
    }
    LastDeviceChangeUs = now;
    DeviceChangeCountdown = 16;
}

bool MainForm::DeviceChangesHoldPolling() const {
    return DeviceChangeCountdown != 0 && ports_.scheduler.nowUs() - DeviceChangeSinceUs < kChangesHoldPollingUs;
}

bool MainForm::DeviceChangesRecountDue() const {
    return ports_.scheduler.nowUs() - DeviceChangeRecountUs >= kChangesRecountUs;
}

void MainForm::setMaintenanceBusy(bool busy) {
    MaintenanceBusy = busy;
    for (const char* box : names::deviceCheckBox) controls_.setEnabled(box, !busy);
    if (!busy) dev.HeldDevice = kNoHeldDevice;
}

void MainForm::ApplyPresentation() {
    LayoutNavigation(0x1D);
    controls_.setText(names::Label63, "RAID Management Sofeware");
    // Image_Background takes the picture of Image_Background_RAID: the window draws
    // that picture itself, the engine has no picture text for it (both stay empty).
    controls_.setVisible(names::Image_Background_OEM, false);
    controls_.setText(names::TForm1, kAppTitle);
}

void MainForm::LayoutNavigation(std::uint8_t mask) {
    // The slots are where the _Yellow pictures sit, top to bottom.
    std::size_t next = 0;
    for (std::size_t p = 0; p < names::navigationImages.size(); ++p) {
        const char* image = names::navigationImages[p];
        if (mask & (1u << p)) {
            // The slot the _Yellow picture of the next navigation image sits in.
            controls_.setSlot(image, static_cast<int>(next));
            ++next;
        } else {
            controls_.setVisible(image, false);
        }
    }
}

void MainForm::ShowPage() {
    for (std::size_t p : {0u, 2u, 3u, 4u}) {
        const char* image = names::navigationImages[p];
        controls_.setText(image, static_cast<int>(p) == CurrentPage ? names::yellowPicture(image)
                                                                     : names::whitePicture(image));
    }
    controls_.setPage(names::Notebook1, CurrentPage);
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
    if (!DeviceChangesHoldPolling() && !dev.DetectionPending && !MaintenanceBusy) {
        if (RequestMask & kPollingArmed)
            RequestMask |= kRequestPoll;
        else
            RequestMask = kPollingArmed;
    } else if (MaintenanceBusy) {
        RequestMask &= static_cast<std::uint8_t>(~kPollingArmed);
    }
}

// ---------------------------------------------------------------------------
// Worker threads and requests

void MainForm::RaidThreadWake() {
    if (detection_.busy()) return;
    if ((RequestMask & (kRequestPoll | kRequestAction)) == 0) return;
    ports_.scheduler.invokeSync([this] { RunRequest(); });
}

void MainForm::EmailThreadWake() {
    if (MailRequestFlags != 0) ports_.scheduler.invokeSync([this] { ServiceMailRequests(); });
    mail_.sendDue();
}

void MainForm::RunRequest() {
    // The worker looked before handing the request over, but a pass may have been
    // requested since: the drives are the pass's until it is published. The request
    // stays pending and is served after the pass.
    if (detection_.busy()) return;
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
    if (DeviceChangesHoldPolling() || dev.DetectionPending || MaintenanceBusy) return;
    const std::uint8_t mask = poll_->poll(statusSearchLimit);
    if (MaintenanceBusy) return;
    ++PollsDone;
    LastPollMask = mask;
    decoder_->decode(mask);
    if (recorder_) recorder_->afterPoll(dev, mask, ports_.scheduler.wallSeconds());
    // The first drawing ends the start-up pass. It happens even when another page is
    // showing: otherwise a user who opened the Upgrade page early could never get back
    // (the page handlers wait for the start-up pass to end) and every poll would write
    // the start-up header into the day log again.
    if (mask != 0 && (CurrentPage == 0 || dev.FirstPass)) statusPage_.refresh(dev.FirstPass);
}

bool MainForm::SendAction() {
    if (dev.HeldDevice != kNoHeldDevice) return false;
    if (dev.ActiveCount == 0) {
        presenter_->result(noDevice(), DeviceSite::action);
        return false;
    }
    if (!anyDeviceChecked()) return false;
    dev.CurrentDevice = static_cast<std::uint32_t>(StatusDevice);
    const std::uint32_t code = dev.ActiveDevices[static_cast<std::size_t>(StatusDevice) % kMaxActive];
    const DriveHandle handle = transport_->OpenDrive(static_cast<std::uint8_t>(code & kCodeDriveMask));
    if (handle == kInvalidHandle) {
        presenter_->result(invalidDrive(), DeviceSite::action);
        return false;
    }
    const DeviceResult r = pathOf(code).action(*transport_, DeviceAction{ActionCode, ActionAbort, ActionArg1, ActionArg2});
    presenter_->result(r, DeviceSite::action);
    transport_->CloseCurrent();
    if (!ActionAbort && StatusDevice >= 0 && StatusDevice < 2) UserAbort[static_cast<std::size_t>(StatusDevice)] = true;
    return r.ok();
}

void MainForm::ServiceMailRequests() {
    setPanel(2, "Email=" + std::to_string(MailRequestFlags.load()));
    if (MailRequestFlags & kMailLoadSettings) LoadNotificationSettings();
    if (!(MailRequestFlags & kMailSendAlert)) return;
    mail_.queueAlertMails();
    MailRequestFlags &= static_cast<std::uint8_t>(~kMailSendAlert);
}

void MainForm::LoadNotificationSettings() {
    settingsStore_->load(settings_, [this] { ports_.scheduler.processPending(); });
    alerts_->suppressMask = static_cast<std::uint8_t>(settings_.suppressMask & 0xFF);
    MailRequestFlags &= static_cast<std::uint8_t>(~kMailLoadSettings);
    showSettingsProblems();
}

void MainForm::settingsSaved() {
    shownSettingsProblems_.clear();
    alerts_->suppressMask = static_cast<std::uint8_t>(settings_.suppressMask & 0xFF);
    MailRequestFlags |= kMailLoadSettings;
}

void MainForm::showSettingsProblems() {
    // Each problem of the store once, all in one box: the settings carry on without
    // the values that could not be read.
    if (settingsProblems_.empty()) return;
    std::string text;
    for (const auto& p : settingsProblems_) text += (text.empty() ? "" : "\n") + p;
    settingsProblems_.clear();
    // Every mail attempt loads the settings again; a file whose problems have been
    // shown once does not bring the same box up at each of them. A save shows them anew.
    if (text == shownSettingsProblems_) return;
    shownSettingsProblems_ = text;
    messageBox(text, "E-Mail Message");
}

void MainForm::raiseAlert(int kind, int deviceIndex, int port) {
    // A client's alerts are the service's (ServiceFeed::alert), raised once per machine.
    if (feed_) return;
    alerts_->raiseAlert(kind, deviceIndex, port, ports_.scheduler.wallSeconds());
    if (onAlertRaised) onAlertRaised(kind, deviceIndex, port);
}

void MainForm::DeviceRefresh() { statusPage_.deviceRefresh(); }

// ---------------------------------------------------------------------------
// Navigation and user actions

void MainForm::Image_StsClick() { switchPage(*this, ShownPage::status); }

void MainForm::Image_FWUpgClick() { switchPage(*this, ShownPage::upgrade); }

void MainForm::Image_EmailClick() { switchPage(*this, ShownPage::email); }

void MainForm::Image_AboutClick() { switchPage(*this, ShownPage::about); }

void MainForm::StatusBar1DblClick() {
    std::string text;
    for (const auto& line : SystemInfoLines) text += line;
    messageBox(text, "System Information");
}

void MainForm::Click(const std::string& control) {
    if (!names::known(control)) throw UnknownControl(control);
    if (!handlers_.dispatch(control) && onClick) onClick(control);
}

void MainForm::DoubleClick(const std::string& control) {
    if (control == names::StatusBar1) StatusBar1DblClick();
}

void MainForm::CheckBoxClick(const std::string& control, bool checked) {
    // The device boxes are disabled during maintenance; a click that was on its way
    // when they went grey changes nothing.
    if (MaintenanceBusy)
        for (const char* box : names::deviceCheckBox)
            if (control == box) return;
    bool device = false;
    for (int i = 0; i < 2; ++i)
        if (control == names::deviceCheckBox[static_cast<std::size_t>(i)]) {
            setWatched(i, checked);
            device = true;
        }
    if (!device) controls_.setChecked(control, checked);
    for (int i = 0; i < 2; ++i)
        if (control == names::deviceCheckBox[static_cast<std::size_t>(i)]) statusPage_.checkBoxClick(i, checked);
    emailPage_.checkBoxClicked(control, checked);
    if (onCheckBox) onCheckBox(control, checked);
}

// Typed text goes into the engine's picture of the control; the E-mail page takes it
// into its model (and marks its fields as changed).
void MainForm::EditChange(const std::string& control, const std::string& text) {
    controls_.setText(control, text);
    emailPage_.editChanged(control, text);
}

void MainForm::SelectCell(const std::string& control, int row) {
    if (!names::known(control)) throw UnknownControl(control);
    emailPage_.cellSelected(control, row);
}

bool MainForm::QueryEndSession() {
    if (MaintenanceBusy && !feed_) {
        messageBox("Firmware is upgrading, please wait a moment.", "Message");
        return false;
    }
    // The enclosure is told before the window goes; the polling thread clears the bit
    // once the command has been sent (or has failed). With no enclosure there is
    // nobody to tell, and a "No Device found !" box would only hold up the logout.
    if (dev.ActiveCount > 0 && AnnounceToEnclosure) {
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

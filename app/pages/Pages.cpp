#include "app/pages/Pages.h"

#include "app/MainForm.h"
#include "app/UpgradeOperations.h"
#include "app/ViewOperations.h"
#include "monitor/StatusRecord.h"

namespace raid {

void selectTab(MainForm& form, const char* const* images, std::size_t count, std::size_t index) {
    for (std::size_t i = 0; i < count; ++i)
        form.controls().setText(images[i], i == index ? names::yellowPicture(images[i]) : names::whitePicture(images[i]));
}

// ---- Upgrade page

void UpgradePage::registerHandlers(HandlerTable& table) {
    for (int i = 0; i < 2; ++i)
        table.on(names::upgradeDeviceImage[static_cast<std::size_t>(i)],
                 [this, i] { selectShownDevice(form_, DeviceTabs::upgrade, i); });
    table.on(names::Image2_Load, [this] { Image2_LoadClick(); });
    table.on(names::Image2_Upgrade, [this] { Image2_UpgradeClick(); });
}

std::string UpgradePage::firmwareVersion() const {
    MainForm& f = form_;
    const int device = f.UpgradeDevice;
    if (deviceSlot(f.dev, device) < 0) return {};
    return firmwareVersionText(identityOf(f.dev, device), statusOf(f.dev, device));
}

void UpgradePage::refresh() { form_.controls().setText(names::FirmwareVersion, firmwareVersion()); }

void UpgradePage::Image2_UpgradeClick() {
    // A client window's upgrade is the service's to run: the page follows its job.
    if (ServiceFeed* feed = form_.serviceFeed()) {
        feed->startUpgrade();
        return;
    }
    // The procedure has shown each step, its refusal or its end as it went: the
    // outcome holds nothing the page has still to show.
    startUpgrade(form_);
}

void UpgradePage::show() {
    MainForm& f = form_;
    const UpgradePageView& v = model_.view();
    Controls& c = f.controls();
    c.setText(names::UpgradeTitle, v.title);
    c.setText(names::UpgradePanel, v.panelText);
    c.setVisible(names::UpgradePanel, v.panelShown);
    c.setProgress(names::ProgressBar1, v.value, v.maximum);
    f.scheduler().setTimerEnabled(f.Timer1, v.timerRunning);
}

void UpgradePage::beginProgress(const std::string& title, const std::string& panelText, std::uint32_t maximum) {
    model_.begin(title, panelText, maximum);
    show();
}

void UpgradePage::panelText(const std::string& text) {
    model_.setPanelText(text);
    form_.controls().setText(names::UpgradePanel, text);
}

void UpgradePage::endProgress() {
    model_.copyProgress(form_.ProgressValue);
    model_.end();
    show();
}

void UpgradePage::Timer1Timer() {
    model_.copyProgress(form_.ProgressValue);
    form_.controls().setProgress(names::ProgressBar1, model_.view().value, model_.view().maximum);
}

void UpgradePage::Image2_LoadClick() {
    MainForm& f = form_;
    ServiceFeed* feed = f.serviceFeed();
    if (f.MaintenanceBusy || (feed && feed->upgradeAsked())) return;
    std::string path;
    if (!f.dialogs().chooseFile("Binary code (*.bin)|*.bin|All files (*.*)|*.*", path)) return;
    // The load's boxes and status-bar texts have come up as it went. A client window
    // reads the file as the user and keeps it open for the service.
    if (feed)
        feed->loadImage(path);
    else
        loadFirmwareImage(f, path);
}

void UpgradePage::showFileName(const std::string& path) {
    fileName_ = path;
    form_.controls().setText(names::Edit9, path);
}

bool UpgradePage::selectDevice(int index) {
    MainForm& f = form_;
    if (f.dev.HeldDevice != kNoHeldDevice) return false;
    // Another window's upgrade holds the device tabs of this one too.
    if (f.serviceFeed() && f.serviceFeed()->upgradeShown()) return false;
    f.UpgradeDevice = index;
    selectTab(f, names::upgradeDeviceImage.data(), 2, static_cast<std::size_t>(index));
    f.DeviceRefresh();
    refresh();
    return true;
}

// ---- Event log window

void LogWindowSide::registerHandlers(HandlerTable& table) { table.on(names::Image0_Log, [this] { Image0_LogClick(); }); }

void LogWindowSide::Image0_LogClick() {
    if (open_ || !onShow) return;
    open_ = true;
    // A client window shows the service's day log.
    if (ServiceFeed* feed = form_.serviceFeed()) feed->logWindowOpened();
    onShow();
}

void LogWindowSide::closed() {
    if (open_)
        if (ServiceFeed* feed = form_.serviceFeed()) feed->logWindowClosed();
    open_ = false;
}

LogSnapshot LogWindowSide::snapshot(std::size_t from) const {
    LogSnapshot snap;
    const ServiceFeed* feed = form_.serviceFeed();
    const auto& lines = feed ? feed->dayLines() : form_.eventLog().lines();
    snap.total = lines.size();
    snap.live = feed ? feed->logLive() : (form_.RequestMask & kPollingArmed) != 0;
    if (from > lines.size()) {
        snap.restart = true;
        from = 0;
    }
    snap.lines.assign(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
    return snap;
}

LogFileText LogWindowSide::readFile(const std::string& path) const {
    LogFileText file;
    if (ServiceFeed* feed = form_.serviceFeed())
        if (feed->readDayFile(path, file)) return file;
    BoundedRead read = form_.files().readBounded(path, EventLog::kMaxReadBack);
    switch (read.status) {
        case ReadStatus::ok:
            file.ok = true;
            file.lines = EventLog::splitLines(read.text);
            break;
        case ReadStatus::missing: file.problem = "Log file " + path + " does not exist"; break;
        case ReadStatus::unreadable: file.problem = "Log file " + path + " cannot be read"; break;
        case ReadStatus::notRegular: file.problem = "Log file " + path + " is not a regular file"; break;
        case ReadStatus::tooLarge:
            file.problem = "Log file " + path + " is larger than " + std::to_string(EventLog::kMaxReadBack >> 20) + " MiB";
            break;
    }
    return file;
}

}  // namespace raid

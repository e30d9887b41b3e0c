#include "app/pages/Pages.h"

#include "app/MainForm.h"
#include "maintenance/FirmwareUpgrade.h"
#include "maintenance/FlashBackup.h"
#include "maintenance/ImageLoader.h"
#include "monitor/StatusRecord.h"

#include <cstdio>
#include <exception>

namespace raid {

void selectTab(MainForm& form, const char* const* images, std::size_t count, std::size_t index) {
    for (std::size_t i = 0; i < count; ++i)
        form.controls().setText(images[i], i == index ? names::yellowPicture(images[i]) : names::whitePicture(images[i]));
}

// ---- Upgrade page

void UpgradePage::registerHandlers(HandlerTable& table) {
    for (int i = 0; i < 2; ++i)
        table.on(names::upgradeDeviceImage[static_cast<std::size_t>(i)], [this, i] { selectDevice(i); });
    table.on(names::Image2_Load, [this] { Image2_LoadClick(); });
    table.on(names::Image2_Upgrade, [this] { Image2_UpgradeClick(); });
}

void UpgradePage::refresh() {
    MainForm& f = form_;
    const int device = f.UpgradeDevice;
    std::string version;
    if (deviceSlot(f.dev, device) >= 0) version = firmwareVersionText(identityOf(f.dev, device), statusOf(f.dev, device));
    f.controls().setText(names::FirmwareVersion, version);
}

void UpgradePage::Image2_UpgradeClick() {
    MainForm& f = form_;
    // A detection pass owns the drives until it is published (the image is disabled
    // meanwhile; a click queued before that waits for nobody).
    if (f.MaintenanceBusy || f.dev.DetectionPending) return;
    Scheduler& sched = f.scheduler();
    SpiFlash spi(SpiPorts{f.transport(), f.dev, f.reporter(), [&sched] { sched.processPending(); }, f.ProgressValue});
    UpgradePorts ports{spi,
                       f.transport(),
                       f.dev,
                       f.reporter(),
                       *this,
                       [&f](const std::string& text, const std::string& caption) { f.messageBox(text, caption); },
                       [&sched](std::int64_t ms) { sched.pumpUntil([] { return false; }, ms * 1000); },
                       f.ProgressValue,
                       [this](std::span<const std::uint8_t> flash, std::string& error) { return saveBackup(flash, error); },
                       f.statusSearchLimit};
    // Whatever throws inside, the upgrade ends as a failed one does: the controller
    // leaves its upgrade mode, the progress panel goes, and the busy flag no longer
    // keeps polling, re-detection and closing away for good.
    struct EndAnyway {
        UpgradePage& page;
        SpiFlash& spi;
        const int exceptions = std::uncaught_exceptions();
        ~EndAnyway() {
            MainForm& f = page.form_;
            if (std::uncaught_exceptions() > exceptions) {
                // Nothing may escape from here while the first exception is on its way.
                try {
                    f.transport().CloseCurrent();
                    if (f.dev.HeldDevice != kNoHeldDevice) spi.SpiModeCommand(spimode::kUpgradeOff);
                    if (page.model_.view().panelShown) page.endProgress();
                } catch (...) {
                }
            }
            f.dev.UpgradeHoldsDevice = false;
            try {
                f.setMaintenanceBusy(false);
            } catch (...) {
                f.MaintenanceBusy = false;
                f.dev.HeldDevice = kNoHeldDevice;
            }
        }
    } endAnyway{*this, spi};
    f.setMaintenanceBusy(true);
    FirmwareUpgrade(ports).run(f.firmwareImage(), f.UpgradeDevice);
}

std::optional<std::string> UpgradePage::saveBackup(std::span<const std::uint8_t> flash, std::string& error) {
    MainForm& f = form_;
    const EventLog& log = f.eventLog();
    std::string folder = log.folder();
    if (!f.files().folderWritable(folder.empty() ? "." : folder)) folder = log.fallbackFolder();
    if (folder.empty() || !f.files().folderWritable(folder)) {
        error = "no folder to write it in";
        return std::nullopt;
    }
    const Sector& identity = identityOf(f.dev, f.UpgradeDevice);
    return keepFlashCopy(f.files(), folder, enclosureModel(identity), enclosureSerial(identity),
                         f.scheduler().wallSeconds(), flash, error);
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
    if (f.MaintenanceBusy) return;
    std::string path;
    if (!f.dialogs().chooseFile("Binary code (*.bin)|*.bin|All files (*.*)|*.*", path)) return;
    loadImage(path);
}

void UpgradePage::loadImage(const std::string& path) {
    MainForm& f = form_;
    if (f.MaintenanceBusy) return;
    ImageLoader loader(ImageLoadPorts{f.files(), f.dialogs(), f.reporter(),
                                      [&f](const std::string& name) { f.controls().setText(names::Edit9, name); }});
    loader.load(path, f.firmwareImage());
}

void UpgradePage::selectDevice(int index) {
    MainForm& f = form_;
    if (f.dev.HeldDevice != kNoHeldDevice) return;
    f.UpgradeDevice = index;
    selectTab(f, names::upgradeDeviceImage.data(), 2, static_cast<std::size_t>(index));
    f.DeviceRefresh();
    refresh();
}

// ---- Event log window

void LogWindowSide::registerHandlers(HandlerTable& table) { table.on(names::Image0_Log, [this] { Image0_LogClick(); }); }

void LogWindowSide::Image0_LogClick() {
    if (open_ || !onShow) return;
    open_ = true;
    onShow();
}

LogSnapshot LogWindowSide::snapshot(std::size_t from) const {
    LogSnapshot snap;
    const auto& lines = form_.eventLog().lines();
    snap.total = lines.size();
    snap.live = (form_.RequestMask & kPollingArmed) != 0;
    if (from > lines.size()) {
        snap.restart = true;
        from = 0;
    }
    snap.lines.assign(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
    return snap;
}

LogFileText LogWindowSide::readFile(const std::string& path) const {
    LogFileText file;
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

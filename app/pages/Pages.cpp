#include "app/pages/Pages.h"

#include "app/MainForm.h"
#include "maintenance/ImageLoader.h"
#include "monitor/StatusRecord.h"

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
}

void UpgradePage::refresh() {
    MainForm& f = form_;
    const int device = f.UpgradeDevice;
    std::string version;
    if (deviceSlot(f.dev, device) >= 0)
        version = firmwareRevision(identityOf(f.dev, device)) + "." + StatusRecord(statusOf(f.dev, device)).subCode();
    f.controls().setText(names::FirmwareVersion, version);
}

void UpgradePage::Image2_LoadClick() {
    MainForm& f = form_;
    if (f.MaintenanceBusy) return;
    std::string path;
    if (!f.dialogs().chooseFile("Binary code (*.bin)|*.bin|All files (*.*)|*.*", path)) return;
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

}  // namespace raid

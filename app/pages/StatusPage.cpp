#include "app/pages/StatusPage.h"

#include "app/MainForm.h"
#include "app/ViewOperations.h"

namespace raid {

void StatusPage::registerHandlers(HandlerTable& table) {
    for (int i = 0; i < 2; ++i)
        table.on(names::statusDeviceImage[static_cast<std::size_t>(i)],
                 [this, i] { selectShownDevice(form_, DeviceTabs::status, i); });
}

void StatusPage::select(int index) {
    MainForm& f = form_;
    f.StatusDevice = index;
    f.dev.CurrentDevice = static_cast<std::uint32_t>(index);
}

void StatusPage::selectDevice(int index) {
    MainForm& f = form_;
    select(index);
    selectTab(f, names::statusDeviceImage.data(), 2, static_cast<std::size_t>(index));
    model_.switching = true;
    deviceRefresh();
    refresh(true);
    model_.switching = false;
}

void StatusPage::checkBoxClick(int index, bool checked) {
    MainForm& f = form_;
    Controls& c = f.controls();
    const auto me = static_cast<std::size_t>(index);
    const int other = 1 - index;
    const bool otherOn = f.watched(other);
    if (checked) {
        c.setVisible(names::statusDeviceImage[me], true);
        c.setVisible(names::upgradeDeviceImage[me], true);
        if (!otherOn) {
            select(index);
            f.ShowPage();
        }
    } else {
        c.setVisible(names::statusDeviceImage[me], false);
        c.setVisible(names::upgradeDeviceImage[me], false);
        if (!otherOn) return;  // nothing is selected any more
        select(other);
        f.ShowPage();
    }
    // The highlighted tab follows the selection, so the tab that looks chosen is the
    // device the page shows.
    selectTab(f, names::statusDeviceImage.data(), 2, static_cast<std::size_t>(f.StatusDevice));
    f.poll().PollFailures[me] = 0;
    deviceRefresh();
    f.ShowPage();
    if (f.CurrentPage == 0) refresh(true);
}

void StatusPage::deviceRefresh() {
    MainForm& f = form_;
    if (!f.anyDeviceChecked()) return;
    const int device = f.CurrentPage == 2 ? f.UpgradeDevice : f.StatusDevice;
    f.dev.CurrentDevice = static_cast<std::uint32_t>(device);
    const DeviceRefreshView view = model_.refreshDevices(f.dev, device, kAppTitle);
    f.ProductClass = view.productClass;
    Controls& c = f.controls();
    for (std::size_t i = 0; i < 2; ++i) {
        names_[i] = view.names[i];
        c.setHint(names::deviceCheckBox[i], view.names[i]);
        c.setHint(names::statusDeviceImage[i], view.names[i]);
        c.setHint(names::upgradeDeviceImage[i], view.names[i]);
    }
    c.setText(names::TForm1, view.caption);
}

int StatusPage::refresh(bool fullRedraw) {
    MainForm& f = form_;
    const StatusDrawing d = model_.draw(statusOf(f.dev, f.StatusDevice), f.StatusDevice, f.anyDeviceChecked(), fullRedraw,
                                        f.decoder().timeLeftText(f.StatusDevice));
    if (d.result < 0) return d.result;
    apply(d);
    return d.result;
}

void StatusPage::apply(const StatusDrawing& d) {
    MainForm& f = form_;
    Controls& c = f.controls();
    c.setText(names::Label48, d.firmware);
    if (d.controller) {
        c.setText(names::Label45, d.driveNames[0]);
        c.setText(names::Label46, d.driveNames[1]);
        c.setText(names::Label5, d.fan);
        c.setColor(names::Label5, d.fanColor);
        c.setText(names::Label7, d.temperature);
        c.setColor(names::Label7, d.temperatureColor);
        c.setVisible(names::Panel11, d.panelVisible);
        c.setText(names::Label17, d.mode);
        endStartUpPass();
        if (d.drivesDrawn) {
            static const char* const labels[2][2] = {{names::Label25, names::Label51}, {names::Label26, names::Label52}};
            for (std::size_t i = 0; i < 2; ++i) {
                const DriveDraw& drive = d.drives[i];
                if (drive.action == DriveDraw::Action::Keep) continue;
                const char* capacity = labels[i][0];
                const char* model = labels[i][1];
                if (!drive.capacityColor.empty()) c.setColor(capacity, drive.capacityColor);
                c.setText(capacity, drive.capacity);
                c.setText(model, drive.model);
                if (drive.action != DriveDraw::Action::Empty) {
                    c.setEnabled(capacity, drive.capacityEnabled);
                    c.setEnabled(model, drive.modelEnabled);
                }
            }
            c.setText(names::Label27, d.configured);
        }
        if (d.centre) c.setText(names::Label18, *d.centre);
        if (d.flush[0]) c.setText(names::Label20, *d.flush[0]);
        if (d.flush[1]) c.setText(names::Label21, *d.flush[1]);
        if (d.resetSlowDivider) f.TickDivider = 0;
        if (d.bays) c.setBays(names::Image0_Bays, *d.bays);
        if (d.ssdMessage) f.messageBox(kSsdRemovalMessage, "Message");
        if (d.panels)
            for (int p = 0; p < 3; ++p) f.setPanel(p + 1, (*d.panels)[static_cast<std::size_t>(p)]);
        if (d.mailOptOutEnabled) c.setEnabled(names::CheckBox2, *d.mailOptOutEnabled);
        if (d.showLogImage) c.setVisible(names::Image0_Log, true);
        c.setText(names::WorkTimeLeft, d.timeLeft);
    } else {
        // A record of a kind the page has no layout for still ends the start-up pass:
        // otherwise the navigation would stay locked for as long as it is connected.
        endStartUpPass();
        if (d.bays) c.setBays(names::Image0_Bays, *d.bays);
        c.setText(names::WorkTimeLeft, d.timeLeft);
    }
}

void StatusPage::endStartUpPass() {
    // The start-up pass ends with the first drawing.
    form_.dev.FirstPass = false;
    form_.LayoutNavigation(0x1D);
}

void StatusPage::Timer5Timer() {
    MainForm& f = form_;
    const bool blocked = f.dev.FirstPass || f.dev.ActiveCount == 0 || !f.anyDeviceChecked() ||
                         f.dev.HeldDevice != kNoHeldDevice;
    const auto texts = model_.timerTexts(statusOf(f.dev, f.StatusDevice), blocked);
    if (!texts) return;
    for (int p = 0; p < 3; ++p) f.setPanel(p + 1, (*texts)[static_cast<std::size_t>(p)]);
}

}  // namespace raid

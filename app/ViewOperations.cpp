#include "app/ViewOperations.h"

#include "app/MainForm.h"

namespace raid {

namespace {

bool known(ShownPage page) {
    switch (page) {
        case ShownPage::status:
        case ShownPage::upgrade:
        case ShownPage::email:
        case ShownPage::about: return true;
    }
    return false;
}

DeviceSelection shownDevice(MainForm& f, DeviceTabs tabs) {
    DeviceSelection s;
    s.device = tabs == DeviceTabs::upgrade ? f.UpgradeDevice : f.StatusDevice;
    s.name = f.statusPage().deviceName(s.device);
    if (tabs == DeviceTabs::upgrade) s.firmwareVersion = f.upgradePage().firmwareVersion();
    return s;
}

}  // namespace

PageSwitch switchPage(MainForm& f, ShownPage page) {
    PageSwitch out;
    out.page = static_cast<ShownPage>(f.CurrentPage);
    if (!known(page)) {
        out.refusal = ViewRefusal::unknown;
        return out;
    }
    if (f.dev.HeldDevice != kNoHeldDevice) {
        out.refusal = ViewRefusal::maintenance;
        return out;
    }
    // The Upgrade page opens during the start-up pass too; the others wait for its
    // first drawing.
    if (page != ShownPage::upgrade && f.dev.FirstPass) {
        out.refusal = ViewRefusal::startUp;
        return out;
    }
    f.CurrentPage = static_cast<int>(page);
    f.ShowPage();
    switch (page) {
        case ShownPage::status:
            f.dev.CurrentDevice = static_cast<std::uint32_t>(f.StatusDevice);
            f.DeviceRefresh();
            f.statusPage().refresh(false);
            break;
        case ShownPage::upgrade:
            f.dev.CurrentDevice = static_cast<std::uint32_t>(f.UpgradeDevice);
            f.DeviceRefresh();
            f.upgradePage().refresh();
            break;
        case ShownPage::email:
            f.emailPage().load();
            f.emailPage().refreshSubPage();
            break;
        case ShownPage::about: break;
    }
    out.switched = true;
    out.page = page;
    return out;
}

DeviceSelection selectShownDevice(MainForm& f, DeviceTabs tabs, int index) {
    if (index != 0 && index != 1) {
        DeviceSelection out = shownDevice(f, tabs);
        out.refusal = ViewRefusal::unknown;
        return out;
    }
    bool selected = true;
    if (tabs == DeviceTabs::upgrade)
        selected = f.upgradePage().selectDevice(index);
    else
        f.statusPage().selectDevice(index);
    DeviceSelection out = shownDevice(f, tabs);
    out.selected = selected;
    if (!selected) out.refusal = ViewRefusal::maintenance;
    return out;
}

}  // namespace raid

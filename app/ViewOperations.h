// What a front end shows, as operations on the engine: which page is up and which
// device the Status page and the Upgrade page show. The page images and the device
// tabs of the window call these, as will a client in another process; each checks its
// arguments (a value from outside may be anything) and says whether it was done and
// why not. The picture the engine publishes follows at once. Engine thread.
//
//   switchPage         the page in; out: switched or why not, the page now up.
//   selectShownDevice  the tabs (Status or Upgrade page) and the device index in; out:
//                      selected or why not, the device now shown, its name (the tab's
//                      hint) and, on the Upgrade page, its firmware version.
#pragma once

#include <string>

namespace raid {

class MainForm;

// The pages, numbered as the window's page book numbers them.
enum class ShownPage { status = 0, upgrade = 2, email = 3, about = 4 };

enum class ViewRefusal {
    none,
    maintenance,  // a device is held for maintenance: navigation waits for it
    startUp,      // the start-up pass has not drawn the Status page yet
    unknown,      // no such page or device
};

struct PageSwitch {
    bool switched = false;
    ViewRefusal refusal = ViewRefusal::none;
    ShownPage page = ShownPage::status;  // the page up now
};

PageSwitch switchPage(MainForm& form, ShownPage page);

enum class DeviceTabs { status, upgrade };

struct DeviceSelection {
    bool selected = false;
    ViewRefusal refusal = ViewRefusal::none;
    int device = 0;               // the device these tabs show now
    std::string name;             // its name, as its tab's hint shows it
    std::string firmwareVersion;  // the Upgrade page's "Firmware Version:" ("" on the Status page)
};

DeviceSelection selectShownDevice(MainForm& form, DeviceTabs tabs, int index);

}  // namespace raid

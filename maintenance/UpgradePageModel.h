// The Firmware Upgrade page as the engine sees it: the version of the chosen device,
// the page's title and the progress panel with its bar while an upgrade runs.
//
// The upgrade procedures talk to the page through UpgradeDisplay; the model keeps
// what the page shows as one typed view, and the page side publishes it in the
// window's controls (the bar as its value and maximum).
#pragma once

#include <cstdint>
#include <string>

#include "device/Transport.h"

namespace raid {

// What the upgrade procedures show on the page.
class UpgradeDisplay {
public:
    virtual ~UpgradeDisplay() = default;
    // The page title becomes `title`, the bar starts at 0 of `maximum`, the panel shows
    // `panelText` and the progress timer starts.
    virtual void beginProgress(const std::string& title, const std::string& panelText, std::uint32_t maximum) = 0;
    virtual void panelText(const std::string& text) = 0;
    // The timer stops after one last copy of the progress value, and the panel hides.
    virtual void endProgress() = 0;
};

struct UpgradePageView {
    std::string title = "Firmware Upgrade";
    bool panelShown = false;
    std::string panelText;
    std::uint32_t maximum = 0;
    std::uint32_t value = 0;
    bool timerRunning = false;
};

class UpgradePageModel {
public:
    const UpgradePageView& view() const { return view_; }
    void begin(const std::string& title, const std::string& panelText, std::uint32_t maximum);
    void setPanelText(const std::string& text) { view_.panelText = text; }
    // The progress counter as the timer copies it; a value past the maximum shows as
    // the maximum (a bar never runs over).
    void copyProgress(std::uint32_t value);
    void end();

private:
    UpgradePageView view_;
};

// "Firmware Version:" of a device: the identity page's revision, ".", and the status
// record's sub-code version.
std::string firmwareVersionText(const Sector& identity, const Sector& status);

}  // namespace raid

// The engine side of each page of the main window: its handlers and how it is brought
// up to date. MainForm owns one of each and does the navigation between them.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "app/EngineCommands.h"
#include "app/pages/HandlerTable.h"
#include "app/pages/EmailPage.h"
#include "app/pages/StatusPage.h"
#include "device/DeviceResult.h"
#include "maintenance/UpgradePageModel.h"

namespace raid {

class MainForm;

// Shows the picture of the chosen tab and the plain picture of the others.
void selectTab(MainForm& form, const char* const* images, std::size_t count, std::size_t index);

class UpgradePage final : public UpgradeDisplay {
public:
    explicit UpgradePage(MainForm& form) : form_(form) {}
    void registerHandlers(HandlerTable& table);
    // The chosen device's firmware version on the page.
    void refresh();
    // The chosen device's firmware version ("" while it is not watched).
    std::string firmwareVersion() const;
    // Image2_D1Click / Image2_D2Click: the device the page shows and upgrades; nothing
    // while a device is held.
    bool selectDevice(int index);
    // Image2_LoadClick: the open-file dialog, then the file read as the firmware image.
    void Image2_LoadClick();
    // Image2_UpgradeClick: the loaded image into the chosen device's flash. Runs to
    // the end inside the click; the engine's other work goes on between requests.
    void Image2_UpgradeClick();
    // Timer1: the progress counter into the bar.
    void Timer1Timer();
    const UpgradePageModel& model() const { return model_; }

    // The file the page names as the image (its file-name field): the path last loaded.
    const std::string& fileName() const { return fileName_; }
    void showFileName(const std::string& path);
    // The last upgrade's failure, with its fault, words and context: ok after one that
    // completed and before any. Set by each upgrade that was not refused as busy.
    const DeviceResult& lastUpgradeFailure() const { return lastFailure_; }
    void upgradeEnded(DeviceResult failure) { lastFailure_ = std::move(failure); }

    // UpgradeDisplay
    void beginProgress(const std::string& title, const std::string& panelText, std::uint32_t maximum) override;
    void panelText(const std::string& text) override;
    void endProgress() override;

private:
    void show();
    MainForm& form_;
    UpgradePageModel model_;
    std::string fileName_;
    DeviceResult lastFailure_;
};

// The event log window (TForm5). The window itself belongs to the front end: the
// engine only says when to open it and answers its periodic questions, so polling and
// logging go on while it is open.
class LogWindowSide {
public:
    explicit LogWindowSide(MainForm& form) : form_(form) {}
    void registerHandlers(HandlerTable& table);
    void closed();
    bool open() const { return open_; }
    LogSnapshot snapshot(std::size_t from) const;
    // Reads a log file for the window through the file store, bounded like the day log.
    LogFileText readFile(const std::string& path) const;  // a client's day files: the service's
    // Set by the front end: opens the window.
    std::function<void()> onShow;

private:
    void Image0_LogClick();
    MainForm& form_;
    bool open_ = false;
};

}  // namespace raid

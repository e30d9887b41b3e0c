// The engine side of each page of the main window: its handlers and how it is brought
// up to date. MainForm owns one of each and does the navigation between them.
#pragma once

#include <array>
#include <cstddef>
#include <functional>

#include "app/EngineCommands.h"
#include "app/pages/HandlerTable.h"
#include "app/pages/EmailPage.h"
#include "app/pages/StatusPage.h"

namespace raid {

class MainForm;

// Shows the picture of the chosen tab and the plain picture of the others.
void selectTab(MainForm& form, const char* const* images, std::size_t count, std::size_t index);

class UpgradePage {
public:
    explicit UpgradePage(MainForm& form) : form_(form) {}
    void registerHandlers(HandlerTable& table);
    // The chosen device's firmware version on the page ("" while it is not watched).
    void refresh();
    void selectDevice(int index);
    // Image2_LoadClick: the open-file dialog, then the file read as the firmware image.
    void Image2_LoadClick();

private:
    MainForm& form_;
};

// The event log window (TForm5). The window itself belongs to the front end: the
// engine only says when to open it and answers its periodic questions, so polling and
// logging go on while it is open.
class LogWindowSide {
public:
    explicit LogWindowSide(MainForm& form) : form_(form) {}
    void registerHandlers(HandlerTable& table);
    void closed() { open_ = false; }
    bool open() const { return open_; }
    LogSnapshot snapshot(std::size_t from) const;
    // Set by the front end: opens the window.
    std::function<void()> onShow;

private:
    void Image0_LogClick();
    MainForm& form_;
    bool open_ = false;
};

}  // namespace raid

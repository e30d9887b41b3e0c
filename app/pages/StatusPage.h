// The Status page's engine side: device selection (check boxes and tabs), the device
// refresh (names, hints, caption, firmware capabilities), the drawing and Timer5's
// status texts. What the page shows is computed by monitor/StatusPageModel; this unit
// applies it to the window's controls and to the main window's fields.
#pragma once

#include <string>

#include "app/pages/HandlerTable.h"
#include "monitor/StatusPageModel.h"

namespace raid {

class MainForm;

class StatusPage {
public:
    explicit StatusPage(MainForm& form) : form_(form) {}
    void registerHandlers(HandlerTable& table);

    // Draws the page: -1 when no device check box is ticked, else 0. The first drawing
    // ends the start-up pass.
    int refresh(bool fullRedraw);
    // The device refresh: the device the next operation addresses, its product class,
    // the device names as hints and the caption.
    void deviceRefresh();
    // Image0_D1Click / Image0_D2Click.
    void selectDevice(int index);
    // CheckBox1Click / CheckBox3Click, after the box took its new state.
    void checkBoxClick(int index, bool checked);
    void Timer5Timer();

    const StatusPageModel& model() const { return model_; }
    const std::string& deviceName(int index) const { return names_[index == 1 ? 1 : 0]; }

private:
    void select(int index);
    void apply(const StatusDrawing& d);
    void endStartUpPass();

    MainForm& form_;
    StatusPageModel model_;
    std::array<std::string, 2> names_;
};

}  // namespace raid

// What the window may ask of the engine: the user's actions and the event log
// window's questions. The window holds nothing else of the engine, so everything it
// does to the engine's state goes through here (on the engine thread).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/HistoryChart.h"

namespace raid {

struct LogSnapshot {
    std::vector<std::string> lines;  // day lines from `from` on (all of them when `restart`)
    std::size_t total = 0;           // number of day lines now
    bool restart = false;            // the day lines shrank (a new day began): start over
    bool live = false;               // polling armed
};

// A log file the user chose to view, read as the day files are read: a regular file
// of at most 16 MiB, never a FIFO or a device (which would block or never end).
struct LogFileText {
    bool ok = false;
    std::vector<std::string> lines;  // when ok
    std::string problem;             // otherwise: why not, for the user
};

class EngineCommands {
public:
    virtual ~EngineCommands() = default;
    // A click on an image, button or label, by control name (Image_Sts, Image0_D1, ...).
    virtual void Click(const std::string& control) = 0;
    virtual void DoubleClick(const std::string& control) = 0;  // StatusBar1
    // The user ticked or cleared a check box (the new state).
    virtual void CheckBoxClick(const std::string& control, bool checked) = 0;
    // The user typed into an edit box.
    virtual void EditChange(const std::string& control, const std::string& text) = 0;
    // The user chose a row of a grid.
    virtual void SelectCell(const std::string& control, int row) = 0;
    // The desktop session is ending. Returns whether it may end.
    virtual bool QueryEndSession() = 0;
    // The title-bar close button. Returns whether the window closes.
    virtual bool CloseRequest() = 0;
    // The event log window was closed / asks for the day lines it does not have yet.
    virtual void LogWindowClosed() = 0;
    virtual LogSnapshot logSnapshot(std::size_t from) const = 0;
    // "View Log File": the chosen file's lines, or why it is not shown.
    virtual LogFileText readLogFile(const std::string& path) = 0;
    // The history chart window asks for another range / was closed.
    virtual void HistoryRangeClick(HistoryRange range) = 0;
    virtual void HistoryWindowClosed() = 0;
};

}  // namespace raid

// The native window around an engine host: TForm1, the event log window, the message
// boxes and the session end, wired together (the Windows counterpart of gui/GuiApp).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <windows.h>

#include "app/EngineHost.h"

namespace raid::win {

class HistoryWindow;
class MainWindow;
class UiThread;
class WinDialogs;

// Everything runWindow does except the message loop, so tests and tools can run a
// real window and pump its messages themselves. Window's thread only.
class WinSession {
public:
    // Registers the control listener and the quit callback on `host`; the engine must
    // not have started yet. `scale` > 0 lays the window out at that scale instead of
    // its monitor's DPI (tests check the layout at 150 % without another display).
    explicit WinSession(EngineHost& host, double scale = 0);
    // Releases any engine thread waiting for a box, stops the engine, destroys the windows.
    ~WinSession();
    WinSession(const WinSession&) = delete;
    WinSession& operator=(const WinSession&) = delete;

    // Shows the window and starts the engine.
    void start();

    // The main window (TForm1).
    HWND window() const;
    MainWindow& mainWindow();
    // Lays the window out again at `scale`, as a change of the monitor's DPI does.
    void setScale(double scale);
    // The control carrying `name` in the main window, or in the event log window
    // while it is open; nullptr if none.
    HWND control(const std::string& name) const;
    // The event log window while it is open (nullptr otherwise).
    HWND logWindow() const;
    // The history chart window while it is open (nullptr otherwise).
    HistoryWindow* historyWindow() const;
    // The engine has asked the program to end (a granted close or session end).
    bool quitRequested() const { return quitRequested_; }
    // What ends the program once the engine has granted it. The default posts WM_QUIT.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

    // The message boxes and the open-file dialog the engine asks for.
    WinDialogs& dialogs();
    EngineHost& host() { return host_; }
    UiThread& ui() { return *ui_; }

    struct Parts;

private:
    // WM_QUERYENDSESSION: asks the engine, pumping messages until it answers.
    bool queryEndSession();
    // The engine asks for the event log window (Image0_Log).
    void showLogWindow();
    // The engine opens the history chart window / sends the chart it shows.
    void showHistoryWindow();
    void showHistoryChart(const HistoryChart& chart);

    EngineHost& host_;
    std::unique_ptr<UiThread> ui_;
    std::unique_ptr<Parts> parts_;
    bool quitRequested_ = false;
    std::function<void()> quitHandler_;
};

// Runs the window's messages until `done` holds or `timeoutMs` has passed; true when
// `done` held. For tests and tools that drive a window on their own thread.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs);

// The program with a window: makes the window, starts the engine, runs the message
// loop until the engine ends the program, stops the engine. Returns the exit code (0).
int runWindow(EngineHost& host);

}  // namespace raid::win

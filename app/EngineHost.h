// Runs the engine on its own thread for a program with a window.
//
// The window (Qt) thread only renders control changes and forwards user actions;
// everything else runs here. The host owns the engine thread, the real scheduler and
// the Controls model; the window registers its listener and dialog port before the
// engine starts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "app/EngineCommands.h"
#include "app/MainForm.h"
#include "platform/Scheduler.h"

namespace raid {

class EngineHost {
public:
    // Builds the MainForm on the engine thread; called once by start(). The factory
    // receives the scheduler, the controls and the window's dialog port.
    using FormFactory = std::function<std::unique_ptr<MainForm>(Scheduler&, Controls&, DialogPort&)>;

    EngineHost(std::unique_ptr<Scheduler> scheduler, FormFactory factory);
    ~EngineHost();

    Controls& controls() { return controls_; }
    Scheduler& scheduler() { return *scheduler_; }

    // Starts the engine thread: the form is built, FormCreate runs, then the engine
    // loop. `dialogs` must outlive the host.
    void start(DialogPort& dialogs);
    // Runs `action` on the engine thread with the form (queued, returns at once). For
    // tools and tests; the window uses command().
    void post(std::function<void(MainForm&)> action);
    // Runs a user action on the engine thread (queued, returns at once).
    void command(std::function<void(EngineCommands&)> action);
    // Stops the engine loop and joins the thread.
    void stop();
    bool running() const { return thread_.joinable(); }
    // After stop(): "" when every day log line reached a disk, else what was lost (see
    // EventLog::saveAtExit), for the program to say on standard error.
    const std::string& eventLogLoss() const { return eventLogLoss_; }

    // Called on the engine thread when the engine wants the program to end (a granted
    // close or session end). Set by the window before start().
    std::function<void()> onQuit;
    // Called on the engine thread right after FormCreate (before the loop).
    std::function<void(MainForm&)> onCreated;
    // Called on the engine thread when the user asks for the event log window.
    std::function<void()> onShowLogWindow;
    // Called on the engine thread when the user opens the history chart window, and
    // with each chart it is to show (see HistoryWindowSide).
    std::function<void()> onShowHistoryWindow;
    std::function<void(const HistoryChart&)> onHistoryChart;
    // Where the history chart gets its samples (the engine's own store or the
    // service); not owned, must outlive the engine. Set before start().
    HistorySource* historySource = nullptr;
    // Called on the engine thread after FormCreate with how long hints stay up (ms).
    std::function<void(int ms)> onHintHidePause;
    // Called on the engine thread after each raised alert with its detail lines (empty
    // when the alert is suppressed), after the form's own onAlertRaised handler.
    std::function<void(const std::vector<std::string>& lines)> onAlert;

private:
    std::unique_ptr<Scheduler> scheduler_;
    FormFactory factory_;
    Controls controls_;
    std::unique_ptr<MainForm> form_;
    std::thread thread_;
    std::string eventLogLoss_;  // written by the engine thread before it ends
};

}  // namespace raid

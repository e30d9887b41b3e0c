// Runs the application engine against a scenario of simulated enclosures.
//
// Used by raid-gui-sim (headless or with the window) and by the timeline tests.
// Every user-visible output becomes one line: virtual time in seconds, the control's
// name, and the text (line breaks written as \n).
#pragma once

#include <atomic>
#include <fstream>
#include <sstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "app/HeadlessOutput.h"
#include "app/MainForm.h"
#include "platform/DeviceChangePort.h"
#include "platform/Scheduler.h"
#include "platform/SettingsPort.h"
#include "platform/TcpPort.h"
#include "sim/Scenario.h"
#include "sim/SimPlatform.h"
#include "sim/Trace.h"

namespace raid::sim {

struct RunOptions {
    std::string scenarioPath;   // empty: the built-in default
    std::string tracePath;      // empty: no trace
    double untilSeconds = 60;   // virtual seconds
    std::int64_t latencyUs = 0; // per request
    bool virtualTime = true;
    double startWallSeconds = -1;  // wall time at virtual 0; negative = now
    std::string logDir;           // where the day files go; empty: the current folder
    std::string fallbackLogDir;   // where they go while logDir cannot be written
    int historyDays = 90;         // days of history kept (in logDir's history folder)
    std::string settingsPath;     // the settings file; empty: settings held in memory only
    int dumpFlashDrive = -1;      // drive whose flash finish() writes to dumpFlashPath; -1: none
    std::string dumpFlashPath;
    bool keepLines = true;        // keep every output line for lines() (a long real-time run keeps none)
    bool watchSignals = true;     // take SIGTERM/SIGHUP/SIGINT (sessionEndSignal) up as a session end
    std::string lockDir;          // folder of the drive locks other runs see; empty: no locking
};

// "YYYY-MM-DDTHH:MM:SS" in local time to wall seconds; false when malformed.
bool parseStartTime(const std::string& text, double& wallSeconds);

// Device-change notifications the scenario delivers.
class SimDeviceChange final : public DeviceChangePort {
public:
    void start(std::function<void()> onChange) override { onChange_ = std::move(onChange); }
    void stop() override { onChange_ = nullptr; }
    void fire() {
        if (onChange_) onChange_();
    }

private:
    std::function<void()> onChange_;
};

class SimRunner : public DialogPort {
public:
    // `out` receives the output lines as they happen (may be null). With `shared` the
    // runner works on that simulated machine (another runner's, as a second program
    // on one PC would) instead of its own; the scenario's steps still act on it.
    SimRunner(RunOptions options, std::ostream* out, SimPlatform* shared = nullptr);
    // For a window: the engine's scheduler, controls and dialogs are the host's.
    SimRunner(RunOptions options, std::ostream* out, Scheduler& scheduler, Controls& controls, DialogPort& dialogs);
    ~SimRunner() override;

    // Reads the scenario; false with a "file:line: what" message on refusal.
    bool load(std::string& error);
    // Uses an already parsed scenario instead of a file.
    void useScenario(Scenario scenario) {
        scenario_ = std::move(scenario);
        loaded_ = true;
    }

    // Builds the machine from the steps at second 0, creates the window engine and
    // schedules the later steps.
    bool start(std::string& error);
    // The same in two halves, for a host that runs FormCreate itself: build the
    // machine and the form (which the caller then owns), and after FormCreate
    // schedule the later steps.
    std::unique_ptr<MainForm> buildForm(std::string& error);
    void afterCreate();
    // Runs the engine until the given virtual second.
    void runUntil(double seconds);
    void run() { runUntil(options_.untilSeconds); }
    // After the run: saves what the day log still holds only in memory (a form this
    // runner started) and writes the flash dump when asked; false with one message a
    // line when day log lines are lost, the trace or the dump could not be written, or
    // the dump's drive is no enclosure.
    bool finish(std::string& error);

    MainForm& form() { return *form_; }
    SimPlatform& platform() { return platform_; }
    Controls& controls() { return *controls_; }
    Scheduler& scheduler() { return *scheduler_; }
    const std::vector<std::string>& lines() const { return output_->lines(); }
    // Output lines containing `needle`.
    std::vector<std::string> linesWith(const std::string& needle) const { return output_->linesWith(needle); }
    HeadlessOutput& headless() { return *output_; }
    std::string traceText() const { return traceBuffer_.str(); }

    int messageBox(const std::string& text, const std::string& caption, int buttons) override;

    // Emits one output line (time prefix added).
    void output(const std::string& control, const std::string& text);

    // Scenario verbs handled here rather than by the platform:
    //   check N on|off    the user ticks or clears device check box N (1 or 2)
    //   select N          the user clicks device N's tab on the Status page (1 or 2)
    //   maintenance on|off  a maintenance operation holds device 1 (or ends)
    //   email key=value ...  the user fills the E-mail page and presses OK (app/EmailStep.h)
    //   sessionend        the desktop session asks the program to end
    //   testmail          the user presses "Send Test Mail" on the E-mail page
    //   upgrade FILE N    the user loads FILE on the Upgrade page, picks device N (1 or 2)
    //                     and presses Upgrade
    static const std::vector<std::string>& extraVerbs();

    // Set from a signal handler (SIGTERM, SIGHUP, SIGINT): a session end to take up.
    static std::atomic<bool> sessionEndSignal;
    // The program was asked to end (a granted session end or close).
    bool quitRequested() const { return quitRequested_; }

private:
    void applyTimed(const ScenarioStep& step);
    void playUpgrade(const std::string& file, int device);
    void armNextStep();
    void playDueSteps();
    bool checkExtraVerbs(std::string& error);

    std::unique_ptr<SettingsPort> settings_;
    std::unique_ptr<TcpPort> tcp_;
    bool quitRequested_ = false;
    Scheduler::TimerId signalTimer_ = -1;
    // The steps after start-up, in time order, and the one timer for the next of them.
    std::vector<const ScenarioStep*> timed_;
    std::size_t nextStep_ = 0;
    Scheduler::TimerId stepTimer_ = -1;

    RunOptions options_;
    std::ostream* out_;
    Scenario scenario_;
    bool loaded_ = false;
    std::unique_ptr<Scheduler> ownScheduler_;
    Scheduler* scheduler_;
    DialogPort* dialogs_;
    SimPlatform ownPlatform_;
    SimPlatform& platform_;
    std::unique_ptr<DriveLockPort> locks_;
    std::ofstream traceFile_;
    std::ostringstream traceBuffer_;
    std::unique_ptr<TracePort> trace_;
    SimDeviceChange deviceChanges_;
    Controls ownControls_;
    Controls* controls_;
    std::unique_ptr<MainForm> ownForm_;
    MainForm* form_ = nullptr;
    std::unique_ptr<HeadlessOutput> output_;
};

using raid::escapeText;

}  // namespace raid::sim

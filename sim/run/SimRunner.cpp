#include "sim/run/SimRunner.h"

#include "sim/Records.h"

#include "monitor/TimeFormat.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "app/EmailStep.h"
#include "app/UpgradeOperations.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <sstream>

namespace raid::sim {

bool parseStartTime(const std::string& text, double& wallSeconds) {
    int y, mo, d, h, mi, se;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6) return false;
    const std::optional<double> t = localWallSeconds(y, mo, d, h, mi, se);  // 31 February and the like: none
    if (!t) return false;
    wallSeconds = *t;
    return true;
}

const std::vector<std::string>& SimRunner::extraVerbs() {
    static const std::vector<std::string> verbs = {"check", "select", "maintenance", "sessionend", "email", "upgrade", "testmail"};
    return verbs;
}

std::atomic<bool> SimRunner::sessionEndSignal{false};

SimRunner::SimRunner(RunOptions options, std::ostream* out, SimPlatform* shared)
    : options_(std::move(options)),
      out_(out),
      ownScheduler_(options_.virtualTime
                     ? makeVirtualScheduler(options_.startWallSeconds >= 0
                                                ? options_.startWallSeconds
                                                : std::chrono::duration<double>(
                                                      std::chrono::system_clock::now().time_since_epoch())
                                                      .count())
                     : makeRealScheduler()),
      scheduler_(ownScheduler_.get()),
      dialogs_(this),
      ownPlatform_([this](std::int64_t us) { scheduler_->sleepUs(us); }),
      platform_(shared ? *shared : ownPlatform_),
      controls_(&ownControls_) {
    output_ = std::make_unique<HeadlessOutput>(*scheduler_, out_, nullptr, options_.keepLines);
}

SimRunner::SimRunner(RunOptions options, std::ostream* out, Scheduler& scheduler, Controls& controls,
                     DialogPort& dialogs)
    : options_(std::move(options)),
      out_(out),
      scheduler_(&scheduler),
      dialogs_(&dialogs),
      ownPlatform_([this](std::int64_t us) { scheduler_->sleepUs(us); }),
      platform_(ownPlatform_),
      controls_(&controls) {
    output_ = std::make_unique<HeadlessOutput>(*scheduler_, out_, nullptr, options_.keepLines);
}

SimRunner::~SimRunner() {
    if (ownScheduler_) {
        // Workers of a real-time run use the form: stop them first.
        ownScheduler_->quit();
        ownScheduler_->joinWorkers();
    }
    ownForm_.reset();
    if (traceFile_.is_open()) traceFile_.flush();
}

bool SimRunner::load(std::string& error) {
    if (options_.scenarioPath.empty()) {
        scenario_ = defaultScenario();
        loaded_ = true;
        return true;
    }
    loaded_ = loadScenario(options_.scenarioPath, scenario_, error, extraVerbs());
    if (loaded_) loaded_ = checkExtraVerbs(error);
    return loaded_;
}

void SimRunner::output(const std::string& control, const std::string& text) { output_->output(control, text); }

int SimRunner::messageBox(const std::string& text, const std::string& caption, int buttons) {
    return output_->messageBox(text, caption, buttons);
}

bool SimRunner::start(std::string& error) {
    ownForm_ = buildForm(error);
    if (!ownForm_) return false;
    form_->FormCreate();
    afterCreate();
    return true;
}

std::unique_ptr<MainForm> SimRunner::buildForm(std::string& error) {
    if (!loaded_ && scenario_.steps.empty()) {
        if (!load(error)) return nullptr;
    }
    platform_.setLatencyUs(options_.latencyUs);
    for (const ScenarioStep& step : scenario_.steps) {
        if (step.seconds > 0) break;
        if (std::find(extraVerbs().begin(), extraVerbs().end(), step.verb) == extraVerbs().end())
            applyStep(platform_, step);
    }

    StoragePort* storage = &platform_;
    if (!options_.tracePath.empty()) {
        traceFile_.open(options_.tracePath, std::ios::out | std::ios::trunc);
        if (!traceFile_) {
            error = options_.tracePath + ": cannot write the trace file";
            return nullptr;
        }
        trace_ = std::make_unique<TracePort>(platform_, traceFile_);
        storage = trace_.get();
    }

    if (out_ || dialogs_ == this) output_->watchControls(*controls_);

    Ports ports{*scheduler_, *storage, platform_, *dialogs_, &deviceChanges_, nullptr, nullptr, {}, {}};
    ports.logFolder = options_.logDir;
    ports.fallbackLogFolder = options_.fallbackLogDir;
    ports.historyDays = options_.historyDays;
    // Mail goes out over the real network, so a scenario can alert a real server.
    if (options_.settingsPath.empty()) {
        settings_ = std::make_unique<MemorySettings>();
        ports.settingsFolder = paths::withSeparator(options_.logDir);
    } else {
        settings_ = openSettings(options_.settingsPath);
        ports.settingsFolder = settingsTextFolder(options_.settingsPath);
    }
    ports.settings = settings_.get();
    tcp_ = makeTcpPort();
    ports.tcp = tcp_.get();
    if (!options_.lockDir.empty()) {
        // The machine's real drive locks, named by the simulated drive's number.
        locks_ = makeNamedDriveLocks(
            options_.lockDir, [this](int n) -> std::optional<std::string> {
                if (n < 0 || n >= kMaxDrives || !platform_.present(n)) return std::nullopt;
                return "sim-PhysicalDrive" + std::to_string(n);
            });
        ports.locks = locks_.get();
    }
    auto form = std::make_unique<MainForm>(ports, *controls_);
    form_ = form.get();
    output_->watchForm(*form_);
    form_->onQuit = [this] {
        quitRequested_ = true;
        scheduler_->quit();
    };
    return form;
}

void SimRunner::afterCreate() {
    // A session end arriving as a signal is taken up on the engine thread.
    if (options_.watchSignals) {
        signalTimer_ = scheduler_->addTimer(50, [this] {
            if (sessionEndSignal.exchange(false)) form_->QueryEndSession();
        });
        scheduler_->setTimerEnabled(signalTimer_, true);
    }

    // Steps of the runner's own at second 0 act once the window exists; later steps
    // happen at their second. The steps are in time order, so one timer armed for the
    // next step is enough: a scenario of any length costs nothing between its steps.
    for (const ScenarioStep& step : scenario_.steps) {
        const bool own = std::find(extraVerbs().begin(), extraVerbs().end(), step.verb) != extraVerbs().end();
        if (step.seconds <= 0 && !own) continue;
        timed_.push_back(&step);
    }
    stepTimer_ = scheduler_->addTimer(1000, [this] { playDueSteps(); });
    armNextStep();
}

void SimRunner::armNextStep() {
    if (nextStep_ < timed_.size())
        scheduler_->setTimerDue(stepTimer_, std::llround(timed_[nextStep_]->seconds * 1000.0) * 1000);
    else
        scheduler_->setTimerEnabled(stepTimer_, false);
}

void SimRunner::playDueSteps() {
    while (nextStep_ < timed_.size() &&
           std::llround(timed_[nextStep_]->seconds * 1000.0) * 1000 <= scheduler_->nowUs()) {
        const ScenarioStep& step = *timed_[nextStep_++];
        applyTimed(step);
    }
    armNextStep();
}

bool SimRunner::checkExtraVerbs(std::string& error) {
    for (const ScenarioStep& step : scenario_.steps) {
        const std::string where =
            (options_.scenarioPath.empty() ? scenario_.name : options_.scenarioPath) + ":" + std::to_string(step.line) + ": ";
        const auto& a = step.args;
        if (step.verb == "check") {
            if (a.size() != 2 || (a[0] != "1" && a[0] != "2") || (a[1] != "on" && a[1] != "off")) {
                error = where + "check takes a device number 1 or 2 and on or off";
                return false;
            }
        } else if (step.verb == "select") {
            if (a.size() != 1 || (a[0] != "1" && a[0] != "2")) {
                error = where + "select takes a device number 1 or 2";
                return false;
            }
        } else if (step.verb == "maintenance") {
            if (a.size() != 1 || (a[0] != "on" && a[0] != "off")) {
                error = where + "maintenance takes on or off";
                return false;
            }
        } else if (step.verb == "email") {
            EmailStep parsed;
            std::string what;
            if (!parseEmailStep(step.rest, parsed, what)) {
                error = where + what;
                return false;
            }
        } else if (step.verb == "upgrade") {
            if (a.size() != 2 || (a[1] != "1" && a[1] != "2")) {
                error = where + "upgrade takes a firmware file and a device number 1 or 2";
                return false;
            }
        } else if (step.verb == "sessionend" || step.verb == "testmail") {
            if (!a.empty()) {
                error = where + step.verb + " takes no arguments";
                return false;
            }
        }
    }
    return true;
}

void SimRunner::applyTimed(const ScenarioStep& step) {
    const auto& a = step.args;
    if (step.verb == "check") {
        form_->CheckBoxClick(MainForm::deviceCheckBox(a[0] == "1" ? 0 : 1), a[1] == "on");
    } else if (step.verb == "select") {
        // The user clicks the device's tab on the Status page.
        form_->Click(names::statusDeviceImage[a[0] == "1" ? 0 : 1]);
    } else if (step.verb == "maintenance") {
        // Stands in for a firmware upgrade holding the first device.
        // As an upgrade does, it takes the device check boxes away while it holds.
        const bool on = a[0] == "on";
        form_->setMaintenanceBusy(on);
        if (on) form_->dev.HeldDevice = 0;
    } else if (step.verb == "email") {
        EmailStep parsed;
        std::string what;
        if (parseEmailStep(step.rest, parsed, what)) playEmailStep(*form_, parsed);
    } else if (step.verb == "upgrade") {
        playUpgrade(a[0], a[1] == "1" ? 0 : 1);
    } else if (step.verb == "sessionend") {
        form_->QueryEndSession();
    } else if (step.verb == "testmail") {
        form_->Click(names::Image3_TestMail);
    } else if (applyStep(platform_, step)) {
        deviceChanges_.fire();
    }
}

void SimRunner::playUpgrade(const std::string& file, int device) {
    // A relative file name is taken from the scenario's folder, like every other file
    // a scenario names.
    const std::string path = paths::besideFile(options_.scenarioPath, file);
    // The user opens the page, picks the device, loads the file and presses Upgrade;
    // a disabled image takes no click, as in the window.
    form_->Click(names::Image_FWUpg);
    form_->Click(names::upgradeDeviceImage[static_cast<std::size_t>(device)]);
    if (!controls_->enabled(names::Image2_Load)) {
        output("Step[upgrade]", "Image2_Load is disabled");
        return;
    }
    loadFirmwareImage(*form_, path);
    if (!controls_->enabled(names::Image2_Upgrade)) {
        output("Step[upgrade]", "Image2_Upgrade is disabled");
        return;
    }
    form_->Click(names::Image2_Upgrade);
}

bool SimRunner::finish(std::string& error) {
    std::vector<std::string> problems;
    // A form this runner owns ends here; one a host owns ends with the host, which
    // answers for its day log itself (EngineHost::eventLogLoss).
    if (ownForm_) {
        std::string lost = ownForm_->eventLog().saveAtExit();
        if (!lost.empty()) problems.push_back(std::move(lost));
    }
    if (options_.dumpFlashDrive >= 0) {
        const SimEnclosure* e = platform_.enclosure(options_.dumpFlashDrive);
        if (!e) {
            problems.push_back("--dump-flash: drive " + std::to_string(options_.dumpFlashDrive) + " is no enclosure");
        } else if (!writeFlashFile(options_.dumpFlashPath, e->flashCopy())) {
            problems.push_back(options_.dumpFlashPath + ": cannot write the flash dump");
        }
    }
    if (traceFile_.is_open()) {
        traceFile_.flush();
        if (!traceFile_) problems.push_back(options_.tracePath + ": cannot write the trace file");
    }
    error.clear();
    for (const std::string& p : problems) error += (error.empty() ? "" : "\n") + p;
    return problems.empty();
}

void SimRunner::runUntil(double seconds) {
    scheduler_->run(static_cast<std::int64_t>(seconds * 1e6 + 0.5));
}

}  // namespace raid::sim

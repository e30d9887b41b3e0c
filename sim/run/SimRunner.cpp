#include "sim/run/SimRunner.h"

#include <chrono>
#include <cstdio>
#include <sstream>

namespace raid::sim {

std::string escapeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

const std::vector<std::string>& SimRunner::extraVerbs() {
    static const std::vector<std::string> verbs = {};
    return verbs;
}

SimRunner::SimRunner(RunOptions options, std::ostream* out)
    : options_(std::move(options)),
      out_(out),
      scheduler_(options_.virtualTime
                     ? makeVirtualScheduler(options_.startWallSeconds > 0
                                                ? options_.startWallSeconds
                                                : std::chrono::duration<double>(
                                                      std::chrono::system_clock::now().time_since_epoch())
                                                      .count())
                     : makeRealScheduler()),
      platform_([this](std::int64_t us) { scheduler_->sleepUs(us); }) {}

SimRunner::~SimRunner() {
    form_.reset();
    if (traceFile_.is_open()) traceFile_.flush();
}

bool SimRunner::load(std::string& error) {
    if (options_.scenarioPath.empty()) {
        scenario_ = defaultScenario();
        loaded_ = true;
        return true;
    }
    loaded_ = loadScenario(options_.scenarioPath, scenario_, error);
    return loaded_;
}

std::vector<std::string> SimRunner::linesWith(const std::string& needle) const {
    std::vector<std::string> found;
    for (const auto& l : lines_)
        if (l.find(needle) != std::string::npos) found.push_back(l);
    return found;
}

void SimRunner::emit(const std::string& control, const std::string& text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f", static_cast<double>(scheduler_->nowUs()) / 1e6);
    std::string line = std::string(stamp) + " " + control + " " + escapeText(text);
    if (out_) *out_ << line << '\n' << std::flush;
    lines_.push_back(std::move(line));
}

int SimRunner::messageBox(const std::string& text, const std::string& caption, int) {
    emit("MessageBox[" + (caption.empty() ? std::string("Error") : caption) + "]", text);
    return DialogPort::Ok;
}

bool SimRunner::start(std::string& error) {
    if (!loaded_ && scenario_.steps.empty()) {
        if (!load(error)) return false;
    }
    platform_.setLatencyUs(options_.latencyUs);
    for (const ScenarioStep& step : scenario_.steps) {
        if (step.seconds > 0) break;
        applyStep(platform_, step);
    }

    StoragePort* storage = &platform_;
    if (!options_.tracePath.empty()) {
        traceFile_.open(options_.tracePath, std::ios::out | std::ios::trunc);
        if (!traceFile_) {
            error = options_.tracePath + ": cannot write the trace file";
            return false;
        }
        trace_ = std::make_unique<TracePort>(platform_, traceFile_);
        storage = trace_.get();
    }

    controls_.addListener([this](const ControlChange& change) {
        const ControlState& s = change.state;
        switch (change.prop) {
            case Prop::Text: emit(change.control, s.text); break;
            case Prop::Visible: emit(change.control, s.visible ? "shown" : "hidden"); break;
            case Prop::Enabled: emit(change.control, s.enabled ? "enabled" : "disabled"); break;
            case Prop::Checked: emit(change.control, s.checked ? "checked" : "unchecked"); break;
            case Prop::Color: emit(change.control, "color=" + s.color); break;
            default: break;  // positions and hints are not outputs a user reads
        }
    });

    form_ = std::make_unique<MainForm>(Ports{*scheduler_, *storage, platform_, *this, &deviceChanges_}, controls_);
    form_->FormCreate();

    // Later steps happen at their virtual second, as one-shot timers.
    for (const ScenarioStep& step : scenario_.steps) {
        if (step.seconds <= 0) continue;
        auto id = std::make_shared<Scheduler::TimerId>(-1);
        const ScenarioStep copy = step;
        *id = scheduler_->addTimer(static_cast<int>(step.seconds * 1000.0 + 0.5), [this, id, copy] {
            scheduler_->setTimerEnabled(*id, false);
            applyTimed(copy);
        });
        scheduler_->setTimerEnabled(*id, true);
    }
    return true;
}

void SimRunner::applyTimed(const ScenarioStep& step) {
    if (applyStep(platform_, step)) deviceChanges_.fire();
}

void SimRunner::runUntil(double seconds) {
    scheduler_->run(static_cast<std::int64_t>(seconds * 1e6 + 0.5));
}

}  // namespace raid::sim

// raid-gui-monitor-sim: raid-gui-monitor on simulated enclosures, for tests and
// benchmarks (never installed). It takes the monitor's options and, before them, the
// simulator's: --scenario FILE, --trace FILE, --lock-dir DIR (the drive locks, as
// raid-gui-sim takes them), --until SECONDS (a watching run ends there as on SIGTERM),
// --latency-us N (every request takes N µs, as in raid-gui-sim: a firmware upgrade
// then lasts long enough to be watched), --alert-limit-ms N (how long the owner's alert
// program may run; tests end a hanging one sooner than the service's 30 s).
#include <chrono>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "platform/FileStore.h"
#include "platform/Platform.h"
#include "service/MonitorMain.h"
#include "sim/run/SimRunner.h"

namespace {

class SimMachine final : public raid::service::MonitorMachine {
public:
    SimMachine(raid::sim::RunOptions options, std::chrono::milliseconds alertLimit)
        : options_(std::move(options)), tcp_(raid::makeTcpPort()), alertLimit_(alertLimit) {}

    std::unique_ptr<raid::MainForm> makeForm(raid::Scheduler& scheduler, raid::Controls& controls,
                                             raid::DialogPort& dialogs, const raid::service::MonitorOptions& options,
                                             std::string& error) override {
        raid::sim::RunOptions o = options_;
        o.logDir = options.logDir;
        o.settingsPath = options.settingsPath.empty() ? defaultSettingsPath() : options.settingsPath;
        o.virtualTime = false;
        o.keepLines = false;
        o.watchSignals = false;
        runner_ = std::make_unique<raid::sim::SimRunner>(o, nullptr, scheduler, controls, dialogs);
        if (!runner_->load(error)) return nullptr;
        scheduler_ = &scheduler;
        return runner_->buildForm(error);
    }

    void created(raid::MainForm& form) override {
        runner_->afterCreate();
        if (options_.untilSeconds <= 0) return;
        raid::MainForm* f = &form;
        const auto end = scheduler_->addTimer(1000, [f] { f->QueryEndSession(); });
        scheduler_->setTimerDue(end, static_cast<std::int64_t>(options_.untilSeconds * 1e6));
    }

    bool finish(std::string& error) override { return !runner_ || runner_->finish(error); }

    std::string defaultSettingsPath() const override { return raid::userSettingsFile("raid-gui-sim"); }
    raid::TcpPort* tcp() override { return tcp_.get(); }
    std::string statusFolder() const override { return options_.lockDir; }
    std::chrono::milliseconds alertProgramLimit() const override { return alertLimit_; }

private:
    raid::sim::RunOptions options_;
    std::unique_ptr<raid::TcpPort> tcp_;
    std::unique_ptr<raid::sim::SimRunner> runner_;
    raid::Scheduler* scheduler_ = nullptr;
    std::chrono::milliseconds alertLimit_;
};

}  // namespace

namespace {
int programMain(int argc, char** argv) {
    raid::sim::RunOptions sim;
    sim.untilSeconds = 0;  // no end of its own unless asked
    // The fallback folder of the day log, as the real service finds it.
    sim.fallbackLogDir = raid::defaultLogFolders(nullptr).fallback;
    std::chrono::milliseconds alertLimit = std::chrono::seconds(30);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool valued = a == "--scenario" || a == "--trace" || a == "--until" || a == "--lock-dir" ||
                            a == "--latency-us" || a == "--alert-limit-ms";
        if (!valued) {
            args.push_back(a);
            continue;
        }
        if (i + 1 >= argc || argv[i + 1][0] == 0) {
            std::cerr << "raid-gui-monitor-sim: " << a << " needs a value\n";
            return 2;
        }
        const std::string v = argv[++i];
        if (a == "--scenario") sim.scenarioPath = v;
        else if (a == "--trace") sim.tracePath = v;
        else if (a == "--lock-dir") sim.lockDir = v;
        else if (a == "--alert-limit-ms") {
            char* end = nullptr;
            const long long ms = std::strtoll(v.c_str(), &end, 10);
            if (!end || *end || ms < 1 || ms > 3'600'000) {
                std::cerr << "raid-gui-monitor-sim: --alert-limit-ms takes 1 to 3600000\n";
                return 2;
            }
            alertLimit = std::chrono::milliseconds(ms);
        } else if (a == "--latency-us") {
            char* end = nullptr;
            const long long us = std::strtoll(v.c_str(), &end, 10);
            if (!end || *end || us < 0 || us > 3'600'000'000LL) {
                std::cerr << "raid-gui-monitor-sim: --latency-us takes 0 to 3600000000\n";
                return 2;
            }
            sim.latencyUs = us;
        } else {
            char* end = nullptr;
            sim.untilSeconds = std::strtod(v.c_str(), &end);
            if (!end || *end || !std::isfinite(sim.untilSeconds) || sim.untilSeconds < 0 || sim.untilSeconds > 1e8) {
                std::cerr << "raid-gui-monitor-sim: --until takes seconds\n";
                return 2;
            }
        }
    }
    return raid::service::monitorMain("raid-gui-monitor-sim", args, [&sim, alertLimit] {
        return std::make_unique<SimMachine>(sim, alertLimit);
    });
}
}  // namespace

int main(int argc, char** argv) { return raid::withProgramArguments(argc, argv, programMain); }

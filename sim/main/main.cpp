// raid-gui-sim: the application on simulated enclosures.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/FileStore.h"
#ifdef RAID_WITH_WINDOW
#include "app/EngineHost.h"
#include "gui/GuiApp.h"
#endif
#include "sim/run/SimRunner.h"

namespace {

int usage() {
    std::cerr << "usage: raid-gui-sim [--headless [--real-time]] [--scenario FILE] [--trace FILE]\n"
                 "                    [--until SECONDS] [--latency-us N] [--log-dir DIR]\n"
                 "                    [--start YYYY-MM-DDTHH:MM:SS]\n";
    return 2;
}

bool parseNumber(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end && *end == 0 && end != text && out >= 0;
}

#ifdef RAID_WITH_WINDOW
// The window on the simulated machine, in real time. The scenario is checked before
// the window opens, so a refused one ends the program with its message.
int runWithWindow(int argc, char** argv, raid::sim::RunOptions options) {
    options.virtualTime = false;
    {
        raid::sim::SimRunner check(options, nullptr);
        std::string error;
        if (!check.load(error)) {
            std::cerr << error << '\n';
            return 2;
        }
    }
    std::unique_ptr<raid::sim::SimRunner> runner;
    std::string error;
    raid::EngineHost host(raid::makeRealScheduler(),
                          [&](raid::Scheduler& scheduler, raid::Controls& controls, raid::DialogPort& dialogs) {
                              runner = std::make_unique<raid::sim::SimRunner>(options, nullptr, scheduler, controls,
                                                                              dialogs);
                              return runner->buildForm(error);
                          });
    host.onCreated = [&](raid::MainForm&) { runner->afterCreate(); };
    const int rc = raid::gui::runWindow(argc, argv, host);
    host.stop();
    runner.reset();
    return rc;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    raid::sim::RunOptions options;
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](double& out) {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], out)) return false;
            ++i;
            return true;
        };
        if (arg == "--headless") {
            headless = true;
        } else if (arg == "--log-dir" && i + 1 < argc) {
            options.logDir = argv[++i];
        } else if (arg == "--start" && i + 1 < argc) {
            if (!raid::sim::parseStartTime(argv[++i], options.startWallSeconds)) return usage();
        } else if (arg == "--real-time") {
            options.virtualTime = false;
        } else if (arg == "--scenario" && i + 1 < argc) {
            options.scenarioPath = argv[++i];
        } else if (arg == "--trace" && i + 1 < argc) {
            options.tracePath = argv[++i];
        } else if (arg == "--until") {
            if (!value(options.untilSeconds)) return usage();
        } else if (arg == "--latency-us") {
            double us = 0;
            if (!value(us)) return usage();
            options.latencyUs = static_cast<std::int64_t>(us);
        } else {
            return usage();
        }
    }

    // Like the real program, the day logs go beside the executable unless told
    // otherwise; when that folder is read-only they go to the user's state folder.
    if (options.logDir.empty()) {
        std::error_code ec;
        const auto exe = std::filesystem::weakly_canonical(std::filesystem::absolute(argv[0], ec), ec);
        options.logDir = ec ? std::string(".") : exe.parent_path().string();
    }
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    options.fallbackLogDir = raid::fallbackLogFolder(state ? state : "", home ? home : "");

#ifdef RAID_WITH_WINDOW
    if (!headless) return runWithWindow(argc, argv, options);
#else
    (void)headless;  // built without the window: every run is headless
#endif

    raid::sim::SimRunner runner(options, &std::cout);
    std::string error;
    if (!runner.load(error)) {
        std::cerr << error << '\n';
        return 2;
    }
    if (!runner.start(error)) {
        std::cerr << error << '\n';
        return 2;
    }
    // The end of the desktop session reaches a headless run as a signal.
    std::signal(SIGTERM, [](int) { raid::sim::SimRunner::sessionEndSignal = true; });
    std::signal(SIGHUP, [](int) { raid::sim::SimRunner::sessionEndSignal = true; });
    runner.run();
    return 0;
}

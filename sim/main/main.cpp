// raid-gui-sim: the application on simulated enclosures.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/FileStore.h"
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
    (void)headless;  // the window arrives with the Qt front end; until then every run is headless

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

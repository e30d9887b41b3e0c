// raid-gui-sim: the application on simulated enclosures.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/FileStore.h"
#include "platform/Platform.h"
#ifdef RAID_WITH_WINDOW
#include "app/EngineHost.h"
#ifdef RAID_WIN32_WINDOW
#include "gui-win32/WinApp.h"
#else
#include "gui/GuiApp.h"
#endif
#endif
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "app/StatusCheck.h"
#include "sim/run/SimRunner.h"

namespace {

int usage() {
    std::cerr << "usage: raid-gui-sim [--headless [--real-time]] [--scenario FILE] [--trace FILE]\n"
                 "                    [--until SECONDS] [--latency-us N] [--log-dir DIR]\n"
                 "                    [--start YYYY-MM-DDTHH:MM:SS] [--settings FILE]\n"
                 "                    [--dump-flash N FILE] [--lock-dir DIR]\n"
                 "       raid-gui-sim --status [--json] [--scenario FILE] [--trace FILE] [--log-dir DIR] ...\n"
                 "       raid-gui-sim --write-image FILE SUBCODES\n";
    return 2;
}

// A plain non-negative number up to `max` (no inf, nan or overflow).
bool parseNumber(const char* text, double max, double& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text, &end);
    return end && *end == 0 && end != text && errno == 0 && std::isfinite(out) && out >= 0 && out <= max;
}

// Ten years of virtual time, and an hour for one request: far beyond any useful run,
// and well inside what the clocks' microseconds can count.
constexpr double kMaxUntilSeconds = 10.0 * 365 * 86400;
constexpr double kMaxLatencyUs = 3600.0 * 1e6;

// Each line of `what` is one message of the program.
int refuse(const std::string& what) {
    std::size_t at = 0;
    do {
        const std::size_t end = std::min(what.find('\n', at), what.size());
        std::cerr << "raid-gui-sim: " << what.substr(at, end - at) << '\n';
        at = end + 1;
    } while (at < what.size());
    return 2;
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
        if (!options.tracePath.empty() && !std::ofstream(options.tracePath, std::ios::app))
            return refuse(options.tracePath + ": cannot write the trace file");
    }
    std::unique_ptr<raid::sim::SimRunner> runner;
    std::string error;
    raid::EngineHost host(raid::makeRealScheduler(),
                          [&](raid::Scheduler& scheduler, raid::Controls& controls, raid::DialogPort& dialogs) {
                              runner = std::make_unique<raid::sim::SimRunner>(options, nullptr, scheduler, controls,
                                                                              dialogs);
                              return runner->buildForm(error);
                          });
    host.onCreated = [&](raid::MainForm& form) {
        runner->afterCreate();
        // The window closes itself at --until, the way the user's close button would.
        raid::Scheduler& sched = host.scheduler();
        const auto end = sched.addTimer(1000, [&form] { form.CloseRequest(); });
        sched.setTimerDue(end, static_cast<std::int64_t>(options.untilSeconds * 1e6));
    };
#ifdef RAID_WIN32_WINDOW
    (void)argc;
    (void)argv;
    int rc = raid::win::runWindow(host);
#else
    int rc = raid::gui::runWindow(argc, argv, host);
#endif
    host.stop();
    if (!host.eventLogLoss().empty()) rc = refuse(host.eventLogLoss());
    if (!runner->finish(error)) rc = refuse(error);
    runner.reset();
    return rc;
}
#endif

}  // namespace

// A sample firmware image for the Upgrade page and the `upgrade` step: SUBCODES
// sub-codes (types 0x31 on) in the slots from 0xC000. Up to four make a sub-code
// update, five or more a full upgrade.
int writeImage(int argc, char** argv) {
    double count = 0;
    if (argc != 4 || argv[2][0] == 0 || !parseNumber(argv[3], 9, count) || count < 1 || count != std::floor(count))
        return refuse("--write-image takes a file and a number of sub-codes from 1 to 9");
    raid::sim::FirmwareImageOptions o;
    o.subCodes.assign(static_cast<std::size_t>(count), raid::sim::SubCodeOptions{});
    for (std::size_t i = 0; i < o.subCodes.size(); ++i) o.subCodes[i].codeType = static_cast<std::uint8_t>(0x31 + i);
    if (!raid::sim::writeFlashFile(argv[2], raid::sim::makeFirmwareImage(o)))
        return refuse(std::string(argv[2]) + ": cannot write the image");
    return 0;
}

// One look at the simulated enclosures, as raid-gui-monitor --status takes one at the
// real ones: the summary on standard output, exit 0 healthy, 1 degraded, 2 none found or
// unreadable.
int statusCheck(raid::sim::RunOptions options, bool json) {
    raid::sim::SimRunner runner(options, nullptr);
    std::string error;
    std::unique_ptr<raid::MainForm> form = runner.load(error) ? runner.buildForm(error) : nullptr;
    if (!form) {
        std::cerr << error << '\n';
        return 2;
    }
    form->AnnounceToEnclosure = false;
    form->MailAlerts = false;
    const raid::StatusSummary summary = raid::runStatusCheck(*form, 120'000'000, {}, [&runner] { runner.afterCreate(); });
    runner.scheduler().quit();
    runner.scheduler().joinWorkers();
    form.reset();
    if (!runner.finish(error)) return refuse(error);
    std::cout << (json ? raid::statusJson(summary) : raid::statusText(summary)) << std::flush;
    return summary.exitCode();
}

namespace {
int programMain(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--write-image") == 0) return writeImage(argc, argv);
    raid::sim::RunOptions options;
    bool headless = false;
    bool status = false, json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](double max, double& out) {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], max, out)) return false;
            ++i;
            return true;
        };
        // A folder or file option needs a non-empty value.
        auto text = [&](std::string& out) {
            if (i + 1 >= argc || argv[i + 1][0] == 0) return false;
            out = argv[++i];
            return true;
        };
        if (arg == "--headless") {
            headless = true;
        } else if (arg == "--status") {
            status = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--lock-dir") {
            if (!text(options.lockDir)) return refuse("--lock-dir needs a folder");
        } else if (arg == "--log-dir") {
            if (!text(options.logDir)) return refuse("--log-dir needs a folder");
        } else if (arg == "--start" && i + 1 < argc) {
            if (!raid::sim::parseStartTime(argv[++i], options.startWallSeconds) || options.startWallSeconds < 0)
                return refuse("--start takes YYYY-MM-DDTHH:MM:SS from 1970-01-01T00:00:00 UTC on");
        } else if (arg == "--real-time") {
            options.virtualTime = false;
        } else if (arg == "--scenario") {
            if (!text(options.scenarioPath)) return refuse("--scenario needs a file");
        } else if (arg == "--settings") {
            if (!text(options.settingsPath)) return refuse("--settings needs a file");
        } else if (arg == "--trace") {
            if (!text(options.tracePath)) return refuse("--trace needs a file");
        } else if (arg == "--dump-flash") {
            double n = 0;
            if (!value(9, n) || n != std::floor(n)) return refuse("--dump-flash takes a drive number from 0 to 9 and a file");
            options.dumpFlashDrive = static_cast<int>(n);
            if (!text(options.dumpFlashPath)) return refuse("--dump-flash takes a drive number from 0 to 9 and a file");
        } else if (arg == "--until") {
            if (!value(kMaxUntilSeconds, options.untilSeconds))
                return refuse("--until takes seconds from 0 to " + std::to_string(static_cast<long long>(kMaxUntilSeconds)));
        } else if (arg == "--latency-us") {
            double us = 0;
            if (!value(kMaxLatencyUs, us))
                return refuse("--latency-us takes microseconds from 0 to " + std::to_string(static_cast<long long>(kMaxLatencyUs)));
            options.latencyUs = static_cast<std::int64_t>(us);
        } else {
            return usage();
        }
    }

    // Like the real program, the day logs go beside the executable unless told
    // otherwise; when that folder is read-only they go to the user's state folder.
    const raid::LogFolders folders = raid::defaultLogFolders(argc > 0 ? argv[0] : nullptr);
    if (options.logDir.empty()) options.logDir = folders.log;
    options.fallbackLogDir = folders.fallback;
    // The simulator keeps its own settings, apart from the real program's.
    if (options.settingsPath.empty()) options.settingsPath = raid::userSettingsFile("raid-gui-sim");

    if (json && !status) return refuse("--json goes with --status");
    if (status) return statusCheck(options, json);

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
    // The end of the desktop session reaches a headless run as a signal; Ctrl-C in its
    // terminal is the same request (refused during an upgrade, like the others). A
    // SIGINT ignored from the start (a background job) stays ignored.
    const auto sessionEnd = [](int) { raid::sim::SimRunner::sessionEndSignal = true; };
    std::signal(SIGTERM, sessionEnd);
#ifdef SIGHUP
    std::signal(SIGHUP, sessionEnd);
#endif
    if (std::signal(SIGINT, sessionEnd) == SIG_IGN) std::signal(SIGINT, SIG_IGN);
    runner.run();
    // A run whose trace or output could not be written has not done what was asked.
    if (!runner.finish(error)) return refuse(error);
    std::cout.flush();
    if (!std::cout) return refuse("cannot write the output");
    return 0;
}
}  // namespace

int main(int argc, char** argv) { return raid::withProgramArguments(argc, argv, programMain); }

// The window on the simulated default machine (a system disk and one RAID1
// enclosure), run through runWindow exactly as a program does. Prints "engine
// started" once the engine thread builds its form (by then the window exists and the
// session-end signals are handled) and "detected" when the first detection pass has
// been published. With --history-chart the history chart window opens on 7 days of a
// made-up failing fan once the enclosure is detected (the README's picture of it).
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui/GuiApp.h"
#include "platform/Scheduler.h"
#include "sim/Scenario.h"
#include "sim/SimPlatform.h"
#include "sim/run/SyntheticHistory.h"

int main(int argc, char** argv) {
    raid::sim::SimPlatform platform;
    for (const raid::sim::ScenarioStep& step : raid::sim::defaultScenario().steps)
        if (step.seconds <= 0) raid::sim::applyStep(platform, step);

    // The day logs of this run are thrown away with it.
    QTemporaryDir logs;
    const std::string logFolder = logs.path().toStdString();
    bool historyChart = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--history-chart") == 0) historyChart = true;
    int rc = 0;
    {
        raid::EngineHost host(raid::makeRealScheduler(),
                              [&](raid::Scheduler& s, raid::Controls& c, raid::DialogPort& d) {
                                  raid::Ports ports{.scheduler = s,
                                                    .storage = platform,
                                                    .volumes = platform,
                                                    .dialogs = d,
                                                    .deviceChanges = nullptr,
                                                    .hostInfo = nullptr,
                                                    .files = nullptr,
                                                    .logFolder = logFolder,
                                                    .fallbackLogFolder = logFolder};
                                  auto form = std::make_unique<raid::MainForm>(ports, c);
                                  // Bounded: nothing in this machine answers slowly.
                                  form->sessionEndWaitUs = 2'000'000;
                                  std::printf("engine started\n");
                                  std::fflush(stdout);
                                  return form;
                              });
        raid::sim::FakeHistorySource history(
            [&host](std::function<void()> fn) { host.post([fn = std::move(fn)](raid::MainForm&) { fn(); }); },
            raid::sim::fanFailureHistory(static_cast<double>(std::time(nullptr))));
        if (historyChart) host.historySource = &history;
        bool opened = false;
        host.controls().addListener([&](const raid::ControlChange& change) {
            if (change.control == raid::panelName(1) && change.state.text == "Detected OK") {
                std::printf("detected\n");
                std::fflush(stdout);
                if (historyChart && !opened) {
                    opened = true;
                    host.post([](raid::MainForm& f) {
                        f.Click(raid::names::Panel11);
                        f.HistoryRangeClick(raid::HistoryRange::Week);
                    });
                }
            }
        });
        rc = raid::gui::runWindow(argc, argv, host);
        host.stop();
    }
    std::printf("exited %d\n", rc);
    return rc;
}

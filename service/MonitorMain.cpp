#include "service/MonitorMain.h"

#include <atomic>
#include <iostream>

#include "platform/Platform.h"

namespace raid::service {

int monitorMain(const std::string& program, const std::vector<std::string>& args,
                const std::function<std::unique_ptr<MonitorMachine>()>& makeMachine) {
    MonitorOptions options;
    std::string error;
    if (!parseMonitorOptions(args, options, error)) {
        std::cerr << program << ": " << error << '\n' << monitorUsage(program);
        return 2;
    }
    // A watching run ends on SIGTERM or SIGINT as a session end does: the enclosure is
    // told. SIGHUP reads the settings file again, as daemons do (systemctl reload). The
    // watch starts before any other thread, so that every thread inherits the blocked
    // signals. The one-shot uses keep the signals' usual meaning.
    std::atomic<Monitor*> target{nullptr};
    std::unique_ptr<EndWatch> signals;
    if (options.mode == MonitorOptions::Mode::Watch) {
        signals = watchEndSignals([&target](EndSignal signal) {
            Monitor* m = target.load();
            if (!m) return;
            if (signal == EndSignal::reload)
                m->reload();
            else
                m->stop();
        });
        if (!signals) std::cerr << program << ": cannot watch for SIGTERM; it will end the program at once\n";
    }
    const std::unique_ptr<MonitorMachine> machine = makeMachine();
    Monitor monitor(*machine, std::cout, std::cerr);
    target = &monitor;
    const int rc = monitor.run(options);
    target = nullptr;
    return rc;
}

}  // namespace raid::service

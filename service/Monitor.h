// raid-gui-monitor: the engine of the window, without a window, for machines nobody
// sits at. One program, four uses:
//
//   raid-gui-monitor [--log-dir DIR] [--settings FILE] [--bus ADDRESS]
//                                                        watch, publish and mail until SIGTERM;
//                                                        SIGHUP reads the settings again
//   raid-gui-monitor --status [--json]                   one look, exit 0/1/2
//   raid-gui-monitor --history [--json]                  the stored history of the enclosures
//   raid-gui-monitor --set key=value ...                 save the mail settings
//   raid-gui-monitor --set alert-command=PATH            (root) the program run on alerts
//   raid-gui-monitor --test-mail                         send the test mail
//                    (both through a running service when one owns the bus name:
//                    it checks the caller with polkit and uses the change at once)
//
// Every user-visible output of a watching run is one line on standard output in the
// form of raid-gui-sim --headless (the journal takes it); alerts are also one line on
// standard error. The machine the engine runs on - the real drives, or the simulated
// enclosures of raid-gui-monitor-sim - is given by the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "app/MainForm.h"
#include "platform/HostInfo.h"
#include "platform/Platform.h"
#include "platform/Scheduler.h"
#include "platform/SettingsPort.h"
#include "platform/TcpPort.h"
#include "notify/EmailSettingsWords.h"
#if RAID_HAVE_BUS
#include "service/bus/Authority.h"
#include "service/bus/MailClient.h"

typedef struct sd_bus sd_bus;
#endif

namespace raid::service {

struct MonitorOptions {
    enum class Mode { Watch, Status, Set, TestMail, History, Help };
    Mode mode = Mode::Watch;
    bool json = false;
    std::string logDir = machineLogFolder();
    std::string settingsPath;  // empty: the machine's settings file
    std::vector<std::string> setWords;
    // The bus a watching run publishes on, or --set / --test-mail look for a running
    // service on ("unix:path=..."); empty: the machine's choice (the system bus for the
    // real drives, none for simulated ones).
    std::string busAddress;
    // Where a watching run leaves its metrics for Prometheus' node exporter (its
    // textfile collector's folder); empty: none.
    std::string metricsFolder;
};

// False with `error` for a command line that asks for nothing sensible.
bool parseMonitorOptions(const std::vector<std::string>& args, MonitorOptions& out, std::string& error);
std::string monitorUsage(const std::string& program);

// What differs between the real machine and a simulated one.
class MonitorMachine {
public:
    virtual ~MonitorMachine() = default;
    // The form on the machine's drives, its day logs in `logDir`; null with `error`.
    virtual std::unique_ptr<MainForm> makeForm(Scheduler& scheduler, Controls& controls, DialogPort& dialogs,
                                               const MonitorOptions& options, std::string& error) = 0;
    // After FormCreate (a simulated machine schedules its scenario here).
    virtual void created(MainForm&) {}
    // Physical drive n for people ("/dev/sdb").
    virtual std::string driveName(int n) const { return "PhysicalDrive" + std::to_string(n); }
    // After the run: false with `error` when something the machine kept could not be written.
    virtual bool finish(std::string&) { return true; }
    // The mail settings file when none is named.
    virtual std::string defaultSettingsPath() const = 0;
    virtual TcpPort* tcp() = 0;
    virtual HostInfoPort* hostInfo() { return nullptr; }
    // Where a watching run leaves its last summary for --status (the lock folder); ""
    // for none.
    virtual std::string statusFolder() const { return {}; }
    // Whether a watching run publishes on the system bus when no --bus is given.
    virtual bool publishesOnSystemBus() const { return false; }
    // How long the owner's alert program may run before it is ended.
    virtual std::chrono::milliseconds alertProgramLimit() const { return std::chrono::seconds(30); }
    // Where the metrics go when neither --metrics nor the settings say.
    virtual std::string defaultMetricsFolder() const { return {}; }
#if RAID_HAVE_BUS
    // The authority the bus methods ask (fails closed).
    virtual std::unique_ptr<bus::Authority> makeAuthority(sd_bus* bus);
#endif
};

// The whole program after its own options: returns the exit status. `out` and `err`
// are standard output and standard error (tests pass streams of their own). A watching
// run ends when `stop` is called from any thread (the signal watch calls it).
class Monitor {
public:
    Monitor(MonitorMachine& machine, std::ostream& out, std::ostream& err) : machine_(machine), out_(out), err_(err) {}
    int run(const MonitorOptions& options);
    // Thread-safe: asks a watching run to end as a session end does.
    void stop();
    // Thread-safe: asks a watching run to read its settings file again (SIGHUP). The
    // next mail uses what it holds; a file with any problem leaves the settings in use
    // as they were, and the run says so.
    void reload();

private:
    int watch(const MonitorOptions& options);
    int status(const MonitorOptions& options);
    int set(const MonitorOptions& options);
    int testMail(const MonitorOptions& options);
    int history(const MonitorOptions& options);
#if RAID_HAVE_BUS
    // Whether --set / --test-mail go to a running service (connected in `client`).
    bool throughService(const MonitorOptions& options, bus::MailClient& client);
    int setThroughService(bus::MailClient& client, const EmailSettingsWords& words);
    int testMailThroughService(bus::MailClient& client);
#endif
    void reloadSettings(MainForm& form);
    // The metrics folder from the settings (or the machine's default) again, unless the
    // command line named one. Engine thread.
    void reloadMetricsFolder();
    std::string hostName();

    MonitorMachine& machine_;
    std::ostream& out_;
    std::ostream& err_;
    std::mutex mu_;
    // The watching run's metrics folder ("" none) and whether the command line fixed it;
    // engine thread only.
    std::string metricsFolder_;
    bool metricsFromCommandLine_ = false;
    Scheduler* running_ = nullptr;  // the watching run's scheduler, while it runs
    MainForm* form_ = nullptr;
    bool stopAsked_ = false;
    bool reloadAsked_ = false;  // a reload asked for before the watch ran
    std::string settingsPath_;  // the watching run's settings file
};

}  // namespace raid::service

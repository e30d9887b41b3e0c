#include "service/Monitor.h"

#include <chrono>
#include <memory>
#include <optional>

#include "app/MailOperations.h"
#include "platform/Platform.h"
#include "app/HeadlessOutput.h"
#include "app/StatusCheck.h"
#include "monitor/HistoryReport.h"
#include "monitor/HistoryStore.h"
#include "monitor/Metrics.h"
#include "monitor/StatusRecord.h"
#include "monitor/TimeFormat.h"
#include "notify/AlertMail.h"
#include "notify/EmailSettingsWords.h"
#include "service/AlertProgramRunner.h"
#include "service/MetricsSetting.h"
#include "service/RootSettings.h"
#include "service/StatusFiles.h"
#if RAID_HAVE_BUS
#include "service/BusBridge.h"
#include "service/bus/ServiceAuthority.h"
#endif
#include "platform/NoDevices.h"
#include "platform/ProgramRun.h"
#include "platform/StoragePort.h"
#include "platform/VolumePort.h"

namespace raid::service {

namespace {

// Longest one look at the enclosures may take: a detection pass and one poll, with a
// device that answers every command only at its timeout.
constexpr std::int64_t kStatusTimeoutUs = 120'000'000;
// A summary the service left is taken while it is younger than three polls.
constexpr double kSavedStatusAgeSeconds = 13;

}  // namespace

bool parseMonitorOptions(const std::vector<std::string>& args, MonitorOptions& out, std::string& error) {
    out = MonitorOptions{};
    bool modeGiven = false;
    auto setMode = [&](MonitorOptions::Mode m) {
        if (modeGiven && out.mode != m) {
            error = "--status, --history, --set and --test-mail are used one at a time";
            return false;
        }
        modeGiven = true;
        out.mode = m;
        return true;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into, const char* what) {
            // "--settings --status" means a forgotten file, not a file named "--status".
            if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].rfind("--", 0) == 0) {
                error = a + " needs " + what;
                return false;
            }
            into = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            out.mode = MonitorOptions::Mode::Help;
            return true;
        } else if (a == "--status") {
            if (!setMode(MonitorOptions::Mode::Status)) return false;
        } else if (a == "--history") {
            if (!setMode(MonitorOptions::Mode::History)) return false;
        } else if (a == "--json") {
            out.json = true;
        } else if (a == "--test-mail") {
            if (!setMode(MonitorOptions::Mode::TestMail)) return false;
        } else if (a == "--set") {
            if (!setMode(MonitorOptions::Mode::Set)) return false;
            // Every word after it that is no option is a setting.
            while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) out.setWords.push_back(args[++i]);
        } else if (a == "--log-dir") {
            if (!value(out.logDir, "a folder")) return false;
        } else if (a == "--settings") {
            if (!value(out.settingsPath, "a file")) return false;
        } else if (a == "--metrics") {
            if (!value(out.metricsFolder, "a folder")) return false;
        } else if (a == "--bus") {
            if (!value(out.busAddress, "a bus address")) return false;
        } else {
            error = "unknown option '" + a + "'";
            return false;
        }
    }
    if (out.json && out.mode != MonitorOptions::Mode::Status && out.mode != MonitorOptions::Mode::History) {
        error = "--json goes with --status or --history";
        return false;
    }
    if (!out.busAddress.empty() && out.mode != MonitorOptions::Mode::Watch && out.mode != MonitorOptions::Mode::Set &&
        out.mode != MonitorOptions::Mode::TestMail) {
        error = "--bus goes with a watching run, --set or --test-mail";
        return false;
    }
    if (!out.metricsFolder.empty() && out.mode != MonitorOptions::Mode::Watch) {
        error = "--metrics goes with a watching run";
        return false;
    }
    if (out.mode == MonitorOptions::Mode::Set && out.setWords.empty()) {
        error = "--set takes key=value words";
        return false;
    }
    return true;
}

std::string monitorUsage(const std::string& program) {
#if RAID_HAVE_BUS
    return "usage: " + program + " [--log-dir DIR] [--settings FILE] [--bus ADDRESS] [--metrics DIR]\n"
           "       " + program + " --status [--json] [--log-dir DIR] [--settings FILE]\n"
           "       " + program + " --history [--json] [--log-dir DIR]\n"
           "       " + program + " --set key=value ... [--settings FILE | --bus ADDRESS]\n"
           "       " + program + " --test-mail [--settings FILE | --bus ADDRESS]\n"
#else
    return "usage: " + program + " [--log-dir DIR] [--settings FILE] [--metrics DIR]\n"
           "       " + program + " --status [--json] [--log-dir DIR] [--settings FILE]\n"
           "       " + program + " --history [--json] [--log-dir DIR]\n"
           "       " + program + " --set key=value ... [--settings FILE]\n"
           "       " + program + " --test-mail [--settings FILE]\n"
#endif
           "Keys of --set: host port name addr timeout login password login-name to (repeat it: the\n"
           "list becomes these addresses) security (none, starttls, tls) subject1 contents1 subject2\n"
           "contents2 nomail1 nomail2; login and nomail take on or off. alert-command=PATH (root only,\n"
           "on its own) names the program run for every alert; alert-command= runs none.\n"
           "metrics-folder=DIR (root only, on its own) is where a watching run without --metrics\n"
           "writes raid-gui.prom; metrics-folder= writes none.\n"
#if RAID_HAVE_BUS
           "Without --settings, --set and --test-mail go to the running service when there is one.\n"
#else
           "Without --settings, the settings are the registry's (HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI).\n"
#endif
        ;
}

#if RAID_HAVE_BUS
std::unique_ptr<bus::Authority> MonitorMachine::makeAuthority(sd_bus* bus) { return bus::makeServiceAuthority(bus); }
#endif

int Monitor::run(const MonitorOptions& options) {
    switch (options.mode) {
        case MonitorOptions::Mode::Help: out_ << monitorUsage("raid-gui-monitor"); return 0;
        case MonitorOptions::Mode::Status: return status(options);
        case MonitorOptions::Mode::Set: return set(options);
        case MonitorOptions::Mode::TestMail: return testMail(options);
        case MonitorOptions::Mode::History: return history(options);
        case MonitorOptions::Mode::Watch: break;
    }
    return watch(options);
}

void Monitor::stop() {
    std::lock_guard<std::mutex> lock(mu_);
    stopAsked_ = true;
    if (!running_) return;
    MainForm* form = form_;
    // The end is the engine's own work: the enclosure is told, then the loop ends.
    running_->post([form] { form->QueryEndSession(); });
}

void Monitor::reload() {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopAsked_) return;
    // Asked while the watch is still starting: done as soon as it runs, not dropped.
    if (!running_) {
        reloadAsked_ = true;
        return;
    }
    MainForm* form = form_;
    running_->post([this, form] { reloadSettings(*form); });
}

void Monitor::reloadSettings(MainForm& form) {
    // The file is read whole into settings of their own first: the ones in use are
    // replaced only by a file read without a problem, so that an edit half done or a
    // typing error never leaves alerts without recipients or sends them somewhere else.
    const std::unique_ptr<SettingsPort> file = openSettings(settingsPath_);
    std::vector<std::string> problems;
    SettingsStore store(*file, form.files(), [&problems](const std::string& p) { problems.push_back(p); });
    NotificationSettings fresh;
    if (!store.startUp(fresh, settingsTextFolder(settingsPath_)) && problems.empty())
        problems.push_back("it holds no settings");
    if (problems.empty()) store.load(fresh, [&form] { form.scheduler().processPending(); });
    // Clean: the form's own store reads the file again (it holds what it read at the
    // start and at its own saves, and each mail loads the settings from it). Changed
    // for the worse since the look above, it keeps what it held.
    if (problems.empty()) problems = form.settingsStore().port().reread();
    if (!problems.empty()) {
        std::string text;
        for (const auto& p : problems) text += (text.empty() ? "" : "; ") + p;
        err_ << "raid-gui-monitor: the settings were not reloaded from " << settingsPath_ << ": "
             << escapeText(text) << "; the settings in use stay" << std::endl;
        return;
    }
    form.LoadNotificationSettings();
    reloadMetricsFolder();
    out_ << "raid-gui-monitor: settings reloaded from " << settingsPath_ << std::endl;
}

void Monitor::reloadMetricsFolder() {
    if (metricsFromCommandLine_) return;
    std::string problem;
    const std::string now = metricsFolderInUse("", settingsPath_, machine_.defaultMetricsFolder(), problem);
    if (!problem.empty())
        err_ << "raid-gui-monitor: " << escapeText(problem) << "; the metrics go to "
             << (now.empty() ? "no folder" : escapeText(now)) << std::endl;
    if (now == metricsFolder_) return;
    // The file in the folder left would be read as the enclosures' state for ever.
    if (!metricsFolder_.empty()) removeMetricsFile(metricsFolder_);
    metricsFolder_ = now;
}

std::string Monitor::hostName() {
    const std::string name = machine_.hostInfo() ? machine_.hostInfo()->query("Win32_Bus", "SystemName") : "";
    return name.empty() ? machineHostName() : name;
}

int Monitor::watch(const MonitorOptions& options) {
    settingsPath_ = options.settingsPath.empty() ? machine_.defaultSettingsPath() : options.settingsPath;
    std::unique_ptr<Scheduler> scheduler = makeRealScheduler();
    Controls controls;
    // A service runs for months: its lines go to the journal and are not kept.
    HeadlessOutput output(*scheduler, &out_, &err_, false);
    output.watchControls(controls);
    std::string error;
    std::unique_ptr<MainForm> form = machine_.makeForm(*scheduler, controls, output, options, error);
    if (!form) {
        err_ << "raid-gui-monitor: " << error << '\n';
        return 2;
    }
    output.watchForm(*form);
    Scheduler* sched = scheduler.get();
    form->onQuit = [sched] { sched->quit(); };
    scheduler->setExceptionHandler([&output](const std::string& what) { output.output("Exception", what); });
    scheduler->adoptCurrentThread();
    form->FormCreate();
    machine_.created(*form);
    // After each poll the summary goes to the status files, for --status while this
    // run owns the enclosures.
    const std::string folder = machine_.statusFolder();
    unsigned savedPoll = 0;
    std::string statusProblem;  // told once, and again only when it changes
    // And to the metrics file, with the count of failed mail attempts the form reports
    // (on the engine thread, like the timer that reads it).
    metricsFromCommandLine_ = !options.metricsFolder.empty();
    metricsFolder_ = options.metricsFolder;
    reloadMetricsFolder();
    std::string metricsProblem;
    const auto mailFailures = std::make_shared<std::uint64_t>(0);
    form->onMail = [mailFailures, shown = form->onMail](const OutgoingMail& mail, const SmtpResult& result, bool retry) {
        if (!result.sent) ++*mailFailures;
        if (shown) shown(mail, result, retry);
    };
    MainForm* f = form.get();
    // The owner's program for every raised alert, on the runner's own thread; its
    // outcome comes back here for the day log.
    auto alertPrograms = std::make_unique<AlertProgramRunner>(
        [sched, f](const std::string& line) {
            sched->post([f, line] {
                f->eventLog().addLine(line + ", " + formatDateTimeC(f->scheduler().wallSeconds()));
                f->eventLog().save();
            });
        },
        machine_.alertProgramLimit());
    runProgramOnAlerts(*form, *alertPrograms, settingsPath_, hostName());
    const MonitorMachine& machine = machine_;
    const auto saver = scheduler->addTimer(1000, [&, f] {
        if (f->PollsDone == savedPoll) return;
        savedPoll = f->PollsDone;
        StatusSummary s = summarizeStatus(f->dev, f->LastPollMask, [&machine](int n) { return machine.driveName(n); });
        addTimeLeft(s, [f](int i) { return f->decoder().timeLeft(i).estimate(); });
        s.notes.push_back("Reported by the running raid-gui-monitor at its last poll.");
        if (HistoryRecorder* rec = f->historyRecorder()) rec->fillStats(s, f->scheduler().wallSeconds());
        if (!metricsFolder_.empty()) {
            const std::string problem = writeMetricsFile(metricsFolder_, metricsText(s, *mailFailures));
            if (!problem.empty() && problem != metricsProblem)
                err_ << "raid-gui-monitor: no metrics file: " << problem << std::endl;
            metricsProblem = problem;
        }
        if (folder.empty()) return;
        const std::string problem = writeStatusFiles(folder, s);
        if (!problem.empty() && problem != statusProblem)
            err_ << "raid-gui-monitor: no status files for --status: " << problem << std::endl;
        statusProblem = problem;
    });
    // On also without a folder: a reload may name a metrics folder.
    scheduler->setTimerEnabled(saver, true);
#if RAID_HAVE_BUS
    // The system bus: the enclosures, the day log, alerts and mail outcomes for the
    // windows and scripts. A service that cannot take its name says why and goes on
    // watching: the journal and the alert mails still work without the bus.
    std::unique_ptr<EngineDayLogs> dayLogs;
    std::unique_ptr<bus::BusService> busService;
    std::unique_ptr<BusPublisher> publisher;
    if (!options.busAddress.empty() || machine_.publishesOnSystemBus()) {
        dayLogs = std::make_unique<EngineDayLogs>(*scheduler, *form);
        MonitorMachine* m = &machine_;
        busService = std::make_unique<bus::BusService>(*dayLogs, [m](sd_bus* b) { return m->makeAuthority(b); });
        std::string busProblem;
        if (busService->start(options.busAddress, busProblem)) {
            publisher = std::make_unique<BusPublisher>(*form, *busService,
                                                       [&machine](int n) { return machine.driveName(n); });
            BusPublisher* p = publisher.get();
            const auto ticker = scheduler->addTimer(250, [p] { p->tick(); });
            scheduler->setTimerEnabled(ticker, true);
        } else {
            err_ << "raid-gui-monitor: not on the bus: " << busProblem << "; watching goes on without it" << std::endl;
            busService.reset();
        }
    }
#else
    // Windows has no system bus: the window there is the one program on the enclosures.
    if (!options.busAddress.empty()) err_ << "raid-gui-monitor: --bus: there is no system bus here; watching goes on without it" << std::endl;
#endif
    {
        std::lock_guard<std::mutex> lock(mu_);
        running_ = sched;
        form_ = form.get();
        if (stopAsked_) sched->post([f = form.get()] { f->QueryEndSession(); });
        else if (reloadAsked_) sched->post([this, f = form.get()] { reloadSettings(*f); });
        reloadAsked_ = false;
    }
    scheduler->run();
    {
        std::lock_guard<std::mutex> lock(mu_);
        running_ = nullptr;
        form_ = nullptr;
    }
    // No alert comes any more; a program still running is ended with the service.
    alertPrograms.reset();
#if RAID_HAVE_BUS
    // The bus thread ends before the engine it posts to; the form's watchers no longer
    // hand anything over.
    publisher.reset();
    busService.reset();
#endif
    removeStatusFiles(folder);
    removeMetricsFile(metricsFolder_);
    scheduler->quit();
    scheduler->joinWorkers();
    // Day log lines that never reached a disk get one more try (the fallback folder is
    // the service's state folder); what is still lost is said, and the run failed.
    const std::string lost = form->eventLog().saveAtExit();
    form.reset();
    int rc = 0;
    if (!lost.empty()) {
        err_ << "raid-gui-monitor: " << lost << '\n';
        rc = 2;
    }
    if (!machine_.finish(error)) {
        err_ << "raid-gui-monitor: " << error << '\n';
        rc = 2;
    }
    out_.flush();
    if (!output.written()) rc = 2;
    return rc;
}

int Monitor::status(const MonitorOptions& options) {
    std::unique_ptr<Scheduler> scheduler = makeRealScheduler();
    Controls controls;
    // The engine's own lines are not the answer; what matters of them becomes notes.
    HeadlessOutput output(*scheduler, nullptr, nullptr, false);
    std::string error;
    std::unique_ptr<MainForm> form = machine_.makeForm(*scheduler, controls, output, options, error);
    if (!form) {
        err_ << "raid-gui-monitor: " << error << '\n';
        return 2;
    }
    form->AnnounceToEnclosure = false;
    form->MailAlerts = false;
    // One look reads the history for its last-24-hours figures but adds no sample.
    if (HistoryRecorder* rec = form->historyRecorder()) rec->writing = false;
    const MonitorMachine& machine = machine_;
    MainForm* f = form.get();
    StatusSummary summary = runStatusCheck(
        *form, kStatusTimeoutUs, [&machine](int n) { return machine.driveName(n); }, [this, f] { machine_.created(*f); });
    if (HistoryRecorder* rec = form->historyRecorder()) rec->fillStats(summary, form->scheduler().wallSeconds());
    // Drives another program holds, or whose locks this user may not take, were not
    // looked at, and a user without the rights to the drives sees none: the service's
    // last summary (readable by everybody) answers instead, when there is a fresh one.
    const Discovery& looked = form->discovery();
    const bool someBusy = looked.BusyDrives != 0 || looked.RefusedDrives != 0 || form->driveAccessDenied();
    scheduler->quit();
    scheduler->joinWorkers();
    form.reset();
    machine_.finish(error);
    if (someBusy) {
        if (const auto saved = readStatusFiles(machine_.statusFolder(), kSavedStatusAgeSeconds)) {
            out_ << (options.json ? saved->json : saved->text) << std::flush;
            return saved->exitCode;
        }
    }
    out_ << (options.json ? statusJson(summary) : statusText(summary)) << std::flush;
    return summary.exitCode();
}

int Monitor::history(const MonitorOptions& options) {
    // Only read: the files are the watching run's, and whoever may read the log folder
    // may read them. Everything stored is shown, whatever bound the run keeps.
    const std::unique_ptr<FileStore> files = makeStdFileStore();
    std::vector<std::string> problems;
    HistoryStore store(*files, HistoryStore::folderIn(options.logDir), HistoryStore::kMaxDays,
                       [&problems](const std::string& p) { problems.push_back(p); });
    std::vector<HistorySeries> all;
    for (const auto& [key, label] : store.enclosures()) all.push_back(store.read(key, 0));
    for (const std::string& p : problems) err_ << "raid-gui-monitor: " << escapeText(p) << '\n';
    out_ << (options.json ? historyJson(all) : historyText(all)) << std::flush;
    return 0;
}

namespace {

// The machine's clock now, in seconds since the Unix epoch.
double realWallSeconds() {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count()) / 1000.0;
}

// A form on no drives with the machine's settings: the E-mail page and the mail
// service work as in the window. Its clock starts at the machine's real time: the
// test mail it sends is dated by it.
struct SettingsForm {
    SettingsForm(MonitorMachine& machine, const MonitorOptions& options, std::ostream& err)
        : scheduler(makeVirtualScheduler(realWallSeconds())), output(*scheduler, &err, nullptr, false) {
        path = options.settingsPath.empty() ? machine.defaultSettingsPath() : options.settingsPath;
        settings = openSettings(path);
        Ports ports{*scheduler, drives, drives, output, nullptr, nullptr, nullptr, {}, {}};
        ports.hostInfo = machine.hostInfo();
        ports.logFolder = options.logDir;
        ports.settings = settings.get();
        ports.tcp = machine.tcp();
        ports.settingsFolder = settingsTextFolder(path);
        form = std::make_unique<MainForm>(ports, controls);
        form->AnnounceToEnclosure = false;
        form->MailAlerts = false;
        form->FormCreate();
        // The settings are read as at start-up, before anything is typed over them.
        if (form->MailRequestFlags & kMailLoadSettings) form->LoadNotificationSettings();
    }
    ~SettingsForm() {
        form->FormClose();
        scheduler->quit();
        scheduler->joinWorkers();
    }

    std::unique_ptr<Scheduler> scheduler;
    NoDevices drives;
    Controls controls;
    HeadlessOutput output;
    std::string path;
    std::unique_ptr<SettingsPort> settings;
    std::unique_ptr<MainForm> form;
};

}  // namespace

int Monitor::set(const MonitorOptions& options) {
    // The alert program and the metrics folder are settings of root's, apart from the
    // mail's: each set on its own.
    const std::string file = options.settingsPath.empty() ? machine_.defaultSettingsPath() : options.settingsPath;
    if (const std::optional<int> rc = setRootSetting(options.setWords, file, out_, err_)) return *rc;
    EmailSettingsWords words;
    std::string error;
    if (!parseEmailSettings(options.setWords, words, error)) {
        err_ << "raid-gui-monitor: " << error << '\n';
        return 2;
    }
    // Every value is checked before anything is saved: a refused one saves nothing.
    if (!checkEmailSettings(words, error)) {
        err_ << "raid-gui-monitor: " << escapeText(error) << "; nothing was saved\n";
        return 1;
    }
#if RAID_HAVE_BUS
    bus::MailClient client;
    if (throughService(options, client)) return setThroughService(client, words);
#endif
    SettingsForm s(machine_, options, err_);
    // The words over the settings as the E-mail page would show them: what they do
    // not name stays as saved.
    const SettingsEdits shown = shownEdits(s.form->settings());
    SettingsEdits values = shown;
    applyEmailSettings(words, values);
    const MailSaveResult saved = saveMailSettings(*s.form, std::move(values), shown);
    if (!saved.saved) {
        // The page's box, on standard error, then what it means here.
        s.form->messageBox(saved.problem, "E-Mail Message");
        err_ << "raid-gui-monitor: the settings were not saved to " << s.path << '\n';
        return 1;
    }
    out_ << "Settings saved to " << s.path << '\n';
    return 0;
}

#if RAID_HAVE_BUS
bool Monitor::throughService(const MonitorOptions& options, bus::MailClient& client) {
    // A file named on the command line is that file; otherwise a running service owns
    // the settings and takes the change (it uses it at once, and asks polkit whether
    // this caller may make it). --bus names the bus to find it on.
    if (options.busAddress.empty() && (!options.settingsPath.empty() || !machine_.publishesOnSystemBus())) return false;
    return client.connect(options.busAddress);
}

int Monitor::setThroughService(bus::MailClient& client, const EmailSettingsWords& words) {
    SettingsEdits values;
    std::string problem = client.get(values);
    if (problem.empty()) {
        // The stored password stays unless the words give a new one.
        values.fields[kPassword].clear();
        applyEmailSettings(words, values);
        bool newPassword = false;
        for (const auto& [key, value] : words.fields) newPassword = newPassword || key == "password";
        if (!newPassword) values.fields[kPassword].clear();
        bus::MailAnswer saved;
        problem = client.save(values, newPassword, saved);
        if (problem.empty() && !saved.saved) {
            err_ << "raid-gui-monitor: " << escapeText(saved.problem) << "; nothing was saved\n";
            return 1;
        }
    }
    if (!problem.empty()) {
        err_ << "raid-gui-monitor: the running service did not save the settings: " << escapeText(problem) << '\n';
        return 1;
    }
    out_ << "Settings saved by the running service\n";
    return 0;
}

int Monitor::testMailThroughService(bus::MailClient& client) {
    bus::MailAnswer outcome;
    const std::string problem = client.testMail(outcome, 600);
    if (!problem.empty()) {
        err_ << "raid-gui-monitor: no test mail was sent: " << escapeText(problem) << '\n';
        return 1;
    }
    if (!outcome.sent) {
        err_ << "raid-gui-monitor: the test mail failed: " << escapeText(outcome.sendError) << '\n';
        return 1;
    }
    out_ << "Test mail sent\n";
    if (!outcome.refused.empty()) {
        std::string list;
        for (const auto& r : outcome.refused) list += (list.empty() ? "" : "; ") + r;
        err_ << "raid-gui-monitor: the test mail did not reach " << escapeText(list) << '\n';
        return 1;
    }
    return 0;
}
#endif

int Monitor::testMail(const MonitorOptions& options) {
#if RAID_HAVE_BUS
    bus::MailClient client;
    if (throughService(options, client)) return testMailThroughService(client);
#endif
    SettingsForm s(machine_, options, err_);
    std::optional<SmtpResult> outcome;
    const TestMailStart start = sendTestMail(*s.form, [&outcome](const SmtpResult& r) { outcome = r; });
    if (!start.sending) {
        err_ << "raid-gui-monitor: no test mail was sent: " << start.problem << '\n';
        return 1;
    }
    // Each step of the dialogue has the server's timeout; the whole one is bounded too.
    s.scheduler->pumpUntil([&outcome] { return outcome.has_value(); }, 600'000'000);
    if (!outcome) {
        err_ << "raid-gui-monitor: no test mail was sent: the mail server did not answer in time\n";
        return 1;
    }
    if (!outcome->sent) {
        err_ << "raid-gui-monitor: the test mail failed: " << escapeText(outcome->error) << '\n';
        return 1;
    }
    out_ << "Test mail sent\n";
    // A test is to show that every recipient gets the alerts: one that did not is a failure.
    if (!outcome->refused.empty()) {
        err_ << "raid-gui-monitor: the test mail did not reach " << escapeText(smtpRefusalsText("", outcome->refused))
             << '\n';
        return 1;
    }
    return 0;
}

}  // namespace raid::service

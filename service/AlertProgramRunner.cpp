#include "service/AlertProgramRunner.h"

#include "app/MainForm.h"
#include "monitor/StatusRecord.h"
#include "monitor/TimeFormat.h"
#include "notify/AlertMail.h"
#include "notify/NotificationSettings.h"
#include "platform/Platform.h"
#include "platform/ProgramRun.h"

namespace raid::service {

namespace {

constexpr std::size_t kReportedLine = 200;

// The first line of `text`, control characters as blanks, cut to a bounded length
// between characters.
std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() > kReportedLine) line = cutToLimit(line, kReportedLine) + "...";
    for (char& c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) c = ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace

std::string alertProgramFileRefusal(const std::string& path) {
    if (path.empty()) return "no program is named";
    const std::string why = alertCommandRefusal(path);
    return why.empty() ? trustedProgramRefusal(path) : why;
}

AlertProgramRunner::AlertProgramRunner(Report report, std::chrono::milliseconds limit)
    : report_(std::move(report)), limit_(limit), thread_([this] { loop(); }) {}

AlertProgramRunner::~AlertProgramRunner() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void AlertProgramRunner::submit(std::string program, AlertProgramCall call) {
    std::string refused;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stop_) return;
        if (jobs_.size() >= kQueueLimit) {
            refused = "Alert program not run: [" + call.alert + "] " + std::to_string(jobs_.size()) +
                      " alerts are already waiting for it";
        } else {
            jobs_.push_back({std::move(program), std::move(call)});
        }
    }
    if (!refused.empty()) {
        report_(refused);
        return;
    }
    cv_.notify_all();
}

bool AlertProgramRunner::stopping() {
    std::lock_guard<std::mutex> lock(mu_);
    return stop_;
}

void AlertProgramRunner::loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        const std::string line = run(job);
        if (!line.empty()) report_(line);
    }
}

std::string AlertProgramRunner::run(const Job& job) {
    const std::string head = "[" + job.call.alert + "] ";
    // Looked at again before each run: the file may have changed since it was named.
    const std::string why = alertProgramFileRefusal(job.program);
    if (!why.empty()) return "Alert program not run: " + head + job.program + ": " + why;
    ProgramRunRequest request;
    request.program = job.program;
    request.environment = job.call.environment;
    request.input = job.call.input;
    request.limit = limit_;
    request.killGrace = kKillGrace;
    request.cancelled = [this] { return stopping(); };
    const ProgramRunResult r = runProgram(request);
    std::string line;
    switch (r.end) {
        case ProgramRunResult::End::notStarted:
            return "Alert program not run: " + head + job.program + ": " + r.problem;
        case ProgramRunResult::End::cancelled: line = "Alert program ended: " + head + "the service stops"; break;
        case ProgramRunResult::End::timedOut:
            line = "Alert program failed: " + head + "still running after " +
                   std::to_string((limit_.count() + 999) / 1000) + " s, ended";
            break;
        case ProgramRunResult::End::exited:
            line = std::string(r.code == 0 ? "Alert program ran: " : "Alert program failed: ") + head +
                   "exit status " + std::to_string(r.code);
            break;
        case ProgramRunResult::End::signalled:
            line = "Alert program failed: " + head + "ended by signal " + std::to_string(r.code) +
                   (r.signalName.empty() ? "" : " (" + r.signalName + ")");
            break;
    }
    const std::string errorLine = firstLine(r.err);
    if (!errorLine.empty()) line += ": " + errorLine;
    return line;
}

void runProgramOnAlerts(MainForm& form, AlertProgramRunner& runner, std::string settingsPath, std::string host) {
    MainForm* f = &form;
    form.onAlertRaised = [f, &runner, settingsPath = std::move(settingsPath), host = std::move(host),
                          shown = form.onAlertRaised](int kind, int device, int port) {
        if (shown) shown(kind, device, port);
        // The alerts the mail side takes: a kind whose mail is switched off is quiet here too.
        if (kind < 1 || kind > 4 || ((f->alerts().suppressMask >> (kind - 1)) & 1)) return;
        // The program is looked up in the file at each alert: a root --set is used from
        // the next alert on, with or without a reload.
        const std::unique_ptr<SettingsPort> file = openSettings(settingsPath);
        const std::optional<RegValue> value = file->read(kAlertCommandValue);
        if (!value) return;
        AlertFacts facts;
        facts.kind = kind;
        facts.deviceIndex = device;
        facts.port = port;
        if (deviceSlot(f->dev, device) >= 0) facts.model = enclosureModel(identityOf(f->dev, device));
        facts.subject = alertSubject(f->settings(), kAppTitle, kind);
        facts.lines = f->alerts().AlertInfoLines;
        facts.host = host;
        facts.wallSeconds = f->scheduler().wallSeconds();
        AlertProgramCall call = alertProgramCall(facts);
        std::string problem;
        if (value->type != RegType::Sz)
            problem = std::string("the ") + kAlertCommandValue + " setting is not text";
        else if (value->text.empty())
            return;
        else
            problem = alertCommandRefusal(value->text);
        if (!problem.empty()) {
            f->eventLog().addLine("Alert program not run: [" + call.alert + "] " + problem + ", " +
                                  formatDateTimeC(f->scheduler().wallSeconds()));
            f->eventLog().save();
            return;
        }
        runner.submit(value->text, std::move(call));
    };
}

}  // namespace raid::service

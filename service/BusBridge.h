// The engine's side of the service on the system bus: what the engine hands the bus
// thread after each poll and as lines, alerts and mails come, and the day-log requests
// the bus thread posts to the engine.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "app/MainForm.h"
#include "service/bus/BusService.h"

namespace raid::service {

// The enclosures as the Status page and --status --json see them after the last poll,
// with the record and identity page each was read from.
bus::EnclosureSnapshot enclosureSnapshot(const MainForm& form, const std::function<std::string(int)>& driveName);

// A day file's lines, by its name ("yymmdd", checked by the caller): from the log
// folder, else from the fallback copy. Only a regular file, never through a link, of
// at most kMaxDayLogBytes.
inline constexpr std::size_t kMaxDayLogBytes = std::size_t{8} << 20;
bus::DayLogAnswer readDayLog(const std::string& folder, const std::string& fallbackFolder, const std::string& day);
// The names of the day files in the two folders, oldest first (at most kMaxDayLogNames).
inline constexpr std::size_t kMaxDayLogNames = 4000;
bus::DayLogAnswer listDayLogs(const std::string& folder, const std::string& fallbackFolder);

// Answers the bus's day-log, mail and upgrade requests on the engine thread.
class EngineDayLogs final : public bus::BusEngine {
public:
    EngineDayLogs(Scheduler& scheduler, MainForm& form) : scheduler_(scheduler), form_(form) {}
    void dayLog(const bus::BusCall& call, Reply reply) override;
    void mail(const bus::BusCall& call, MailReply reply) override;
    void upgrade(bus::UpgradeRequest request, UpgradeReporter report) override;
    void history(const bus::BusCall& call, HistoryReply reply) override;

private:
    Scheduler& scheduler_;
    MainForm& form_;
};

// Watches a running form for the bus: a snapshot after each poll, new day log lines,
// alerts and mail outcomes (after the watchers already set, which keep working).
class BusPublisher {
public:
    BusPublisher(MainForm& form, bus::BusService& service, std::function<std::string(int)> driveName);
    // Gives the form back the watchers it had.
    ~BusPublisher();
    BusPublisher(const BusPublisher&) = delete;
    BusPublisher& operator=(const BusPublisher&) = delete;
    // Engine thread, often (a timer): hands over what is new since the last call.
    void tick();

private:
    MainForm& form_;
    bus::BusService& service_;
    std::function<std::string(int)> driveName_;
    decltype(MainForm::onAlertRaised) alerted_;
    decltype(MainForm::onMail) mailed_;
    unsigned poll_ = 0;
    bool first_ = true;
    std::string day_;
    std::size_t lines_ = 0;
};

}  // namespace raid::service

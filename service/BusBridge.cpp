#include "service/BusBridge.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "app/HistorySources.h"
#include "monitor/EventLog.h"
#include "monitor/StatusRecord.h"
#include "notify/AlertMail.h"
#include "notify/SmtpClient.h"
#include "platform/Paths.h"
#include "service/BusMail.h"
#include "service/BusUpgrade.h"
#include "service/bus/BusArgs.h"

namespace raid::service {

namespace {

constexpr char kNoSuchDay[] = "org.qxraidgui.Monitor1.Error.NoSuchDay";
constexpr char kTooBig[] = "org.qxraidgui.Monitor1.Error.TooBig";
constexpr char kUnreadable[] = "org.qxraidgui.Monitor1.Error.Unreadable";

bus::DayLogAnswer failure(const char* name, std::string text) {
    bus::DayLogAnswer a;
    a.errorName = name;
    a.errorText = std::move(text);
    return a;
}

// 0 read, ENOENT none there, EFBIG too big, another errno when it cannot be read.
int readRegular(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? EACCES : errno;
    struct stat st {};
    int rc = 0;
    if (::fstat(fd, &st) != 0) rc = errno;
    else if (!S_ISREG(st.st_mode)) rc = EACCES;
    else if (static_cast<std::uint64_t>(st.st_size) > kMaxDayLogBytes) rc = EFBIG;
    if (rc == 0) {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                rc = errno;
                break;
            }
            if (n == 0) break;
            text.append(buf, static_cast<std::size_t>(n));
            // A file that grows while it is read stops at the bound too.
            if (text.size() > kMaxDayLogBytes) {
                rc = EFBIG;
                break;
            }
        }
    }
    ::close(fd);
    return rc;
}

void collectDays(const std::string& folder, std::set<std::string>& days) {
    if (folder.empty()) return;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() != 10 || name.compare(6, 4, ".log") != 0 || !bus::validDayName(name.substr(0, 6))) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        days.insert(name.substr(0, 6));
        if (days.size() > kMaxDayLogNames) break;
    }
    ::closedir(dir);
}

}  // namespace

bus::EnclosureSnapshot enclosureSnapshot(const MainForm& form, const std::function<std::string(int)>& driveName) {
    bus::EnclosureSnapshot s;
    s.poll = form.PollsDone;
    StatusSummary summary = summarizeStatus(form.dev, form.LastPollMask, driveName);
    addTimeLeft(summary, [&form](int i) { return form.decoder().timeLeft(i).estimate(); });
    s.notes = summary.notes;
    const DeviceState& dev = form.dev;
    for (std::size_t i = 0; i < summary.enclosures.size(); ++i) {
        bus::EnclosureState e;
        const std::uint32_t code = dev.ActiveDevices[i];
        e.slot = static_cast<int>(code & kCodeDriveMask);
        e.identityPage = identitySlot(dev, e.slot);
        // The record the summary was made from: the poll's, or past the two polled
        // devices the one the detection pass read.
        const bool fromPoll = i < 2 && (form.LastPollMask & (1u << i));
        e.statusRecord = fromPoll                               ? statusSlot(dev, e.slot)
                         : i >= 2 && e.slot < kMaxPhysical      ? dev.statusSnapshots[static_cast<std::size_t>(e.slot)]
                                                                : zeroPage();
        e.summary = std::move(summary.enclosures[i]);
        s.enclosures.push_back(std::move(e));
    }
    return s;
}

bus::DayLogAnswer readDayLog(const std::string& folder, const std::string& fallbackFolder, const std::string& day) {
    if (!bus::validDayName(day)) return failure(kNoSuchDay, "No day log for that day");
    int rc = ENOENT;
    std::string text;
    for (const std::string& f : {folder, fallbackFolder}) {
        if (f.empty()) continue;
        text.clear();
        rc = readRegular(paths::join(f, day + ".log"), text);
        if (rc != ENOENT) break;
    }
    if (rc == ENOENT) return failure(kNoSuchDay, "No day log for " + day);
    if (rc == EFBIG) return failure(kTooBig, "The day log of " + day + " is bigger than the service hands out");
    if (rc != 0) return failure(kUnreadable, "The day log of " + day + " cannot be read");
    bus::DayLogAnswer a;
    a.day = day;
    a.lines = EventLog::splitLines(text);
    return a;
}

bus::DayLogAnswer listDayLogs(const std::string& folder, const std::string& fallbackFolder) {
    std::set<std::string> days;
    collectDays(folder, days);
    collectDays(fallbackFolder, days);
    bus::DayLogAnswer a;
    // Day names sort by date within a century.
    a.lines.assign(days.begin(), days.end());
    if (a.lines.size() > kMaxDayLogNames) a.lines.erase(a.lines.begin(), a.lines.end() - kMaxDayLogNames);
    return a;
}

void EngineDayLogs::mail(const bus::BusCall& call, MailReply reply) {
    MainForm* form = &form_;
    scheduler_.post([form, call, reply = std::move(reply)] { answerMail(*form, call, reply); });
}

void EngineDayLogs::upgrade(bus::UpgradeRequest request, UpgradeReporter report) {
    MainForm* form = &form_;
    scheduler_.post([form, request = std::move(request), report = std::move(report)] {
        runBusUpgrade(*form, request, report);
    });
}

void EngineDayLogs::history(const bus::BusCall& call, HistoryReply reply) {
    MainForm* form = &form_;
    scheduler_.post([form, call, reply = std::move(reply)] {
        // The enclosure object's slot is its drive number; its device index names the
        // key the engine records it under (the two polled devices have a history).
        HistoryRecorder* recorder = form->historyRecorder();
        std::string key;
        const int count = std::min(form->dev.ActiveCount.load(), 2);
        for (int i = 0; recorder && i < count; ++i)
            if (static_cast<int>(form->dev.ActiveDevices[static_cast<std::size_t>(i)] & kCodeDriveMask) == call.slot)
                key = recorder->keyOf(i);
        bus::HistoryAnswer a;
        if (key.empty()) {
            a.errorName = "org.freedesktop.DBus.Error.UnknownObject";
            a.errorText = "No history is kept for this enclosure";
        } else {
            a.series = recorder->store().read(key, call.fromMinute, kMaxHistorySamples);
        }
        reply(std::move(a));
    });
}

void EngineDayLogs::dayLog(const bus::BusCall& call, Reply reply) {
    MainForm* form = &form_;
    scheduler_.post([form, call, reply = std::move(reply)] {
        const EventLog& log = form->eventLog();
        switch (call.method) {
            case bus::BusMethod::getDayLog: {
                bus::DayLogAnswer a;
                a.day = log.dayName();
                a.lines = log.lines();
                reply(std::move(a));
                return;
            }
            case bus::BusMethod::getOlderDayLog:
                if (call.day == log.dayName()) {
                    // Today's lines as held, with those not yet on disk.
                    bus::DayLogAnswer a;
                    a.day = call.day;
                    a.lines = log.lines();
                    reply(std::move(a));
                    return;
                }
                reply(readDayLog(log.folder(), log.fallbackDayFolder(), call.day));
                return;
            case bus::BusMethod::listDayLogs: {
                bus::DayLogAnswer a = listDayLogs(log.folder(), log.fallbackDayFolder());
                if (!log.dayName().empty() && std::find(a.lines.begin(), a.lines.end(), log.dayName()) == a.lines.end())
                    a.lines.push_back(log.dayName());
                reply(std::move(a));
                return;
            }
            default: {
                bus::DayLogAnswer a;
                a.errorName = "org.freedesktop.DBus.Error.UnknownMethod";
                a.errorText = "no such day-log method";
                reply(std::move(a));
                return;
            }
        }
    });
}

BusPublisher::BusPublisher(MainForm& form, bus::BusService& service, std::function<std::string(int)> driveName)
    : form_(form), service_(service), driveName_(std::move(driveName)) {
    MainForm* f = &form;
    bus::BusService* s = &service;
    alerted_ = form.onAlertRaised;
    mailed_ = form.onMail;
    auto alerted = alerted_;
    form.onAlertRaised = [f, s, alerted](int kind, int device, int port) {
        if (alerted) alerted(kind, device, port);
        s->alert(bus::AlertEvent{kind, device, port, f->alerts().AlertInfoLines});
    };
    auto mailed = mailed_;
    form.onMail = [s, mailed](const OutgoingMail& mail, const SmtpResult& result, bool retry) {
        if (mailed) mailed(mail, result, retry);
        bus::MailEvent e;
        e.kind = mail.kind;
        e.attempt = static_cast<unsigned>(std::max(0, mail.attempt));
        e.subject = mail.message.subject;
        e.sent = result.sent;
        e.error = result.error;
        e.refused = static_cast<unsigned>(result.refused.size());
        e.retry = retry;
        s->mail(std::move(e));
    };
}

BusPublisher::~BusPublisher() {
    form_.onAlertRaised = alerted_;
    form_.onMail = mailed_;
}

void BusPublisher::tick() {
    if (form_.PollsDone != poll_ || first_) {
        poll_ = form_.PollsDone;
        service_.publish(enclosureSnapshot(form_, driveName_));
    }
    const EventLog& log = form_.eventLog();
    if (log.dayName() != day_) {
        // The day a run starts with is history (GetDayLog has it); a new day is new
        // from its first line.
        const bool rollover = !day_.empty();
        day_ = log.dayName();
        lines_ = rollover ? 0 : log.lines().size();
    }
    first_ = false;
    const auto& lines = log.lines();
    if (lines.size() > lines_) {
        service_.logLines(day_, std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(lines_), lines.end()),
                          lines_);
        lines_ = lines.size();
    } else if (lines.size() < lines_) {
        lines_ = lines.size();
    }
}

}  // namespace raid::service

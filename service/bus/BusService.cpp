#include "service/bus/BusService.h"

#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <cerrno>
#include <cstring>
#include <future>

#include "service/bus/BusConnection.h"
#include "service/bus/BusMessages.h"
#include "service/bus/BusServiceImpl.h"

namespace raid::bus {

namespace {

BusAction actionOf(BusMethod method) {
    switch (method) {
        case BusMethod::getMailSettings:
        case BusMethod::saveMailSettings:
        case BusMethod::sendTestMail: return BusAction::configureMail;
        case BusMethod::startUpgrade: return BusAction::upgradeFirmware;
        case BusMethod::setAlertCommand: return BusAction::configureAlertProgram;
        default: return BusAction::readLogs;
    }
}

}  // namespace

std::string BusService::Impl::setUp(const std::string& address) {
    int r = openBusConnection(address, &bus);
    if (r < 0) return connectionProblem(address, r);
    if ((r = sd_event_new(&event)) < 0 || (r = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL)) < 0)
        return std::string("cannot run the bus: ") + std::strerror(-r);
    if ((r = sd_bus_add_object_vtable(bus, nullptr, kManagerPath, kManagerInterface, managerVtable, this)) < 0 ||
        (r = sd_bus_add_object_manager(bus, nullptr, kManagerPath)) < 0 || (r = publishEnclosures()) < 0 ||
        (r = publishJobs()) < 0)
        return std::string("cannot publish the objects: ") + std::strerror(-r);
    if ((r = sd_event_add_io(event, nullptr, inbox->fd, EPOLLIN, &Impl::onWake, this)) < 0)
        return std::string("cannot run the bus: ") + std::strerror(-r);
    // Callers that leave: their day-log watch ends (before any call of theirs is taken).
    if ((r = sd_bus_match_signal(bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "NameOwnerChanged", &Impl::onNameOwnerChanged, this)) < 0)
        return std::string("cannot follow the bus's clients: ") + std::strerror(-r);
    authority = makeAuthority(bus);
    r = sd_bus_request_name(bus, kBusName, 0);
    if (r == -EEXIST || r == -EALREADY) return std::string("the name ") + kBusName + " is taken: another service runs";
    if (r < 0)
        return std::string("cannot take the name ") + kBusName + ": " + std::strerror(-r) +
               (r == -EACCES || r == -EPERM ? " (the bus policy allows it to root only)" : "");
    return {};
}

void BusService::Impl::tearDown() {
    for (auto& [id, p] : pending) sd_bus_message_unref(p.message);
    pending.clear();
    pendingBy.clear();
    imageReads.clear();
    jobs.clear();
    watchers.clear();
    authority.reset();
    if (bus) sd_bus_flush_close_unref(bus);
    bus = nullptr;
    if (event) sd_event_unref(event);
    event = nullptr;
}

int BusService::Impl::onWake(sd_event_source*, int fd, std::uint32_t, void* data) {
    auto* self = static_cast<Impl*>(data);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
    std::deque<Inbox::Work> work;
    std::optional<EnclosureSnapshot> snapshot;
    bool closed = false;
    {
        std::lock_guard<std::mutex> lock(self->inbox->mu);
        work.swap(self->inbox->work);
        snapshot.swap(self->inbox->snapshot);
        closed = self->inbox->closed;
    }
    // Events keep their order; a snapshot is the state after them.
    for (auto& w : work) w(*self);
    if (snapshot) self->apply(std::move(*snapshot));
    if (closed) sd_event_exit(self->event, 0);
    return 0;
}

int BusService::Impl::onMethod(sd_bus_message* m, void* data, sd_bus_error* error) {
    auto* self = static_cast<Impl*>(data);
    const char* member = sd_bus_message_get_member(m);
    const char* signature = sd_bus_message_get_signature(m, 1);
    const char* wanted = methodSignature(member ? member : "");
    std::vector<BusArg> args;
    // The arguments are read only when their types are the method's own.
    if (wanted && signature && std::strcmp(wanted, signature) == 0 && readArguments(m, wanted, args) < 0)
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "the arguments cannot be read");
    std::string problem;
    const std::optional<BusCall> call = decodeCall(member ? member : "", signature ? signature : "", args, problem);
    if (!call) return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, problem.c_str());
    const char* sender = sd_bus_message_get_sender(m);
    const std::string who = sender ? sender : "";
    if (self->pending.size() >= kMaxPending || self->pendingBy[who] >= kMaxPendingPerCaller)
        return sd_bus_error_set(error, kErrorBusy, "Too many requests at once; try again later");
    if (call->method == BusMethod::unwatchDayLog) return self->unwatch(m, who);
    if (call->method == BusMethod::watchDayLog && !self->watchers.count(who) && self->watchers.size() >= kMaxWatchers)
        return sd_bus_error_set(error, kErrorBusy, "Too many clients follow the day log; try again later");
    Pending p{nullptr, who, *call, nullptr, kUnknownUid};
    if (call->method == BusMethod::startUpgrade) {
        if (!self->checkUpgrade(m, p, error)) return -EINVAL;
        ++self->pendingUpgrades;
    }
    const std::uint64_t id = self->nextId++;
    p.message = sd_bus_message_ref(m);
    self->pending[id] = std::move(p);
    ++self->pendingBy[who];
    if (call->method == BusMethod::startUpgrade) {
        self->readImage(id);
        return 1;
    }
    // Temperatures and fan speeds are no secret: the status properties show them to
    // everybody too.
    if (call->method == BusMethod::getHistory) {
        self->askHistory(id);
        return 1;
    }
    self->authority->check(who, actionOf(call->method),
                           [self, id](const AuthorityAnswer& answer) { self->authorized(id, answer); });
    return 1;
}

void BusService::Impl::finish(std::uint64_t id) {
    const auto it = pending.find(id);
    if (it == pending.end()) return;
    sd_bus_message_unref(it->second.message);
    if (--pendingBy[it->second.sender] == 0) pendingBy.erase(it->second.sender);
    if (it->second.call.method == BusMethod::startUpgrade) {
        --pendingUpgrades;
        imageReads.erase(id);
    }
    pending.erase(it);
}

void BusService::Impl::authorized(std::uint64_t id, const AuthorityAnswer& answer) {
    const auto it = pending.find(id);
    if (it == pending.end()) return;
    if (!answer.allowed) {
        reply(id, kErrorNotAuthorized, answer.problem.empty() ? "Not authorized" : answer.problem, {});
        return;
    }
    switch (actionOf(it->second.call.method)) {
        case BusAction::configureMail:
        case BusAction::configureAlertProgram: askMail(id); return;
        case BusAction::upgradeFirmware: askUpgrade(id); return;
        case BusAction::readLogs: askDayLog(id); return;
    }
}

void BusService::Impl::reply(std::uint64_t id, const std::string& errorName, const std::string& errorText,
                             const std::function<int(sd_bus_message*, const BusCall&)>& fill) {
    const auto it = pending.find(id);
    if (it == pending.end()) return;
    sd_bus_message* call = it->second.message;
    if (!errorName.empty()) {
        const std::string text = busText(errorText);
        sd_bus_reply_method_errorf(call, errorName.c_str(), "%s", text.c_str());
    } else {
        sd_bus_message* answer = nullptr;
        int r = sd_bus_message_new_method_return(call, &answer);
        if (r >= 0 && fill) r = fill(answer, it->second.call);
        if (r >= 0) r = sd_bus_send(bus, answer, nullptr);
        if (r < 0)
            sd_bus_reply_method_errorf(call, SD_BUS_ERROR_FAILED, "The answer could not be sent: %s", std::strerror(-r));
        sd_bus_message_unref(answer);
    }
    finish(id);
}

const sd_bus_vtable BusService::Impl::managerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Notes", "as", &Impl::managerProperty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_METHOD_WITH_NAMES("GetDayLog", "", , "sas", SD_BUS_PARAM(day) SD_BUS_PARAM(lines), &Impl::onMethod,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetOlderDayLog", "s", SD_BUS_PARAM(day), "sas", SD_BUS_PARAM(day) SD_BUS_PARAM(lines),
                             &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("ListDayLogs", "", , "as", SD_BUS_PARAM(days), &Impl::onMethod,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetHistory", "ou", SD_BUS_PARAM(enclosure) SD_BUS_PARAM(fromMinute), "ssina(xniyyyy)",
                             SD_BUS_PARAM(key) SD_BUS_PARAM(label) SD_BUS_PARAM(fanAlarmAt)
                                 SD_BUS_PARAM(temperatureAlarmAt) SD_BUS_PARAM(samples),
                             &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetMailSettings", "", , "sssssssbbbuasasas",
                             SD_BUS_PARAM(port) SD_BUS_PARAM(host) SD_BUS_PARAM(senderName) SD_BUS_PARAM(senderAddress)
                                 SD_BUS_PARAM(timeout) SD_BUS_PARAM(password) SD_BUS_PARAM(loginName)
                                     SD_BUS_PARAM(login) SD_BUS_PARAM(noMailHardDisksFail)
                                         SD_BUS_PARAM(noMailDeviceRemoved) SD_BUS_PARAM(security)
                                             SD_BUS_PARAM(recipients) SD_BUS_PARAM(subjects) SD_BUS_PARAM(contents),
                             &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES(
        "SaveMailSettings", "ssssssbsbbbuasasas",
        SD_BUS_PARAM(port) SD_BUS_PARAM(host) SD_BUS_PARAM(senderName) SD_BUS_PARAM(senderAddress) SD_BUS_PARAM(timeout)
            SD_BUS_PARAM(loginName) SD_BUS_PARAM(newPassword) SD_BUS_PARAM(password) SD_BUS_PARAM(login)
                SD_BUS_PARAM(noMailHardDisksFail) SD_BUS_PARAM(noMailDeviceRemoved) SD_BUS_PARAM(security)
                    SD_BUS_PARAM(recipients) SD_BUS_PARAM(subjects) SD_BUS_PARAM(contents),
        "bssssssssbbbuasasas",
        SD_BUS_PARAM(saved) SD_BUS_PARAM(problem) SD_BUS_PARAM(port) SD_BUS_PARAM(host) SD_BUS_PARAM(senderName)
            SD_BUS_PARAM(senderAddress) SD_BUS_PARAM(timeout) SD_BUS_PARAM(password) SD_BUS_PARAM(loginName)
                SD_BUS_PARAM(login) SD_BUS_PARAM(noMailHardDisksFail) SD_BUS_PARAM(noMailDeviceRemoved)
                    SD_BUS_PARAM(security) SD_BUS_PARAM(recipients) SD_BUS_PARAM(subjects) SD_BUS_PARAM(contents),
        &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SendTestMail", "", , "bsas", SD_BUS_PARAM(sent) SD_BUS_PARAM(error) SD_BUS_PARAM(refused),
                             &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("StartUpgrade", "oh", SD_BUS_PARAM(enclosure) SD_BUS_PARAM(image), "o", SD_BUS_PARAM(job),
                             &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("WatchDayLog", "", , "sas", SD_BUS_PARAM(day) SD_BUS_PARAM(lines), &Impl::onMethod,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("UnwatchDayLog", "", "", &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetAlertCommand", "s", SD_BUS_PARAM(program), "bs", SD_BUS_PARAM(saved)
                             SD_BUS_PARAM(problem), &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL_WITH_NAMES("LogLine", "ss", SD_BUS_PARAM(day) SD_BUS_PARAM(line), 0),
    SD_BUS_SIGNAL_WITH_NAMES("DayLogLine", "ss", SD_BUS_PARAM(day) SD_BUS_PARAM(line), 0),
    SD_BUS_SIGNAL_WITH_NAMES("AlertRaised", "iiias",
                             SD_BUS_PARAM(kind) SD_BUS_PARAM(device) SD_BUS_PARAM(port) SD_BUS_PARAM(lines), 0),
    SD_BUS_SIGNAL_WITH_NAMES("MailOutcome", "iusbsub",
                             SD_BUS_PARAM(kind) SD_BUS_PARAM(attempt) SD_BUS_PARAM(subject) SD_BUS_PARAM(sent)
                                 SD_BUS_PARAM(error) SD_BUS_PARAM(refused) SD_BUS_PARAM(retry),
                             0),
    SD_BUS_VTABLE_END,
};

BusService::BusService(BusEngine& engine, AuthorityFactory makeAuthority)
    : impl_(std::make_shared<Impl>(engine, std::move(makeAuthority))) {}

BusService::~BusService() { stop(); }

bool BusService::start(const std::string& address, std::string& error) {
    if (impl_->thread.joinable()) return true;
    if (impl_->inbox->fd < 0) {
        error = "cannot run the bus: no eventfd";
        return false;
    }
    std::promise<std::string> started;
    auto result = started.get_future();
    Impl* self = impl_.get();
    impl_->thread = std::thread([self, address, &started] {
        const std::string problem = self->setUp(address);
        if (!problem.empty()) {
            self->tearDown();
            started.set_value(problem);
            return;
        }
        started.set_value({});
        sd_event_loop(self->event);
        self->tearDown();
    });
    error = result.get();
    if (error.empty()) return true;
    impl_->thread.join();
    return false;
}

void BusService::stop() {
    {
        std::lock_guard<std::mutex> lock(impl_->inbox->mu);
        impl_->inbox->closed = true;
        impl_->inbox->work.clear();
    }
    impl_->inbox->wake();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void BusService::publish(EnclosureSnapshot snapshot) {
    {
        std::lock_guard<std::mutex> lock(impl_->inbox->mu);
        if (impl_->inbox->closed) return;
        impl_->inbox->snapshot = std::move(snapshot);
    }
    impl_->inbox->wake();
}

void BusService::logLines(const std::string& day, std::vector<std::string> lines, std::size_t first) {
    impl_->inbox->push([day, first, lines = std::move(lines)](Impl& self) { self.emitLogLines(day, first, lines); });
}

void BusService::alert(AlertEvent event) {
    impl_->inbox->push([event = std::move(event)](Impl& self) { self.emitAlert(event); });
}

void BusService::mail(MailEvent event) {
    impl_->inbox->push([event = std::move(event)](Impl& self) { self.emitMail(event); });
}

}  // namespace raid::bus

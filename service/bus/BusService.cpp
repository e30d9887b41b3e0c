#include "service/bus/BusService.h"

#include "service/bus/BusMessages.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace raid::bus {

namespace {

constexpr char kErrorNotAuthorized[] = "org.qxraidgui.Monitor1.Error.NotAuthorized";
constexpr char kErrorBusy[] = "org.qxraidgui.Monitor1.Error.Busy";

// Bytes a UTF-8 sequence starting with `c` takes (0: not a valid start).
std::size_t sequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

}  // namespace

std::string busText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = sequenceLength(c);
        bool ok = n != 0 && c != 0 && i + n <= text.size();
        for (std::size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && n >= 3) {
            const auto d = static_cast<unsigned char>(text[i + 1]);
            // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
            if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
                (c == 0xF4 && d >= 0x90))
                ok = false;
        }
        if (!ok) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text, i, n);
        i += n;
    }
    return out;
}

// The hand-over between the engine thread (and any other) and the bus thread: a queue
// of work for the bus thread and an eventfd that wakes it. Shared with the engine's
// answers, which may come after the service has stopped (then they are dropped).
struct Inbox {
    using Work = std::function<void(BusService::Impl&)>;
    std::mutex mu;
    std::deque<Work> work;
    std::optional<EnclosureSnapshot> snapshot;
    bool closed = false;
    std::size_t dropped = 0;
    int fd = -1;

    Inbox() : fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Inbox() {
        if (fd >= 0) close(fd);
    }
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
    }
    void push(Work w) {
        {
            std::lock_guard<std::mutex> lock(mu);
            if (closed) return;
            if (work.size() >= BusService::kMaxQueued) {
                work.pop_front();
                ++dropped;
            }
            work.push_back(std::move(w));
        }
        wake();
    }
};

struct BusService::Impl {
    struct Pending {
        sd_bus_message* message = nullptr;
        std::string sender;
        BusCall call;
    };

    BusEngine& engine;
    AuthorityFactory makeAuthority;
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    std::thread thread;

    // Bus thread only from here on.
    sd_bus* bus = nullptr;
    sd_event* event = nullptr;
    std::unique_ptr<Authority> authority;
    std::map<int, EnclosureState> enclosures;  // by slot
    std::vector<std::string> notes;
    std::map<std::uint64_t, Pending> pending;
    std::map<std::string, std::size_t> pendingBy;
    std::uint64_t nextId = 1;

    Impl(BusEngine& e, AuthorityFactory f) : engine(e), makeAuthority(std::move(f)) {}

    static std::string pathOf(int slot) { return std::string(kEnclosurePrefix) + "/drive" + std::to_string(slot); }

    std::string setUp(const std::string& address) {
        int r = 0;
        if (address.empty()) {
            r = sd_bus_open_system(&bus);
        } else {
            r = sd_bus_new(&bus);
            if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
            if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
            if (r >= 0) r = sd_bus_start(bus);
        }
        if (r < 0)
            return std::string("cannot connect to the ") + (address.empty() ? "system bus" : "bus " + address) + ": " +
                   std::strerror(-r);
        if ((r = sd_event_new(&event)) < 0 || (r = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL)) < 0)
            return std::string("cannot run the bus: ") + std::strerror(-r);
        if ((r = sd_bus_add_object_vtable(bus, nullptr, kManagerPath, kManagerInterface, managerVtable, this)) < 0 ||
            (r = sd_bus_add_object_manager(bus, nullptr, kManagerPath)) < 0 ||
            (r = sd_bus_add_fallback_vtable(bus, nullptr, kEnclosurePrefix, kEnclosureInterface, enclosureVtable,
                                            &Impl::findEnclosure, this)) < 0 ||
            (r = sd_bus_add_node_enumerator(bus, nullptr, kEnclosurePrefix, &Impl::enumerate, this)) < 0)
            return std::string("cannot publish the objects: ") + std::strerror(-r);
        if ((r = sd_event_add_io(event, nullptr, inbox->fd, EPOLLIN, &Impl::onWake, this)) < 0)
            return std::string("cannot run the bus: ") + std::strerror(-r);
        authority = makeAuthority(bus);
        r = sd_bus_request_name(bus, kBusName, 0);
        if (r == -EEXIST || r == -EALREADY)
            return std::string("the name ") + kBusName + " is taken: another service runs";
        if (r < 0)
            return std::string("cannot take the name ") + kBusName + ": " + std::strerror(-r) +
                   (r == -EACCES || r == -EPERM ? " (the bus policy allows it to root only)" : "");
        return {};
    }

    void tearDown() {
        for (auto& [id, p] : pending) sd_bus_message_unref(p.message);
        pending.clear();
        pendingBy.clear();
        authority.reset();
        if (bus) sd_bus_flush_close_unref(bus);
        bus = nullptr;
        if (event) sd_event_unref(event);
        event = nullptr;
    }

    // ---- the hand-over, bus side
    static int onWake(sd_event_source*, int fd, std::uint32_t, void* data) {
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

    // ---- enclosures
    void apply(EnclosureSnapshot s) {
        std::map<int, EnclosureState> next;
        for (auto& e : s.enclosures) {
            e.poll = s.poll;
            next[e.slot] = std::move(e);
        }
        for (auto it = enclosures.begin(); it != enclosures.end();) {
            if (next.count(it->first)) {
                ++it;
                continue;
            }
            const std::string path = pathOf(it->first);
            it = enclosures.erase(it);
            sd_bus_emit_interfaces_removed(bus, path.c_str(), kEnclosureInterface, nullptr);
        }
        for (auto& [slot, e] : next) {
            const bool known = enclosures.count(slot) != 0;
            enclosures[slot] = std::move(e);
            const std::string path = pathOf(slot);
            if (known)
                sd_bus_emit_properties_changed_strv(bus, path.c_str(), kEnclosureInterface, nullptr);
            else
                sd_bus_emit_interfaces_added(bus, path.c_str(), kEnclosureInterface, nullptr);
        }
        if (s.notes != notes) {
            notes = std::move(s.notes);
            sd_bus_emit_properties_changed(bus, kManagerPath, kManagerInterface, "Notes", nullptr);
        }
    }

    static int findEnclosure(sd_bus*, const char* path, const char*, void* data, void** found, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        const std::string prefix = std::string(kEnclosurePrefix) + "/drive";
        const std::string p = path;
        if (p.compare(0, prefix.size(), prefix) != 0 || p.size() == prefix.size() || p.size() > prefix.size() + 2)
            return 0;
        int slot = 0;
        for (std::size_t i = prefix.size(); i < p.size(); ++i) {
            if (p[i] < '0' || p[i] > '9') return 0;
            slot = slot * 10 + (p[i] - '0');
        }
        const auto it = self->enclosures.find(slot);
        if (it == self->enclosures.end() || pathOf(slot) != p) return 0;
        *found = &it->second;
        return 1;
    }

    static int enumerate(sd_bus*, const char*, void* data, char*** nodes, sd_bus_error*) {
        auto* self = static_cast<Impl*>(data);
        char** list = static_cast<char**>(calloc(self->enclosures.size() + 1, sizeof(char*)));
        if (!list) return -ENOMEM;
        std::size_t n = 0;
        for (const auto& [slot, e] : self->enclosures) list[n++] = strdup(pathOf(slot).c_str());
        *nodes = list;
        return 0;
    }

    static int appendText(sd_bus_message* m, const std::string& s) {
        const std::string t = busText(s);
        return sd_bus_message_append_basic(m, 's', t.c_str());
    }
    static int appendTexts(sd_bus_message* m, const std::vector<std::string>& list) {
        int r = sd_bus_message_open_container(m, 'a', "s");
        for (std::size_t i = 0; r >= 0 && i < list.size(); ++i) r = appendText(m, list[i]);
        return r < 0 ? r : sd_bus_message_close_container(m);
    }

    static int enclosureProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                                 void* found, sd_bus_error*) {
        const EnclosureState& s = *static_cast<const EnclosureState*>(found);
        const EnclosureSummary& e = s.summary;
        const std::string p = property;
        auto i32 = [&](int v) {
            const std::int32_t x = v;
            return sd_bus_message_append_basic(reply, 'i', &x);
        };
        auto flag = [&](bool v) {
            const int x = v;
            return sd_bus_message_append_basic(reply, 'b', &x);
        };
        auto bytes = [&](const std::array<std::uint8_t, 512>& b) {
            return sd_bus_message_append_array(reply, 'y', b.data(), b.size());
        };
        if (p == "Poll") return sd_bus_message_append_basic(reply, 'u', &s.poll);
        if (p == "Device") return i32(e.device);
        if (p == "Slot") return i32(s.slot);
        if (p == "Name") return appendText(reply, e.name);
        if (p == "Model") return appendText(reply, e.model);
        if (p == "Volumes") return appendText(reply, e.volumes);
        if (p == "Drives") return appendTexts(reply, e.drives);
        if (p == "Access") return appendText(reply, e.access);
        if (p == "Source") return appendText(reply, e.source);
        if (p == "Firmware") return appendText(reply, e.firmware);
        if (p == "Controller") return appendText(reply, e.controller);
        if (p == "Mode") return appendText(reply, e.mode);
        if (p == "ConfiguredGB") {
            const std::uint64_t v = e.configuredGB;
            return sd_bus_message_append_basic(reply, 't', &v);
        }
        if (p == "Bays") {
            int r = sd_bus_message_open_container(reply, 'a', "(sstss)");
            for (const DriveSummary& d : e.bays) {
                if (r >= 0) r = sd_bus_message_open_container(reply, 'r', "sstss");
                if (r >= 0) r = appendText(reply, d.name);
                if (r >= 0) r = appendText(reply, d.state);
                const std::uint64_t gb = d.capacityGB;
                if (r >= 0) r = sd_bus_message_append_basic(reply, 't', &gb);
                if (r >= 0) r = appendText(reply, d.model);
                if (r >= 0) r = appendText(reply, d.serial);
                if (r >= 0) r = sd_bus_message_close_container(reply);
            }
            return r < 0 ? r : sd_bus_message_close_container(reply);
        }
        if (p == "Activity") return appendText(reply, e.activity);
        if (p == "Progress") return i32(e.progress);
        if (p == "Target") return i32(e.target);
        if (p == "Monitored") return flag(e.monitored);
        if (p == "FanRpm") return i32(e.fanRpm);
        if (p == "TemperatureC") return i32(e.temperatureC);
        if (p == "FanAlarm") return flag(e.fanAlarm);
        if (p == "TemperatureAlarm") return flag(e.temperatureAlarm);
        if (p == "Health")
            return appendText(reply, e.health == Health::Healthy    ? "healthy"
                                     : e.health == Health::Degraded ? "degraded"
                                                                    : "unknown");
        if (p == "Problems") return appendTexts(reply, e.problems);
        if (p == "StatusRecord") return bytes(s.statusRecord);
        if (p == "IdentityPage") return bytes(s.identityPage);
        return -ENOENT;
    }

    static int managerProperty(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* data,
                               sd_bus_error*) {
        return appendTexts(reply, static_cast<Impl*>(data)->notes);
    }

    // ---- events
    void emitLogLines(const std::string& day, const std::vector<std::string>& lines) {
        const std::string d = busText(day);
        for (const std::string& l : lines) {
            const std::string t = busText(l);
            sd_bus_emit_signal(bus, kManagerPath, kManagerInterface, "LogLine", "ss", d.c_str(), t.c_str());
        }
    }
    void emitAlert(const AlertEvent& a) {
        sd_bus_message* m = nullptr;
        int r = sd_bus_message_new_signal(bus, &m, kManagerPath, kManagerInterface, "AlertRaised");
        if (r >= 0) r = sd_bus_message_append(m, "iii", a.kind, a.device, a.port);
        if (r >= 0) r = appendTexts(m, a.lines);
        if (r >= 0) sd_bus_send(bus, m, nullptr);
        sd_bus_message_unref(m);
    }
    void emitMail(const MailEvent& e) {
        const std::string subject = busText(e.subject), error = busText(e.error);
        sd_bus_emit_signal(bus, kManagerPath, kManagerInterface, "MailOutcome", "iusbsub", e.kind, e.attempt,
                           subject.c_str(), static_cast<int>(e.sent), error.c_str(), e.refused,
                           static_cast<int>(e.retry));
    }

    // ---- methods
    static int onMethod(sd_bus_message* m, void* data, sd_bus_error* error) {
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
        const std::uint64_t id = self->nextId++;
        self->pending[id] = Pending{sd_bus_message_ref(m), who, *call};
        ++self->pendingBy[who];
        const bool mail = call->method == BusMethod::getMailSettings || call->method == BusMethod::saveMailSettings ||
                          call->method == BusMethod::sendTestMail;
        self->authority->check(who, mail ? BusAction::configureMail : BusAction::readLogs,
                               [self, id](const AuthorityAnswer& answer) { self->authorized(id, answer); });
        return 1;
    }

    void finish(std::uint64_t id) {
        const auto it = pending.find(id);
        if (it == pending.end()) return;
        sd_bus_message_unref(it->second.message);
        if (--pendingBy[it->second.sender] == 0) pendingBy.erase(it->second.sender);
        pending.erase(it);
    }

    void authorized(std::uint64_t id, const AuthorityAnswer& answer) {
        const auto it = pending.find(id);
        if (it == pending.end()) return;
        if (!answer.allowed) {
            const std::string text = busText(answer.problem.empty() ? "Not authorized" : answer.problem);
            sd_bus_reply_method_errorf(it->second.message, kErrorNotAuthorized, "%s", text.c_str());
            finish(id);
            return;
        }
        std::weak_ptr<Inbox> box = inbox;
        const BusMethod method = it->second.call.method;
        if (method == BusMethod::getMailSettings || method == BusMethod::saveMailSettings ||
            method == BusMethod::sendTestMail) {
            engine.mail(it->second.call, [box, id](MailAnswer a) {
                if (const auto b = box.lock()) b->push([id, a = std::move(a)](Impl& self) { self.answerMail(id, a); });
            });
            return;
        }
        engine.dayLog(it->second.call, [box, id](DayLogAnswer a) {
            if (const auto b = box.lock()) b->push([id, a = std::move(a)](Impl& self) { self.answer(id, a); });
        });
    }

    void answer(std::uint64_t id, const DayLogAnswer& a) {
        reply(id, a.errorName, a.errorText, [&a](sd_bus_message* m, const BusCall& call) {
            int r = call.method != BusMethod::listDayLogs ? appendText(m, a.day) : 0;
            if (r >= 0) r = appendTexts(m, a.lines);
            return r;
        });
    }

    void answerMail(std::uint64_t id, const MailAnswer& a) {
        reply(id, a.errorName, a.errorText,
              [&a](sd_bus_message* m, const BusCall& call) { return appendMailAnswer(m, call.method, a); });
    }

    // Answers the waiting call `id` with the error, or with what `fill` appends, and
    // forgets it. A call that no longer waits (the caller's bound was reached) is skipped.
    template <class Fill>
    void reply(std::uint64_t id, const std::string& errorName, const std::string& errorText, Fill fill) {
        const auto it = pending.find(id);
        if (it == pending.end()) return;
        sd_bus_message* call = it->second.message;
        if (!errorName.empty()) {
            const std::string text = busText(errorText);
            sd_bus_reply_method_errorf(call, errorName.c_str(), "%s", text.c_str());
        } else {
            sd_bus_message* answer = nullptr;
            int r = sd_bus_message_new_method_return(call, &answer);
            if (r >= 0) r = fill(answer, it->second.call);
            if (r >= 0) r = sd_bus_send(bus, answer, nullptr);
            if (r < 0)
                sd_bus_reply_method_errorf(call, SD_BUS_ERROR_FAILED, "The answer could not be sent: %s",
                                           std::strerror(-r));
            sd_bus_message_unref(answer);
        }
        finish(id);
    }

    static const sd_bus_vtable managerVtable[];
    static const sd_bus_vtable enclosureVtable[];
};

const sd_bus_vtable BusService::Impl::managerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Notes", "as", &Impl::managerProperty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_METHOD_WITH_NAMES("GetDayLog", "", , "sas", SD_BUS_PARAM(day) SD_BUS_PARAM(lines), &Impl::onMethod,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetOlderDayLog", "s", SD_BUS_PARAM(day), "sas", SD_BUS_PARAM(day) SD_BUS_PARAM(lines),
                             &Impl::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("ListDayLogs", "", , "as", SD_BUS_PARAM(days), &Impl::onMethod,
                             SD_BUS_VTABLE_UNPRIVILEGED),
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
    SD_BUS_SIGNAL_WITH_NAMES("LogLine", "ss", SD_BUS_PARAM(day) SD_BUS_PARAM(line), 0),
    SD_BUS_SIGNAL_WITH_NAMES("AlertRaised", "iiias",
                             SD_BUS_PARAM(kind) SD_BUS_PARAM(device) SD_BUS_PARAM(port) SD_BUS_PARAM(lines), 0),
    SD_BUS_SIGNAL_WITH_NAMES("MailOutcome", "iusbsub",
                             SD_BUS_PARAM(kind) SD_BUS_PARAM(attempt) SD_BUS_PARAM(subject) SD_BUS_PARAM(sent)
                                 SD_BUS_PARAM(error) SD_BUS_PARAM(refused) SD_BUS_PARAM(retry),
                             0),
    SD_BUS_VTABLE_END,
};

#define RAID_ENCLOSURE_PROPERTY(name, sig) \
    SD_BUS_PROPERTY(name, sig, &Impl::enclosureProperty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE)

const sd_bus_vtable BusService::Impl::enclosureVtable[] = {
    SD_BUS_VTABLE_START(0),
    RAID_ENCLOSURE_PROPERTY("Poll", "u"),
    RAID_ENCLOSURE_PROPERTY("Device", "i"),
    RAID_ENCLOSURE_PROPERTY("Slot", "i"),
    RAID_ENCLOSURE_PROPERTY("Name", "s"),
    RAID_ENCLOSURE_PROPERTY("Model", "s"),
    RAID_ENCLOSURE_PROPERTY("Volumes", "s"),
    RAID_ENCLOSURE_PROPERTY("Drives", "as"),
    RAID_ENCLOSURE_PROPERTY("Access", "s"),
    RAID_ENCLOSURE_PROPERTY("Source", "s"),
    RAID_ENCLOSURE_PROPERTY("Firmware", "s"),
    RAID_ENCLOSURE_PROPERTY("Controller", "s"),
    RAID_ENCLOSURE_PROPERTY("Mode", "s"),
    RAID_ENCLOSURE_PROPERTY("ConfiguredGB", "t"),
    RAID_ENCLOSURE_PROPERTY("Bays", "a(sstss)"),
    RAID_ENCLOSURE_PROPERTY("Activity", "s"),
    RAID_ENCLOSURE_PROPERTY("Progress", "i"),
    RAID_ENCLOSURE_PROPERTY("Target", "i"),
    RAID_ENCLOSURE_PROPERTY("Monitored", "b"),
    RAID_ENCLOSURE_PROPERTY("FanRpm", "i"),
    RAID_ENCLOSURE_PROPERTY("TemperatureC", "i"),
    RAID_ENCLOSURE_PROPERTY("FanAlarm", "b"),
    RAID_ENCLOSURE_PROPERTY("TemperatureAlarm", "b"),
    RAID_ENCLOSURE_PROPERTY("Health", "s"),
    RAID_ENCLOSURE_PROPERTY("Problems", "as"),
    RAID_ENCLOSURE_PROPERTY("StatusRecord", "ay"),
    RAID_ENCLOSURE_PROPERTY("IdentityPage", "ay"),
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

void BusService::logLines(const std::string& day, std::vector<std::string> lines) {
    impl_->inbox->push([day, lines = std::move(lines)](Impl& self) { self.emitLogLines(day, lines); });
}

void BusService::alert(AlertEvent event) {
    impl_->inbox->push([event = std::move(event)](Impl& self) { self.emitAlert(event); });
}

void BusService::mail(MailEvent event) {
    impl_->inbox->push([event = std::move(event)](Impl& self) { self.emitMail(event); });
}

}  // namespace raid::bus

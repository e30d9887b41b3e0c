#include "service/bus/PolkitAuthority.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace raid::bus {

namespace {

constexpr char kPolkitName[] = "org.freedesktop.PolicyKit1";
constexpr char kPolkitPath[] = "/org/freedesktop/PolicyKit1/Authority";
constexpr char kPolkitInterface[] = "org.freedesktop.PolicyKit1.Authority";
// CheckAuthorization's flag: the user's agent may ask for a password.
constexpr std::uint32_t kAllowUserInteraction = 1;

bool nameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

}  // namespace

bool isUniqueBusName(const std::string& name) {
    // ":" then two or more non-empty elements of [A-Za-z0-9_-] joined by dots, 255 at most.
    if (name.size() < 4 || name.size() > 255 || name[0] != ':') return false;
    int elements = 0;
    std::size_t length = 0;
    for (std::size_t i = 1; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '.') {
            if (length == 0) return false;
            ++elements;
            length = 0;
        } else if (nameChar(name[i])) {
            ++length;
        } else {
            return false;
        }
    }
    return elements >= 2;
}

struct PolkitAuthority::Pending {
    PolkitAuthority* owner = nullptr;
    std::uint64_t id = 0;
    Done done;
    std::string actionId;
    std::string cancellationId;
    std::string problem;  // the refusal a deferred answer gives
    sd_bus_slot* slot = nullptr;
    sd_event_source* source = nullptr;

    ~Pending() {
        sd_bus_slot_unref(slot);
        sd_event_source_unref(source);
    }
};

namespace {

std::string errorText(const sd_bus_error* e) {
    if (!e || !e->name) return "an error without a name";
    std::string text = e->name;
    if (e->message && *e->message) text += std::string(": ") + e->message;
    // The text goes back to the caller in an error reply: keep it to one bounded line.
    if (text.size() > 200) text.resize(200);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text;
}

}  // namespace

int PolkitAuthority::onPolkitReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* p = static_cast<Pending*>(userdata);
    PolkitAuthority* owner = p->owner;
    const std::uint64_t id = p->id;
    const std::string actionId = p->actionId;
    AuthorityAnswer answer;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error* e = sd_bus_message_get_error(reply);
        const bool timedOut = e && e->name &&
                              (std::strcmp(e->name, SD_BUS_ERROR_TIMEOUT) == 0 ||
                               std::strcmp(e->name, SD_BUS_ERROR_NO_REPLY) == 0);
        if (timedOut) {
            answer.problem = "polkit did not answer in time; refused";
            // The user's agent may still show its dialog: it is withdrawn.
            owner->cancelAtPolkit(p->cancellationId);
        } else {
            answer.problem = "polkit could not be asked (" + errorText(e) + "); refused";
        }
    } else {
        int authorized = 0, challenge = 0;
        const bool read = sd_bus_message_enter_container(reply, 'r', "bba{ss}") > 0 &&
                          sd_bus_message_read(reply, "bb", &authorized, &challenge) > 0;
        if (!read)
            answer.problem = "polkit answered in a form the service does not know; refused";
        else if (authorized)
            answer.allowed = true;
        else if (challenge)
            answer.problem = "not authorized for " + actionId + ": no polkit agent asked for the password";
        else
            answer.problem = "not authorized for " + actionId;
    }
    owner->finish(id, answer);
    return 0;
}

// A refusal known at once, handed over on the connection's thread.
int PolkitAuthority::onDeferSource(sd_event_source*, void* userdata) {
    auto* p = static_cast<Pending*>(userdata);
    p->owner->finish(p->id, AuthorityAnswer{false, p->problem});
    return 0;
}

int PolkitAuthority::onRoundTrip(sd_bus_message*, void* userdata, sd_bus_error*) {
    auto* p = static_cast<Pending*>(userdata);
    p->owner->finish(p->id, AuthorityAnswer{false, p->problem});
    return 0;
}

PolkitAuthority::PolkitAuthority(sd_bus* bus, std::chrono::microseconds timeout)
    : bus_(sd_bus_ref(bus)), timeoutUs_(timeout.count() > 0 ? static_cast<std::uint64_t>(timeout.count()) : 1) {}

PolkitAuthority::~PolkitAuthority() {
    // Each waiting check is answered once: refused. A `done` may start another check;
    // it is refused at once, not left waiting on an authority that is going.
    destroying_ = true;
    while (!pending_.empty()) {
        auto node = pending_.extract(pending_.begin());
        std::unique_ptr<Pending> p = std::move(node.mapped());
        if (!p->cancellationId.empty() && p->slot) cancelAtPolkit(p->cancellationId);
        Done done = std::move(p->done);
        p.reset();
        if (done) done(AuthorityAnswer{false, "the service is stopping; refused"});
    }
    sd_bus_flush(bus_);
    sd_bus_unref(bus_);
}

void PolkitAuthority::check(const std::string& sender, BusAction action, Done done) {
    auto p = std::make_unique<Pending>();
    p->owner = this;
    p->id = next_++;
    p->done = std::move(done);
    p->actionId = polkitActionId(action);
    if (destroying_) {
        Done d = std::move(p->done);
        if (d) d(AuthorityAnswer{false, "the service is stopping; refused"});
        return;
    }
    if (!isUniqueBusName(sender)) {
        refuseLater(std::move(p), "the caller has no unique bus name; refused");
        return;
    }
    p->cancellationId = "qxraidgui-check-" + std::to_string(p->id);

    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &m, kPolkitName, kPolkitPath, kPolkitInterface,
                                           "CheckAuthorization");
    if (r >= 0)
        r = sd_bus_message_append(m, "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s", sender.c_str(),
                                  p->actionId.c_str(), 0, kAllowUserInteraction, p->cancellationId.c_str());
    if (r >= 0) r = sd_bus_call_async(bus_, &p->slot, m, onPolkitReply, p.get(), timeoutUs_);
    sd_bus_message_unref(m);
    if (r < 0) {
        p->cancellationId.clear();
        refuseLater(std::move(p), std::string("polkit could not be asked (") + std::strerror(-r) + "); refused");
        return;
    }
    pending_.emplace(p->id, std::move(p));
}

void PolkitAuthority::refuseLater(std::unique_ptr<Pending> p, std::string problem) {
    p->problem = std::move(problem);
    // Never from inside check(): the caller may hold state that its `done` changes.
    if (sd_event* loop = sd_bus_get_event(bus_)) {
        if (sd_event_add_defer(loop, &p->source, onDeferSource, p.get()) >= 0) {
            pending_.emplace(p->id, std::move(p));
            return;
        }
    }
    if (sd_bus_call_method_async(bus_, &p->slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "GetId", onRoundTrip, p.get(), "") >= 0) {
        pending_.emplace(p->id, std::move(p));
        return;
    }
    // A connection that can send nothing: the answer waits for the destructor.
    pending_.emplace(p->id, std::move(p));
}

void PolkitAuthority::finish(std::uint64_t id, const AuthorityAnswer& answer) {
    const auto it = pending_.find(id);
    if (it == pending_.end()) return;
    std::unique_ptr<Pending> p = std::move(it->second);
    pending_.erase(it);
    Done done = std::move(p->done);
    // The slot or source is released here, inside its own callback: sd-bus and sd-event
    // hold their own reference while they dispatch.
    p.reset();
    if (done) done(answer);
}

void PolkitAuthority::cancelAtPolkit(const std::string& cancellationId) {
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_method_call(bus_, &m, kPolkitName, kPolkitPath, kPolkitInterface,
                                       "CancelCheckAuthorization") >= 0 &&
        sd_bus_message_append(m, "s", cancellationId.c_str()) >= 0 && sd_bus_message_set_expect_reply(m, 0) >= 0)
        sd_bus_send(bus_, m, nullptr);
    sd_bus_message_unref(m);
}

}  // namespace raid::bus

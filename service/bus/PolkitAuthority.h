// The authority the service asks on the system bus: polkit's CheckAuthorization, with
// the caller's unique bus name as the subject.
//
// Every check is a method call that may take as long as the user needs to type a
// password into their session's agent, so it is made asynchronously on the service's own
// bus connection; the answer comes back through that connection's processing, on its
// thread. A check that cannot be made is a refusal: polkit not on the bus, an error
// reply, a reply of the wrong form, no answer within the timeout (the agent's dialog is
// then withdrawn with CancelCheckAuthorization), a connection that closes meanwhile, or
// the authority being destroyed while it waits.
//
// Thread: check() and the destructor run on the thread that processes `bus`. When `bus`
// is attached to an sd-event loop, refusals that are known at once are handed over
// through a defer source of that loop; otherwise through a round trip to the bus itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include "service/bus/Authority.h"


namespace raid::bus {

// Long enough for a user to notice the agent's dialog and type a password.
inline constexpr std::chrono::seconds kPolkitDefaultTimeout{300};

class PolkitAuthority final : public Authority {
public:
    // `bus` is the service's system bus connection (a reference is kept).
    explicit PolkitAuthority(sd_bus* bus, std::chrono::microseconds timeout = kPolkitDefaultTimeout);
    ~PolkitAuthority() override;
    PolkitAuthority(const PolkitAuthority&) = delete;
    PolkitAuthority& operator=(const PolkitAuthority&) = delete;

    void check(const std::string& sender, BusAction action, Done done) override;

    // Checks that wait for their answer.
    std::size_t pending() const { return pending_.size(); }

private:
    struct Pending;
    static int onPolkitReply(sd_bus_message* reply, void* userdata, sd_bus_error*);
    static int onDeferSource(sd_event_source*, void* userdata);
    static int onRoundTrip(sd_bus_message*, void* userdata, sd_bus_error*);
    void refuseLater(std::unique_ptr<Pending> p, std::string problem);
    // Answers the check `id` (when it still waits) and forgets it.
    void finish(std::uint64_t id, const AuthorityAnswer& answer);
    // Withdraws the user's dialog of a check polkit did not answer in time.
    void cancelAtPolkit(const std::string& cancellationId);

    sd_bus* bus_;
    std::uint64_t timeoutUs_;
    std::uint64_t next_ = 1;
    bool destroying_ = false;
    std::map<std::uint64_t, std::unique_ptr<Pending>> pending_;
};

// Whether `name` is a unique connection name (":1.42"): the only kind of subject the
// service ever asks about, since a well-known name may change owner meanwhile.
bool isUniqueBusName(const std::string& name);

}  // namespace raid::bus

#include "service/bus/ServiceAuthority.h"

#include <map>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

namespace raid::bus {

namespace {

// Answers "no" on the connection's own loop, never from inside check().
class Refusal final : public Authority {
public:
    explicit Refusal(sd_bus* bus) : event_(sd_bus_get_event(bus)) {}
    ~Refusal() override {
        for (auto& [source, done] : waiting_) sd_event_source_disable_unref(source);
    }

    void check(const std::string&, BusAction, Done done) override {
        sd_event_source* source = nullptr;
        if (!event_ || sd_event_add_defer(event_, &source, &Refusal::fire, this) < 0) return;
        waiting_.emplace(source, std::move(done));
    }

private:
    static int fire(sd_event_source* source, void* data) {
        auto* self = static_cast<Refusal*>(data);
        const auto it = self->waiting_.find(source);
        if (it == self->waiting_.end()) return 0;
        Done done = std::move(it->second);
        self->waiting_.erase(it);
        sd_event_source_disable_unref(source);
        AuthorityAnswer answer;
        answer.problem = "Not authorized";
        done(answer);
        return 0;
    }
    sd_event* event_;
    std::map<sd_event_source*, Done> waiting_;
};

}  // namespace

std::unique_ptr<Authority> makeServiceAuthority(sd_bus* bus) { return std::make_unique<Refusal>(bus); }

}  // namespace raid::bus

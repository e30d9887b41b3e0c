// Clients that follow the day log live without root: WatchDayLog (polkit's read-logs,
// as GetDayLog) answers today's lines and from then on sends the caller each new line
// as DayLogLine addressed to it alone, never broadcast, until it calls UnwatchDayLog or
// leaves the bus. At most BusService::kMaxWatchers at once.
#include <systemd/sd-bus.h>

#include "service/bus/BusServiceImpl.h"

namespace raid::bus {

bool BusService::Impl::addWatcher(std::uint64_t id, const DayLogAnswer& a) {
    const Pending& p = pending.at(id);
    // Gone before its answer: a watch for nobody would hold a place for ever.
    if (p.senderGone) {
        finish(id);
        return false;
    }
    if (!watchers.count(p.sender) && watchers.size() >= kMaxWatchers) {
        reply(id, kErrorBusy, "Too many clients follow the day log; try again later", {});
        return false;
    }
    watchers[p.sender] = Watcher{a.day, a.lines.size()};
    return true;
}

int BusService::Impl::unwatch(sd_bus_message* m, const std::string& sender) {
    watchers.erase(sender);
    return sd_bus_reply_method_return(m, "");
}

void BusService::Impl::sendToWatchers(const std::string& day, std::size_t first, const std::vector<std::string>& lines) {
    if (watchers.empty()) return;
    const std::string d = busText(day);
    for (auto& [name, w] : watchers) {
        if (w.day != day) {
            // A new day: its lines count from its first.
            w.day = day;
            w.next = 0;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // Lines its answer held already are not sent again.
            if (first != kUnknownIndex && first + i < w.next) continue;
            const std::string t = busText(lines[i]);
            sd_bus_message* m = nullptr;
            int r = sd_bus_message_new_signal(bus, &m, kManagerPath, kManagerInterface, "DayLogLine");
            if (r >= 0) r = sd_bus_message_set_destination(m, name.c_str());
            if (r >= 0) r = sd_bus_message_append(m, "ss", d.c_str(), t.c_str());
            if (r >= 0) sd_bus_send(bus, m, nullptr);
            sd_bus_message_unref(m);
        }
        if (first != kUnknownIndex && first + lines.size() > w.next) w.next = first + lines.size();
    }
}

int BusService::Impl::onNameOwnerChanged(sd_bus_message* m, void* data, sd_bus_error*) {
    auto* self = static_cast<Impl*>(data);
    const char *name = nullptr, *from = nullptr, *to = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &from, &to) < 0 || !name || name[0] != ':' || (to && *to)) return 0;
    self->watchers.erase(name);
    for (auto& [id, p] : self->pending)
        if (p.sender == name) p.senderGone = true;
    return 0;
}

}  // namespace raid::bus

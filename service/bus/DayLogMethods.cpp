// The day-log methods (GetDayLog, GetOlderDayLog, ListDayLogs) once the authority has
// allowed them, and the LogLine signal.
#include <systemd/sd-bus.h>

#include "service/bus/BusMessages.h"
#include "service/bus/BusServiceImpl.h"

namespace raid::bus {

void BusService::Impl::askDayLog(std::uint64_t id) {
    std::weak_ptr<Inbox> box = inbox;
    engine.dayLog(pending.at(id).call, [box, id](DayLogAnswer a) {
        if (const auto b = box.lock()) b->push([id, a = std::move(a)](Impl& self) { self.answerDayLog(id, a); });
    });
}

void BusService::Impl::answerDayLog(std::uint64_t id, const DayLogAnswer& a) {
    reply(id, a.errorName, a.errorText, [&a](sd_bus_message* m, const BusCall& call) {
        int r = call.method != BusMethod::listDayLogs ? appendText(m, a.day) : 0;
        if (r >= 0) r = appendTexts(m, a.lines);
        return r;
    });
}

void BusService::Impl::emitLogLines(const std::string& day, const std::vector<std::string>& lines) {
    const std::string d = busText(day);
    for (const std::string& l : lines) {
        const std::string t = busText(l);
        sd_bus_emit_signal(bus, kManagerPath, kManagerInterface, "LogLine", "ss", d.c_str(), t.c_str());
    }
}

}  // namespace raid::bus

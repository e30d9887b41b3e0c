// The day-log methods (GetDayLog, GetOlderDayLog, ListDayLogs, WatchDayLog) once the
// authority has allowed them, and the LogLine signal.
#include <systemd/sd-bus.h>

#include "service/bus/BusMessages.h"
#include "service/bus/BusServiceImpl.h"

namespace raid::bus {

void BusService::Impl::askDayLog(std::uint64_t id) {
    std::weak_ptr<Inbox> box = inbox;
    BusCall call = pending.at(id).call;
    // A watch begins with today's lines as GetDayLog gives them.
    if (call.method == BusMethod::watchDayLog) call.method = BusMethod::getDayLog;
    engine.dayLog(call, [box, id](DayLogAnswer a) {
        if (const auto b = box.lock()) b->push([id, a = std::move(a)](Impl& self) { self.answerDayLog(id, a); });
    });
}

void BusService::Impl::answerDayLog(std::uint64_t id, const DayLogAnswer& a) {
    const auto it = pending.find(id);
    if (it != pending.end() && it->second.call.method == BusMethod::watchDayLog && a.errorName.empty() &&
        !addWatcher(id, a))
        return;
    reply(id, a.errorName, a.errorText, [&a](sd_bus_message* m, const BusCall& call) {
        int r = call.method != BusMethod::listDayLogs ? appendText(m, a.day) : 0;
        if (r >= 0) r = appendTexts(m, a.lines);
        return r;
    });
}

void BusService::Impl::askHistory(std::uint64_t id) {
    std::weak_ptr<Inbox> box = inbox;
    engine.history(pending.at(id).call, [box, id](HistoryAnswer a) {
        if (const auto b = box.lock()) b->push([id, a = std::move(a)](Impl& self) { self.answerHistory(id, a); });
    });
}

void BusService::Impl::answerHistory(std::uint64_t id, const HistoryAnswer& a) {
    reply(id, a.errorName, a.errorText, [&a](sd_bus_message* m, const BusCall&) {
        const HistorySeries& s = a.series;
        int r = appendText(m, s.key);
        if (r >= 0) r = appendText(m, s.label);
        if (r >= 0) r = sd_bus_message_append(m, "in", s.fanAlarmAt, s.temperatureAlarmAt);
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "(xniyyyy)");
        for (std::size_t i = 0; r >= 0 && i < s.samples.size(); ++i) {
            const HistorySample& x = s.samples[i];
            r = sd_bus_message_append(m, "(xniyyyy)", static_cast<std::int64_t>(x.minute), x.temperature, x.fanSpeed,
                                      x.alarms, x.driveFlags, static_cast<std::uint8_t>(x.activity), x.percent);
        }
        if (r >= 0) r = sd_bus_message_close_container(m);
        return r;
    });
}

void BusService::Impl::emitLogLines(const std::string& day, std::size_t first, const std::vector<std::string>& lines) {
    const std::string d = busText(day);
    for (const std::string& l : lines) {
        const std::string t = busText(l);
        sd_bus_emit_signal(bus, kManagerPath, kManagerInterface, "LogLine", "ss", d.c_str(), t.c_str());
    }
    sendToWatchers(day, first, lines);
}

}  // namespace raid::bus

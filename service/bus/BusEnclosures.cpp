// The enclosure objects: one per enclosure the last poll listed, its state as
// properties, one PropertiesChanged per poll; and the alert signal.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "service/bus/BusMessages.h"
#include "service/bus/BusServiceImpl.h"

namespace raid::bus {

int BusService::Impl::publishEnclosures() {
    int r = sd_bus_add_fallback_vtable(bus, nullptr, kEnclosurePrefix, kEnclosureInterface, enclosureVtable,
                                       &Impl::findEnclosure, this);
    return r < 0 ? r : sd_bus_add_node_enumerator(bus, nullptr, kEnclosurePrefix, &Impl::enumerate, this);
}

std::string BusService::Impl::pathOf(int slot) { return std::string(kEnclosurePrefix) + "/drive" + std::to_string(slot); }

int BusService::Impl::slotOf(std::string_view p) {
    const std::string prefix = std::string(kEnclosurePrefix) + "/drive";
    if (p.compare(0, prefix.size(), prefix) != 0 || p.size() == prefix.size() || p.size() > prefix.size() + 2)
        return -1;
    int slot = 0;
    for (std::size_t i = prefix.size(); i < p.size(); ++i) {
        if (p[i] < '0' || p[i] > '9') return -1;
        slot = slot * 10 + (p[i] - '0');
    }
    // One name per object: "drive01" is no enclosure's.
    return pathOf(slot) == p ? slot : -1;
}

void BusService::Impl::apply(EnclosureSnapshot s) {
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

int BusService::Impl::findEnclosure(sd_bus*, const char* path, const char*, void* data, void** found, sd_bus_error*) {
    auto* self = static_cast<Impl*>(data);
    const auto it = self->enclosures.find(slotOf(path));
    if (it == self->enclosures.end()) return 0;
    *found = &it->second;
    return 1;
}

int BusService::Impl::enumerate(sd_bus*, const char*, void* data, char*** nodes, sd_bus_error*) {
    auto* self = static_cast<Impl*>(data);
    char** list = static_cast<char**>(calloc(self->enclosures.size() + 1, sizeof(char*)));
    if (!list) return -ENOMEM;
    std::size_t n = 0;
    for (const auto& [slot, e] : self->enclosures) list[n++] = strdup(pathOf(slot).c_str());
    *nodes = list;
    return 0;
}

int BusService::Impl::enclosureProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
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
    if (p == "SecondsLeft") {
        // -1: nothing running, or the estimate is not known (stalled, just started).
        const std::int64_t v = e.timed && e.timeLeft.known ? std::llround(e.timeLeft.secondsLeft) : -1;
        return sd_bus_message_append_basic(reply, 'x', &v);
    }
    if (p == "PercentPerHour") {
        const double v = e.timed && e.timeLeft.known ? e.timeLeft.percentPerHour : 0.0;
        return sd_bus_message_append_basic(reply, 'd', &v);
    }
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

int BusService::Impl::managerProperty(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                                       void* data, sd_bus_error*) {
    return appendTexts(reply, static_cast<Impl*>(data)->notes);
}

void BusService::Impl::emitAlert(const AlertEvent& a) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(bus, &m, kManagerPath, kManagerInterface, "AlertRaised");
    if (r >= 0) r = sd_bus_message_append(m, "iii", a.kind, a.device, a.port);
    if (r >= 0) r = appendTexts(m, a.lines);
    if (r >= 0) sd_bus_send(bus, m, nullptr);
    sd_bus_message_unref(m);
}

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
    RAID_ENCLOSURE_PROPERTY("SecondsLeft", "x"),
    RAID_ENCLOSURE_PROPERTY("PercentPerHour", "d"),
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

}  // namespace raid::bus

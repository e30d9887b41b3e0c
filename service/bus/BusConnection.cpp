#include "service/bus/BusConnection.h"

#include <cstring>
#include <systemd/sd-bus.h>

namespace raid::bus {

int openBusConnection(const std::string& address, sd_bus** bus) {
    *bus = nullptr;
    if (address.empty()) return sd_bus_open_system(bus);
    int r = sd_bus_new(bus);
    if (r >= 0) r = sd_bus_set_address(*bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(*bus, 1);
    if (r >= 0) r = sd_bus_start(*bus);
    if (r < 0) *bus = sd_bus_unref(*bus);
    return r;
}

std::string connectionProblem(const std::string& address, int error) {
    return std::string("cannot connect to the ") + (address.empty() ? "system bus" : "bus " + address) + ": " +
           std::strerror(-error);
}

}  // namespace raid::bus

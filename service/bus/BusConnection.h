// A connection to the system bus, or to the bus a test or an administrator names
// ("unix:path=..."): the service's own and its command-line clients' alike.
#pragma once

#include <string>

typedef struct sd_bus sd_bus;

namespace raid::bus {

// Connects `*bus` ("" is the system bus). Negative errno when it cannot; then *bus is
// null.
int openBusConnection(const std::string& address, sd_bus** bus);

// "cannot connect to the system bus: ..." for the error openBusConnection gave.
std::string connectionProblem(const std::string& address, int error);

}  // namespace raid::bus

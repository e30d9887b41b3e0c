// The authority the service asks before a method runs. Until the polkit check is wired
// in, it refuses every call that needs one: the service fails closed.
#pragma once

#include <memory>

#include "service/bus/Authority.h"

typedef struct sd_bus sd_bus;

namespace raid::bus {

std::unique_ptr<Authority> makeServiceAuthority(sd_bus* bus);

}  // namespace raid::bus

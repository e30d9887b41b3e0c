// The authority the service asks before a method runs: polkit, asked on the service's own
// bus connection (see PolkitAuthority.h; a check polkit cannot answer is a refusal).
#pragma once

#include <memory>

#include "service/bus/Authority.h"

typedef struct sd_bus sd_bus;

namespace raid::bus {

std::unique_ptr<Authority> makeServiceAuthority(sd_bus* bus);

}  // namespace raid::bus

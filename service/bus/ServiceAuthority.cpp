#include "service/bus/ServiceAuthority.h"

#include "service/bus/PolkitAuthority.h"

namespace raid::bus {

std::unique_ptr<Authority> makeServiceAuthority(sd_bus* bus) { return std::make_unique<PolkitAuthority>(bus); }

}  // namespace raid::bus

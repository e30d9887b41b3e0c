#pragma once

#include <cstdint>
#include <memory>

#include "platform/Random.h"

namespace raid::linuxport {

// Seed for the sector and pattern generator, different from one start to the next
// (seeded from the clock, as on Windows). Never 0.
std::uint32_t makeSeedFromTime();

// XorShiftRandom seeded with makeSeedFromTime().
std::unique_ptr<RandomPort> makeRandom();

}  // namespace raid::linuxport

#pragma once

#include <cstdint>
#include <memory>

#include "platform/Random.h"

namespace raid::linuxport {

// Seed for the sector and pattern generator, different from one start to the next
// (the original seeds from the clock as well). Never 0.
std::uint32_t makeSeedFromTime();

// XorShiftRandom seeded with makeSeedFromTime().
std::unique_ptr<RandomPort> makeRandom();

}  // namespace raid::linuxport

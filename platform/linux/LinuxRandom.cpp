#include "platform/linux/LinuxRandom.h"

#include <unistd.h>

#include <chrono>

namespace raid::linuxport {

std::uint32_t makeSeedFromTime() {
    // Wall seconds alone would give two instances started in the same second the
    // same sequence; the nanoseconds and the process id break that tie.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    std::uint64_t mixed = ns ^ (static_cast<std::uint64_t>(::getpid()) << 32);
    // splitmix64 finaliser: spreads the few changing low bits over the word.
    mixed ^= mixed >> 30;
    mixed *= 0xbf58476d1ce4e5b9ull;
    mixed ^= mixed >> 27;
    mixed *= 0x94d049bb133111ebull;
    mixed ^= mixed >> 31;
    const auto seed = static_cast<std::uint32_t>(mixed ^ (mixed >> 32));
    return seed ? seed : 1u;
}

std::unique_ptr<RandomPort> makeRandom() { return std::make_unique<XorShiftRandom>(makeSeedFromTime()); }

}  // namespace raid::linuxport

// The generator's seed from the system's random source, so two programs started in
// the same millisecond still pick different sectors; the tick count and the process
// id when that source does not answer.
#include <windows.h>

#include <ntsecapi.h>

#include <cstdint>

#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {

std::uint32_t systemSeed() {
    std::uint32_t seed = 0;
    if (!RtlGenRandom(&seed, sizeof seed) || seed == 0) {
        std::uint64_t mixed = (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64();
        LARGE_INTEGER counter{};
        if (::QueryPerformanceCounter(&counter)) mixed ^= static_cast<std::uint64_t>(counter.QuadPart) << 7;
        // splitmix64 finaliser: spreads the few changing low bits over the word.
        mixed ^= mixed >> 30;
        mixed *= 0xbf58476d1ce4e5b9ull;
        mixed ^= mixed >> 27;
        mixed *= 0x94d049bb133111ebull;
        mixed ^= mixed >> 31;
        seed = static_cast<std::uint32_t>(mixed ^ (mixed >> 32));
    }
    return seed ? seed : 1u;
}

}  // namespace

std::unique_ptr<RandomPort> makeRandom() { return std::make_unique<XorShiftRandom>(systemSeed()); }

}  // namespace raid::win32

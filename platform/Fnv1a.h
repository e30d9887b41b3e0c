// FNV-1a (64 bits): a short, fixed-size name for a longer text - a disk's id in its lock
// file's name, an enclosure's key in its history files' names - that stays the same
// across runs, builds and machines, which std::hash does not promise.
#pragma once

#include <cstdint>
#include <string_view>

namespace raid {

inline constexpr std::uint64_t kFnv1aPrime = 1099511628211ull;
// The start these names have always been made with: FNV's published offset basis
// (14695981039346656037) with its last digit lost. Every program that takes a drive's
// lock must name it alike, and a history written by an earlier version must be found
// again, so the value stays as it is.
inline constexpr std::uint64_t kFnv1aNamesBasis = 1469598103934665603ull;

inline std::uint64_t fnv1a(std::string_view s, std::uint64_t basis = kFnv1aNamesBasis) {
    std::uint64_t h = basis;
    for (const unsigned char c : s) {
        h ^= c;
        h *= kFnv1aPrime;
    }
    return h;
}

}  // namespace raid

#include "monitor/StatusBays.h"

#include <array>

namespace raid {

namespace {

constexpr std::array<const char*, 3> kControllers = {"none", "raid", "hybrid"};
constexpr std::array<const char*, 5> kLooks = {"unknown", "empty", "present", "absent", "failed"};
constexpr std::array<const char*, 4> kWorks = {"idle", "rebuild", "scan", "flush"};

template <class E, std::size_t N>
bool known(E value, const std::array<const char*, N>&) {
    return static_cast<std::size_t>(value) < N;
}

template <class E, std::size_t N>
const char* word(E value, const std::array<const char*, N>& words) {
    return known(value, words) ? words[static_cast<std::size_t>(value)] : "?";
}

}  // namespace

std::string baysWords(const BaysView& v) {
    std::string s = word(v.controller, kControllers);
    for (BayLook look : v.bay) s += std::string(" ") + word(look, kLooks);
    s += std::string(" ") + word(v.work, kWorks);
    if (v.work == BayWork::Rebuild || v.work == BayWork::Scan)
        s += " " + std::to_string(v.target) + " " + std::to_string(v.percent);
    return s;
}

bool baysInRange(const BaysView& v) {
    return known(v.controller, kControllers) && known(v.bay[0], kLooks) && known(v.bay[1], kLooks) &&
           known(v.work, kWorks) && v.target >= 0 && v.target <= 2 && v.percent >= 0 && v.percent <= 255;
}

}  // namespace raid

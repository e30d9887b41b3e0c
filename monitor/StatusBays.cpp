#include "monitor/StatusBays.h"

#include <array>
#include <charconv>
#include <vector>

namespace raid {

namespace {

constexpr std::array<const char*, 3> kControllers = {"none", "raid", "hybrid"};
constexpr std::array<const char*, 5> kLooks = {"unknown", "empty", "present", "absent", "failed"};
constexpr std::array<const char*, 4> kWorks = {"idle", "rebuild", "scan", "flush"};

template <class E, std::size_t N>
bool lookup(std::string_view word, const std::array<const char*, N>& words, E& out) {
    for (std::size_t i = 0; i < N; ++i) {
        if (word == words[i]) {
            out = static_cast<E>(i);
            return true;
        }
    }
    return false;
}

bool number(std::string_view word, int lo, int hi, int& out) {
    if (word.empty() || word.size() > 3) return false;
    int v = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (ec != std::errc() || end != word.data() + word.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

std::string encodeBays(const BaysView& v) {
    std::string s = kControllers[static_cast<std::size_t>(v.controller)];
    for (BayLook look : v.bay) s += std::string(" ") + kLooks[static_cast<std::size_t>(look)];
    s += std::string(" ") + kWorks[static_cast<std::size_t>(v.work)];
    if (v.work == BayWork::Rebuild || v.work == BayWork::Scan)
        s += " " + std::to_string(v.target) + " " + std::to_string(v.percent);
    return s;
}

bool decodeBays(std::string_view text, BaysView& view) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        if (word.empty() || words.size() == 6) return false;
        words.push_back(word);
        if (blank == std::string_view::npos) break;
        text.remove_prefix(blank + 1);
        if (text.empty()) return false;  // a trailing blank
    }
    BaysView v;
    if (words.size() != 4 && words.size() != 6) return false;
    if (!lookup(words[0], kControllers, v.controller) || !lookup(words[1], kLooks, v.bay[0]) ||
        !lookup(words[2], kLooks, v.bay[1]) || !lookup(words[3], kWorks, v.work))
        return false;
    const bool measured = v.work == BayWork::Rebuild || v.work == BayWork::Scan;
    if (measured != (words.size() == 6)) return false;
    if (measured && (!number(words[4], 0, 2, v.target) || !number(words[5], 0, 255, v.percent))) return false;
    view = v;
    return true;
}

}  // namespace raid

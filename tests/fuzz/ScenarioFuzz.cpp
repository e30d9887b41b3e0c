// Scenario files are outside input: whatever the bytes, parsing refuses or accepts
// without crashing, hanging or reading past what it was given. Block files are looked
// up in an empty folder, so a name in the input never reaches a real file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "sim/Scenario.h"
#include "app/EmailStep.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string empty = [] {
        const auto dir = std::filesystem::temp_directory_path() / "raid-gui-fuzz-empty";
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    raid::sim::Scenario scenario;
    std::string error;
    const bool ok = raid::sim::parseScenario(in, "fuzz.scenario", empty, scenario, error, {"check", "maintenance", "email"});
    // A refusal always says where; an accepted scenario keeps its steps in time order.
    if (!ok && error.rfind("fuzz.scenario:", 0) != 0) __builtin_trap();
    if (ok) {
        for (std::size_t i = 1; i < scenario.steps.size(); ++i)
            if (scenario.steps[i].seconds < scenario.steps[i - 1].seconds) __builtin_trap();
        // The e-mail step's values: quoted, escaped, limited; never more than the text held.
        for (const auto& step : scenario.steps) {
            if (step.verb != "email") continue;
            raid::EmailStep email;
            std::string why;
            if (raid::parseEmailStep(step.rest, email, why)) {
                std::size_t total = 0;
                for (const auto& f : email.fields) total += f.first.size() + f.second.size();
                for (const auto& t : email.to) total += t.size();
                if (total > step.rest.size()) __builtin_trap();
            } else if (why.empty()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}

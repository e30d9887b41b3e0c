// The control names: one list, spelled once. A quoted control name anywhere else in
// the program would be a second spelling that can drift from the first.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "app/ControlNames.h"

namespace raid {
namespace {

TEST(ControlNames, EachNameIsListedOnceAndSpelledNowhereElseInTheProgram) {
    std::set<std::string> seen;
    for (const char* name : names::listed) EXPECT_TRUE(seen.insert(name).second) << "listed twice: " << name;
    for (const std::string& name : names::all()) EXPECT_TRUE(names::known(name)) << name;
    EXPECT_FALSE(names::known("Label9999"));

    namespace fs = std::filesystem;
    const fs::path root = RAID_SOURCE_DIR;
    const std::regex quoted("\"(\\w+)\"");
    for (const char* folder : {"app", "device", "gui", "monitor", "notify", "maintenance", "platform", "sim"}) {
        if (!fs::exists(root / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const fs::path& p = entry.path();
            if (!entry.is_regular_file() || (p.extension() != ".cpp" && p.extension() != ".h")) continue;
            if (p.filename() == "ControlNames.h") continue;
            std::ifstream in(p);
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                for (std::sregex_iterator it(line.begin(), line.end(), quoted), end; it != end; ++it)
                    EXPECT_FALSE(seen.count((*it)[1].str()))
                        << p.lexically_relative(root).string() << ":" << n << " spells " << (*it)[1].str();
            }
        }
    }
}

}  // namespace
}  // namespace raid

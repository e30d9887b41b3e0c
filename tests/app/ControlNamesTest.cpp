// The control names: one list, spelled once. A quoted control name anywhere else in
// the program would be a second spelling that can drift from the first.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
    // Words in double quotes on a line.
    auto quotedWords = [](const std::string& line) {
        std::vector<std::string> words;
        for (std::size_t at = line.find('"'); at != std::string::npos;) {
            const std::size_t end = line.find('"', at + 1);
            if (end == std::string::npos) break;
            words.push_back(line.substr(at + 1, end - at - 1));
            at = line.find('"', end + 1);
        }
        return words;
    };
    for (const char* folder : {"app", "device", "gui", "monitor", "notify", "maintenance", "platform", "sim"}) {
        if (!fs::exists(root / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const fs::path& p = entry.path();
            if (!entry.is_regular_file() || (p.extension() != ".cpp" && p.extension() != ".h")) continue;
            if (p.filename() == "ControlNames.h") continue;
            std::ifstream in(p);
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                for (const std::string& word : quotedWords(line))
                    EXPECT_FALSE(seen.count(word)) << p.lexically_relative(root).string() << ":" << n << " spells " << word;
            }
        }
    }
}

}  // namespace
}  // namespace raid

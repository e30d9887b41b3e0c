// The control names: one list, spelled once. A quoted control name anywhere else in
// the program would be a second spelling that can drift from the first.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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
                    EXPECT_FALSE(seen.count(word))
                        << p.lexically_relative(root).string() << ":" << n << " spells " << word;
            }
        }
    }
}

// Controls is what the engine publishes for renderers, never a store it reads: the
// engine keeps its own state (which devices are watched, what the start-up text says,
// what the status bar says) and only writes the picture. A read of a control's
// property - text(), visible(), enabled(), checked(), get(), all() - on a Controls
// object anywhere in the engine's folders fails here. The renderers (gui/, the
// headless lines) and the simulated user of the scenario runner (sim/) read it; so do
// tests.
TEST(ControlNames, NoEngineCodeReadsAPropertyBackFromControls) {
    namespace fs = std::filesystem;
    const fs::path root = RAID_SOURCE_DIR;
    // The publishing side itself.
    const std::set<std::string> publishing = {"app/Controls.h", "app/Controls.cpp", "app/HeadlessOutput.cpp"};
    const std::regex declared(R"(\bControls\s*[&*]\s*(\w+))");
    const std::string reads = R"(\s*(\.|->)\s*(text|visible|enabled|checked|get|all)\s*\()";
    for (const char* folder : {"app", "device", "maintenance", "monitor", "notify", "platform", "service"}) {
        if (!fs::exists(root / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const fs::path& p = entry.path();
            if (!entry.is_regular_file() || (p.extension() != ".cpp" && p.extension() != ".h")) continue;
            const std::string rel = p.lexically_relative(root).generic_string();
            if (publishing.count(rel)) continue;
            std::ifstream in(p);
            std::stringstream whole;
            whole << in.rdbuf();
            const std::string text = whole.str();
            // Whatever names a Controls in this file: its members and accessors by their
            // usual names, and every variable declared as one.
            std::string receivers = R"(controls_|controls\(\)|\.controls|->controls)";
            for (std::sregex_iterator m(text.begin(), text.end(), declared), end; m != end; ++m)
                receivers += "|\\b" + (*m)[1].str() + "\\b";
            const std::regex read("(" + receivers + ")" + reads);
            // The status bar's texts are the engine's own (MainForm::panelText), so they
            // are written through MainForm::setPanel only.
            const std::regex panelWrite(R"(setText\s*\(\s*(panelName|names::panel)\s*\()");
            // A picture, a bar, a grid or a page book is drawn from its typed view, so a
            // text sent to one is a value flattened for some renderer to parse back.
            const std::regex flattened(
                R"(setText\s*\(\s*names::(Image0_Bays|ProgressBar1|StringGrid1|StringGrid2|Notebook1|Notebook2)\b)");
            std::istringstream lines(text);
            std::string line;
            for (int n = 1; std::getline(lines, line); ++n) {
                if (rel != "app/MainForm.cpp") {
                    EXPECT_FALSE(std::regex_search(line, panelWrite))
                        << rel << ":" << n << " writes a panel past setPanel: " << line;
                }
                EXPECT_FALSE(std::regex_search(line, flattened))
                    << rel << ":" << n << " flattens a typed view: " << line;
                EXPECT_FALSE(std::regex_search(line, read))
                    << rel << ":" << n << " reads the engine's picture back: " << line;
            }
        }
    }
}

}  // namespace
}  // namespace raid

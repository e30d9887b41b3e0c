// What a user sees must not move while the engine's insides are rebuilt: the headless
// lines of raid-gui-sim and the day logs of a set of runs (the documented scenarios, the
// built-in default, and scenarios covering detection, the E-mail page, alert mails and
// upgrades on every path) are compared byte for byte with files recorded beside this
// test (tests/app/baseline/).
//
// The one allowed difference: lines the engine now publishes at start-up for a control's
// caption. Such a line has the time stamp of the first line, and its control and text are
// exactly a control and its caption (names::captions); it is dropped before comparing.
//
// To record again (only when a change of what the user sees is intended):
//     RAID_RECORD_BASELINE=1 build/tests/test_app --gtest_filter='Baseline*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/ControlNames.h"
#include "sim/Records.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

const fs::path kBaselineDir = fs::path(RAID_SOURCE_DIR) / "tests" / "app" / "baseline";
const fs::path kDocsDir = fs::path(RAID_SOURCE_DIR) / "docs" / "scenarios";

// Controls and the captions start-up may publish for them: the engine's caption table.
const std::set<std::pair<std::string, std::string>>& captions() {
    static const std::set<std::pair<std::string, std::string>> table = [] {
        std::set<std::pair<std::string, std::string>> t;
        for (const names::Caption& c : names::captions) t.emplace(c.control, c.text);
        return t;
    }();
    return table;
}

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The output without the start-up caption lines.
std::vector<std::string> withoutStartupCaptions(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    const std::string start = lines.empty() ? "" : lines.front().substr(0, lines.front().find(' '));
    for (const std::string& line : lines) {
        const std::size_t a = line.find(' ');
        const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        const bool caption = b != std::string::npos && line.substr(0, a) == start &&
                             captions().count({line.substr(a + 1, b - a - 1), line.substr(b + 1)}) != 0;
        if (!caption) kept.push_back(line);
    }
    return kept;
}

struct Case {
    std::string name;
    std::string scenario;  // empty: the built-in default
    std::string options;
};

class Baseline : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        // Day-log names and event times are local time: the same zone for every run.
        test::setEnv("TZ", test::kUtcTz);
        test::readTimeZone();
        dir_ = test::makeTempDir();
        for (const char* bin : {"identity-hybrid.bin", "identity-raid.bin", "hybrid-flush.bin", "raid1-rebuild.bin"})
            fs::copy_file(kDocsDir / bin, dir_ / bin);
        sim::writeBlockFile((dir_ / "id.bin").string(), sim::makeIdentityPage());
        sim::IdentityOptions second;
        second.serial = "SIMENC00000000000002";
        sim::writeBlockFile((dir_ / "id2.bin").string(), sim::makeIdentityPage(second));
        sim::writeBlockFile((dir_ / "ok.bin").string(), sim::makeStatusRecord());
        ASSERT_EQ(test::runSimTool("--write-image " + (dir_ / "fw2.bin").string() + " 2", dir_.string()).status, 0);
        ASSERT_EQ(test::runSimTool("--write-image " + (dir_ / "fw5.bin").string() + " 5", dir_.string()).status, 0);
        std::ofstream(dir_ / "short.bin") << "FIPS, but far too short";
        fs::create_directory(dir_ / "logs");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    fs::path dir_;
};

TEST_P(Baseline, HeadlessLinesAndDayLogsAreAsRecorded) {
    const Case& c = GetParam();
    std::string args = "--headless --start 2026-12-07T10:00:00 --log-dir " + (dir_ / "logs").string() + " " + c.options;
    if (!c.scenario.empty()) {
        // The scenario runs from the folder that holds its record and image files.
        const fs::path from = c.scenario.rfind("docs/", 0) == 0 ? fs::path(RAID_SOURCE_DIR) / c.scenario
                                                               : kBaselineDir / c.scenario;
        fs::copy_file(from, dir_ / from.filename());
        args += " --scenario " + (dir_ / from.filename()).string();
    }
    test::ToolResult r = test::runSimTool(args, dir_.string());
    ASSERT_EQ(r.status, 0) << r.err;
    // The run's folder is another one each time.
    for (std::size_t at; (at = r.out.find(dir_.string())) != std::string::npos;)
        r.out.replace(at, dir_.string().size(), "<dir>");
    // Recorded on Linux: on Windows the folder's separator and the system's words for a
    // refused connection are read as Linux spells them.
    const auto asOnLinux = [](std::string text) {
#ifdef _WIN32
        for (const auto& [windows, linux] : std::vector<std::pair<std::string, std::string>>{
                 {"<dir>\\", "<dir>/"},
                 {"logs\\SIM_", "logs/SIM_"},
                 {"Connection refused.", "Connection refused"},
                 {"No connection could be made because the target machine actively refused it.", "Connection refused"}})
            for (std::size_t at = 0; (at = text.find(windows, at)) != std::string::npos; at += linux.size())
                text.replace(at, windows.size(), linux);
#endif
        return text;
    };
    r.out = asOnLinux(r.out);

    std::vector<fs::path> days;
    for (const auto& e : fs::directory_iterator(dir_ / "logs"))
        if (e.path().extension() == ".log") days.push_back(e.path());
    std::sort(days.begin(), days.end());
    std::string dayLogs;
    for (const fs::path& p : days) dayLogs += "== " + p.filename().string() + "\n" + slurp(p);

    const fs::path outFile = kBaselineDir / (c.name + ".out");
    const fs::path logFile = kBaselineDir / (c.name + ".daylog");
    if (const char* record = std::getenv("RAID_RECORD_BASELINE"); record && std::string(record) == "1") {
        std::ofstream(outFile, std::ios::binary) << r.out;
        std::ofstream(logFile, std::ios::binary) << dayLogs;
        GTEST_SKIP() << "recorded " << outFile;
    }
    ASSERT_TRUE(fs::exists(outFile)) << outFile;
    const std::vector<std::string> want = withoutStartupCaptions(splitLines(slurp(outFile)));
    const std::vector<std::string> got = withoutStartupCaptions(splitLines(r.out));
    ASSERT_FALSE(want.empty());
    for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const std::string w = i < want.size() ? want[i] : "<none>", g = i < got.size() ? got[i] : "<none>";
        ASSERT_EQ(g, w) << c.name << ".out line " << i + 1;
    }
    EXPECT_EQ(asOnLinux(dayLogs), slurp(logFile)) << c.name << ".daylog";
}

INSTANTIATE_TEST_SUITE_P(Runs, Baseline,
                         ::testing::Values(Case{"default", "", "--until 60"},
                                           Case{"status_hybrid", "docs/scenarios/status-hybrid.scenario", "--until 30"},
                                           Case{"status_rebuild", "docs/scenarios/status-rebuild.scenario", "--until 30"},
                                           Case{"detection", "detection.scenario", "--until 180"},
                                           Case{"email", "email.scenario", "--until 200"},
                                           Case{"upgrade", "upgrade.scenario", "--latency-us 500 --until 500"},
                                           Case{"upgrade_vu", "upgrade-vu.scenario", "--latency-us 200 --until 400"}),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

}  // namespace
}  // namespace raid

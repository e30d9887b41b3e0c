// raid-gui-sim refuses numbers and names it cannot honour, ends on time whatever the
// latency, and reports a trace or an output it could not write.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/ScenarioKit.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

using Result = test::ToolResult;

Result tool(const std::string& args, const std::string& dir, const std::string& stdoutTo = "") {
    return test::runSimTool(args + " --log-dir " + dir, dir, stdoutTo);
}

TEST(SimToolLimits, OutOfRangeNumbersAndEmptyNamesAreRefused) {
    test::ScenarioKit kit;
    for (const std::string args :
         {"--until inf", "--until 1e13", "--until nan", "--until -1", "--latency-us 1e19", "--latency-us 1e12",
          "--scenario ''", "--trace ''", "--start 1969-12-31T23:59:59", "--start 2026-02-31T00:00:00"}) {
        const Result r = tool("--headless " + args, kit.dir());
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    // The log folder option is checked the same way (it comes last on the line above).
    EXPECT_EQ(test::runSimTool("--headless --log-dir ''", kit.dir()).status, 2);
}

TEST(SimToolLimits, TheRunEndsAtUntilWhateverTheLatency) {
    test::ScenarioKit kit;
    const auto before = std::chrono::steady_clock::now();
    const Result r = tool("--headless --latency-us 60000000 --until 120", kit.dir());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    std::istringstream lines(r.out);
    double last = 0;
    for (std::string line; std::getline(lines, line);) last = std::max(last, std::stod(line));
    EXPECT_LE(last, 120.0);
    EXPECT_GT(last, 60.0);
}

TEST(SimToolLimits, StartAtTheEpochIsTakenAsGiven) {
    test::ScenarioKit kit;
    const Result r = tool("--headless --until 2 --start 1970-01-02T00:00:00", kit.dir());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::ifstream(kit.dir() + "/700102.log").good());
}

TEST(SimToolLimits, ATraceOrOutputThatCannotBeWrittenIsAnError) {
    test::ScenarioKit kit;
    Result r;
#ifndef _WIN32  // a device that refuses every write: Windows has none
    r = tool("--headless --until 5 --trace /dev/full", kit.dir());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
    r = tool("--headless --until 5", kit.dir(), "/dev/full");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("output"), std::string::npos) << r.err;
#endif
    r = tool("--headless --until 5 --trace /nonexistent/t.trace", kit.dir());
    EXPECT_EQ(r.status, 2);
}


TEST(SimToolLimits, TheWindowReportsItsTraceAndClosesAtUntil) {
    test::ScenarioKit kit;
    // Built without the window, every run is headless; the checks hold the same.
    Result r = tool("--trace /nonexistent/t.trace --until 2", kit.dir());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/nonexistent/t.trace"), std::string::npos) << r.err;
    const auto before = std::chrono::steady_clock::now();
    r = tool("--until 2", kit.dir());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
}

TEST(SimToolLimits, RefusedVerbsNameTheWholePath) {
    test::ScenarioKit kit;
    const std::string path = kit.dir() + "/verbs.scenario";
    std::ofstream(path) << "0 disk 0\n1 check 3 on\n";
    const Result r = tool("--headless --scenario " + path, kit.dir());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind(path + ":2: ", 0), 0u) << r.err;
}

}  // namespace
}  // namespace raid

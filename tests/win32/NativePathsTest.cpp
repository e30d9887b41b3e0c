// Paths in Windows' own spelling: a scenario named as C:\...\upgrade.scenario loads the
// image it names from its own folder, and the day log and the flash copy land in a log
// folder given with backslashes, named with them in what the user reads.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/run/SimRunner.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

TEST(NativePaths, AScenarioAndItsLogFolderSpelledWithBackslashes) {
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string dir = std::string(temp) + "raid-native-paths-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_EQ(dir.find('/'), std::string::npos) << dir;

    ASSERT_TRUE(sim::writeBlockFile(dir + "\\id.bin", sim::makeIdentityPage()));
    ASSERT_TRUE(sim::writeBlockFile(dir + "\\ok.bin", sim::makeStatusRecord()));
    sim::FirmwareImageOptions image;  // five sub-codes: a full upgrade, which keeps a copy of the flash
    image.subCodes.assign(5, sim::SubCodeOptions{});
    for (std::size_t i = 0; i < image.subCodes.size(); ++i)
        image.subCodes[i].codeType = static_cast<std::uint8_t>(0x31 + i);
    ASSERT_TRUE(sim::writeFlashFile(dir + "\\fw5.bin", sim::makeFirmwareImage(image)));
    std::ofstream(dir + "\\upgrade.scenario") << "0 disk 0\n"
                                                 "0 attach 1 mailbox identity=id.bin status=ok.bin\n"
                                                 "3 upgrade fw5.bin 1\n";

    sim::RunOptions options;
    options.scenarioPath = dir + "\\upgrade.scenario";
    options.logDir = dir + "\\logs";
    options.untilSeconds = 120;
    options.watchSignals = false;
    ASSERT_TRUE(sim::parseStartTime("2026-12-07T10:00:00", options.startWallSeconds));
    {
        sim::SimRunner runner(options, nullptr);
        std::string error;
        ASSERT_TRUE(runner.load(error)) << error;
        ASSERT_TRUE(runner.start(error)) << error;
        runner.run();
        ASSERT_TRUE(runner.finish(error)) << error;
        const std::vector<std::string>& lines = runner.lines();
        // The image was found beside the scenario, not in the folder the test runs in.
        EXPECT_TRUE(contains(lines, "Edit9 " + dir + "\\fw5.bin"));
        EXPECT_TRUE(contains(lines, "completed!"));
        // The copy of the flash is named in the log folder's own spelling.
        EXPECT_TRUE(contains(lines, dir + "\\logs\\SIM_")) << "no flash copy named in " << dir << "\\logs";
        EXPECT_FALSE(contains(lines, "logs/")) << "a path with a forward slash in it";
    }
    bool dayLog = false, flashCopy = false;
    for (const auto& e : fs::directory_iterator(dir + "\\logs")) {
        dayLog = dayLog || e.path().extension() == ".log";
        flashCopy = flashCopy || e.path().extension() == ".bin";
    }
    EXPECT_TRUE(dayLog);
    EXPECT_TRUE(flashCopy);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace raid

// raid-gui-sim with a firmware image as an enclosure's flash and --dump-flash: the
// image comes back byte for byte, and a dump that cannot be written (or names no
// enclosure) ends the run with status 2 and a message.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "support/ScenarioKit.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

using Result = test::ToolResult;

Result tool(const std::string& args, const std::string& dir) {
    return test::runSimTool("--headless --until 3 --log-dir " + dir + " " + args, dir);
}

TEST(SimToolFlash, DumpGivesBackTheFlashTheScenarioLoaded) {
    test::ScenarioKit kit;
    const std::string d = kit.dir();
    sim::FirmwareImageOptions o;
    o.subCodes = {{0x31, std::nullopt, true}, {0x35, std::nullopt, true}, {0x32, std::nullopt, false}};
    const std::vector<std::uint8_t> image = sim::makeFirmwareImage(o);
    ASSERT_TRUE(sim::writeFlashFile(d + "/fw.bin", image));
    kit.block("id.bin", sim::makeIdentityPage());
    kit.block("st.bin", sim::makeStatusRecord());
    std::ofstream(d + "/f.scn") << "0 disk 0\n0 attach 1 mailbox identity=id.bin status=st.bin\n0 flash 1 fw.bin\n";

    const Result r = tool("--scenario " + d + "/f.scn --dump-flash 1 " + d + "/dump.bin", d);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::uint8_t> dumped;
    std::string err;
    ASSERT_TRUE(sim::readFlashFile(d + "/dump.bin", sim::kFlashSize, dumped, err)) << err;
    EXPECT_TRUE(dumped == image);

    // Without a flash step the dump is the controller's own starting flash: not the image.
    ASSERT_EQ(tool("--dump-flash 1 " + d + "/own.bin", d).status, 0);
    ASSERT_TRUE(sim::readFlashFile(d + "/own.bin", sim::kFlashSize, dumped, err)) << err;
    EXPECT_FALSE(dumped == image);
}

TEST(SimToolFlash, UnwritableDumpsAndNonEnclosuresEndWithStatusTwo) {
    test::ScenarioKit kit;
    const std::string d = kit.dir();
    const test::PlantedPipe fifo(d, "fifo");  // opening it to write would wait for a reader
    ASSERT_FALSE(fifo.path.empty());
    struct Case {
        std::string args, message;
    };
    for (const Case& c : std::vector<Case>{
             {"--dump-flash 0 " + d + "/x.bin", "--dump-flash: drive 0 is no enclosure"},
             {"--dump-flash 7 " + d + "/x.bin", "--dump-flash: drive 7 is no enclosure"},
             {"--dump-flash 1 " + d, d + ": cannot write the flash dump"},
             {"--dump-flash 1 " + d + "/no/such/dir/x.bin", d + "/no/such/dir/x.bin: cannot write the flash dump"},
             {"--dump-flash 10 " + d + "/x.bin", "--dump-flash takes a drive number from 0 to 9 and a file"},
             {"--dump-flash 1.5 " + d + "/x.bin", "--dump-flash takes a drive number from 0 to 9 and a file"},
             {"--dump-flash 1", "--dump-flash takes a drive number from 0 to 9 and a file"},
             {"--dump-flash 1 " + fifo.path, fifo.path + ": cannot write the flash dump"},
         }) {
        const Result r = tool(c.args, d);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << " -> " << r.err;
    }
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// The scenario step presses Upgrade as a user would; the headless output shows the
// progress panel and bar, and the dump is the image.
TEST(SimToolFlash, AnUpgradeStepWritesTheImageAndShowsItsProgress) {
    test::ScenarioKit kit;
    const std::string d = kit.dir();
    // The tool's own sample image, with five sub-codes: a full upgrade.
    ASSERT_EQ(test::runSimTool("--write-image " + d + "/fw.bin 5", d).status, 0);
    std::vector<std::uint8_t> image;
    std::string readError;
    ASSERT_TRUE(sim::readFlashFile(d + "/fw.bin", sim::kFlashSize, image, readError)) << readError;
    EXPECT_EQ(image[0x78001], 0xA0);
    EXPECT_NE(test::runSimTool("--write-image " + d + "/x.bin 10", d).status, 0);
    kit.block("id.bin", sim::makeIdentityPage());
    kit.block("st.bin", sim::makeStatusRecord());
    std::ofstream(d + "/u.scn") << "0 disk 0\n0 attach 1 ata identity=id.bin status=st.bin\n3 upgrade fw.bin 1\n"
                                << "4 sessionend\n";
    const Result r = test::runSimTool("--headless --until 30 --latency-us 500 --log-dir " + d + " --scenario " + d +
                                          "/u.scn --dump-flash 1 " + d + "/dump.bin",
                                      d);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {" UpgradeTitle Firmware Update...", " UpgradePanel shown", " UpgradePanel Process 1 / 4",
                             " UpgradePanel Process 4 / 4", " ProgressBar1 4236/4236", " UpgradePanel hidden",
                             " CheckBox1 disabled", " CheckBox1 enabled",
                             " MessageBox[Firmware Upgrade Message] Firmware Upgrade 4/4 completed!"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out.substr(r.out.find("UpgradeTitle"), 1500);
    std::vector<std::uint8_t> dumped;
    std::string err;
    ASSERT_TRUE(sim::readFlashFile(d + "/dump.bin", sim::kFlashSize, dumped, err)) << err;
    EXPECT_TRUE(dumped == image);

    // A step that names no device, or no file, is refused when the scenario is read.
    std::ofstream(d + "/bad.scn") << "0 disk 0\n1 upgrade fw.bin 3\n";
    const Result bad = test::runSimTool("--headless --scenario " + d + "/bad.scn", d);
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("bad.scn:2: upgrade takes a firmware file and a device number 1 or 2"), std::string::npos)
        << bad.err;
}

}  // namespace
}  // namespace raid

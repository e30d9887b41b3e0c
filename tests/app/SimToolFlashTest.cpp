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
    ASSERT_EQ(::mkfifo((d + "/fifo").c_str(), 0600), 0);  // opening it to write would wait for a reader
    struct Case {
        std::string args, message;
    };
    for (const Case& c : std::vector<Case>{
             {"--dump-flash 0 " + d + "/x.bin", "--dump-flash: drive 0 is no enclosure"},
             {"--dump-flash 7 " + d + "/x.bin", "--dump-flash: drive 7 is no enclosure"},
             {"--dump-flash 1 " + d, d + ": cannot write the flash dump"},
             {"--dump-flash 1 " + d + "/fifo", d + "/fifo: cannot write the flash dump"},
             {"--dump-flash 1 " + d + "/no/such/dir/x.bin", d + "/no/such/dir/x.bin: cannot write the flash dump"},
             {"--dump-flash 10 " + d + "/x.bin", "--dump-flash takes a drive number from 0 to 9 and a file"},
             {"--dump-flash 1.5 " + d + "/x.bin", "--dump-flash takes a drive number from 0 to 9 and a file"},
             {"--dump-flash 1", "--dump-flash takes a drive number from 0 to 9 and a file"},
         }) {
        const Result r = tool(c.args, d);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << " -> " << r.err;
    }
}

}  // namespace
}  // namespace raid

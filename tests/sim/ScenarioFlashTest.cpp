// The flash and flipbit scenario steps: a firmware image as the enclosure's flash,
// hostile flash files refused with file:line (and without hanging), the round trip
// through saved files.
#include "Requests.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include "support/Portable.h"

using namespace raid::sim;
using namespace simtest;
namespace fs = std::filesystem;

namespace {

class ScenarioFlash : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("raid-simflash-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_TRUE(writeBlockFile((dir / "id.bin").string(), makeIdentityPage()));
        ASSERT_TRUE(writeBlockFile((dir / "ok.bin").string(), makeStatusRecord()));
        image = makeFirmwareImage();
        ASSERT_TRUE(writeFlashFile((dir / "fw.bin").string(), image));
    }
    void TearDown() override { fs::remove_all(dir); }

    bool parse(const std::string& text, Scenario& sc, std::string& err) {
        std::istringstream in(text);
        return parseScenario(in, "t.scn", dir.string(), sc, err);
    }
    static constexpr const char* kAttach = "0 attach 1 vu1 identity=id.bin status=ok.bin\n";
    fs::path dir;
    std::vector<std::uint8_t> image;
};

TEST_F(ScenarioFlash, ImageBecomesTheFlashAndFlipbitReachesTheNextReads) {
    Scenario sc;
    std::string err;
    ASSERT_TRUE(parse(std::string(kAttach) + "0 flash 1 fw.bin\n0 flipbit 1\n2 flipbit 1 3\n", sc, err)) << err;
    SimPlatform p;
    for (const ScenarioStep& s : sc.steps) applyStep(p, s);
    EXPECT_TRUE(p.enclosure(1)->flashCopy() == image);

    const DriveHandle h = p.open(1);
    auto r = vuRead(1, 0x0);
    ASSERT_TRUE(r.send(p, h));
    // The later flipbit replaced the first: reads 0..2 are true, the fourth is flipped.
    for (int i = 0; i < 3; ++i) {
        auto again = vuRead(1, 0x0);
        ASSERT_TRUE(again.send(p, h));
        EXPECT_EQ(again.data[0], i == 2 ? image[0] ^ 1 : image[0]) << i;
    }
    EXPECT_EQ(r.data[0], image[0]);

    // Written out and read back, the steps carry the same flash.
    const fs::path out = dir / "saved";
    fs::create_directories(out);
    sc.name = "fl";
    const std::string file = saveScenario(sc, out.string(), err);
    ASSERT_FALSE(file.empty()) << err;
    Scenario back;
    ASSERT_TRUE(loadScenario(file, back, err)) << err;
    ASSERT_EQ(back.steps.size(), 4u);
    ASSERT_TRUE(back.steps[1].flash);
    EXPECT_TRUE(*back.steps[1].flash == image);
    EXPECT_EQ(back.steps[3].count, 3);
}

TEST_F(ScenarioFlash, HostileFlashFilesAndStepsAreRefusedWithFileAndLine) {
    std::ofstream((dir / "short.bin").string(), std::ios::binary) << "tiny";
    std::vector<std::uint8_t> big(image);
    big.push_back(0);
    ASSERT_TRUE(writeFlashFile((dir / "big.bin").string(), big));
    const raid::test::PlantedPipe fifo(dir.string(), "fifo");  // nobody ever writes to it
    ASSERT_FALSE(fifo.path.empty());
    const std::string zero = raid::test::kEndlessDevice;

    struct Case {
        std::string step, message;
    };
    for (const Case& c : std::vector<Case>{
             {"0 flash 1 short.bin", "t.scn:2: flash file '" + (dir / "short.bin").string() + "' is 4 bytes, not 524288"},
             {"0 flash 1 big.bin", "t.scn:2: flash file '" + (dir / "big.bin").string() + "' is more than 524288 bytes, not 524288"},
             {"0 flash 1 " + fifo.path, "t.scn:2: flash file cannot read '" + fifo.path + "' (a regular file is needed)"},
             {"0 flash 1 " + zero, "t.scn:2: flash file cannot read '" + zero + "' (a regular file is needed)"},
             {"0 flash 1 missing.bin", "t.scn:2: flash file cannot read '" + (dir / "missing.bin").string() + "' (a regular file is needed)"},
             {"0 flash 2 fw.bin", "t.scn:2: drive 2 is not an enclosure"},
             {"0 flash 1", "t.scn:2: 'flash' takes 2 arguments, not 1"},
             {"0 flipbit 1 -1", "t.scn:2: bad number of reads to skip '-1'"},
             {"0 flipbit 1 2 3", "t.scn:2: 'flipbit' takes 1 to 2 arguments, not 3"},
             {"0 flipbit 4", "t.scn:2: drive 4 is not an enclosure"},
             {"0 fail 1 flashsmoke 1", "t.scn:2: unknown fault 'flashsmoke' (read, write, inquiry, ata, vu, any, flashread, flasherase, flashprogram or flashmode)"},
         }) {
        Scenario sc;
        std::string err;
        EXPECT_FALSE(parse(std::string(kAttach) + c.step + "\n", sc, err)) << c.step;
        EXPECT_EQ(err, c.message);
    }

    Scenario sc;
    std::string err;
    ASSERT_TRUE(parse(std::string(kAttach) + "0 fail 1 flasherase 2\n0 fail 1 flashmode 1\n", sc, err)) << err;
    EXPECT_EQ(sc.steps[1].fault, FaultKind::FlashErase);
    EXPECT_EQ(sc.steps[2].fault, FaultKind::FlashMode);
}

}  // namespace

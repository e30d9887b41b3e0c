// The SPI primitives on the wire: each request as the controller expects it byte for
// byte, the mode commands around the loop, the failure texts, and the rules the
// upgrade takes its decisions by (record search, choice of procedure, backup name).
#include <gtest/gtest.h>

#include "app/DevicePresenter.h"
#include "maintenance/FirmwareUpgrade.h"
#include "maintenance/FlashBackup.h"
#include "maintenance/SpiFlash.h"
#include "support/CapturePort.h"

namespace raid {
namespace {

struct Texts final : Reporter {
    std::vector<std::string> panels, boxes;
    void panel(int, const std::string& text) override { panels.push_back(text); }
    void messageBox(const std::string& text, const std::string& caption) override { boxes.push_back(caption + ":" + text); }
};

struct Wire : ::testing::Test {
    test::CapturePort port;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(0);
    XorShiftRandom random{7};
    Texts texts;
    DevicePresenter presenter{texts};
    Transport transport{port, *sched, random, presenter};
    DeviceState dev;
    std::uint32_t progress = 0;
    int pumps = 0;
    SpiFlash spi{SpiPorts{transport, dev, [this] { ++pumps; }, progress}};

    void device(std::uint32_t code) {
        dev.ActiveDevices[0] = code;
        dev.ActiveCount = 1;
        dev.HeldDevice = 0;
    }
    // The CDB of each SCSI request, and for mailbox writes the sector and the block.
    static std::uint8_t cdb(const test::Captured& c, std::size_t i) { return c.block[spt::kCdb + i]; }
    static std::uint32_t lba(const test::Captured& c) {
        return std::uint32_t{cdb(c, 2)} << 24 | std::uint32_t{cdb(c, 3)} << 16 | std::uint32_t{cdb(c, 4)} << 8 | cdb(c, 5);
    }
};

TEST_F(Wire, MailboxEraseIsFramedByTheModesAndKeepsOneChecksum) {
    device(kCodeMailbox | 1);
    ASSERT_TRUE(spi.SpiErase(0x4000, 0x2000));  // below 0xC000: the low-area mode too
    ASSERT_EQ(port.log.size(), 6u);
    const std::uint8_t expectedModes[][2] = {{0x03, 1}, {0x04, 1}, {0, 0}, {0, 0}, {0x04, 0}, {0x03, 0}};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& c = port.log[i];
        ASSERT_EQ(cdb(c, 0), 0x2A);  // WRITE(10)
        ASSERT_EQ(c.data[0], '3');
        ASSERT_EQ(c.data[1], 'X');
        if (i == 2 || i == 3) {
            EXPECT_EQ(lba(c), 20u);
            EXPECT_EQ(c.data[2], 0x01);
            EXPECT_EQ(c.data[3], 0x20);
            EXPECT_EQ((c.data[4] << 16 | c.data[5] << 8 | c.data[6]), static_cast<int>(0x4000 + (i - 2) * 0x1000));
        } else {
            EXPECT_GE(lba(c), 3u);
            EXPECT_LE(lba(c), 130u);
            EXPECT_EQ(c.data[2], expectedModes[i][0]);
            EXPECT_EQ(c.data[3], expectedModes[i][1]);
        }
        // Bytes 510-511 always match the payload: the controller refuses anything else.
        EXPECT_EQ(c.data[510] | c.data[511] << 8, mailboxChecksum(c.data.data()));
    }
    EXPECT_EQ(progress, 2u);
    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(port.closes, 1);

    // From 0xC000 on there is no low-area mode; the decision is the start address's.
    port.log.clear();
    ASSERT_TRUE(spi.SpiErase(0xB000, 0x2000));
    EXPECT_EQ(port.log.size(), 6u);
    port.log.clear();
    ASSERT_TRUE(spi.SpiErase(0xC000, 0x1000));
    EXPECT_EQ(port.log.size(), 3u);
}

TEST_F(Wire, ProgramPagesCarryTheirBytesAndTheMark) {
    device(kCodeMailbox | 2);
    std::vector<std::uint8_t> data(0x300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(spi.SpiProgram(0x20000, 0x300, data.data()));
    ASSERT_EQ(port.log.size(), 5u);  // mode, three pages, mode
    for (std::size_t p = 0; p < 3; ++p) {
        const auto& c = port.log[1 + p];
        EXPECT_EQ(lba(c), 20u);
        EXPECT_EQ(c.data[2], 0x02);
        EXPECT_EQ(c.data[3], 0x02);
        EXPECT_EQ(c.data[5], 0x00 + p);
        EXPECT_TRUE(std::equal(data.begin() + static_cast<long>(p * 256), data.begin() + static_cast<long>(p * 256 + 256),
                               c.data.begin() + 7));
        EXPECT_EQ(c.data[509], 0x55);
        EXPECT_EQ(c.data[510] | c.data[511] << 8, mailboxChecksum(c.data.data()));
    }
    EXPECT_EQ(progress, 1u);  // one per 512 bytes, counted after every second page
    EXPECT_EQ(port.opened, std::vector<std::uint8_t>{2});
}

TEST_F(Wire, AtaReadsArmTheAnswerAndModesUseTheFeatures) {
    device(kCodeAta | 3);
    std::vector<std::uint8_t> out(1024);
    ASSERT_TRUE(spi.SpiRead(0x123400, 1024, out.data()));
    // mode 0x03, (ATA read, READ(10) of sector 60) twice, mode 0x02.
    ASSERT_EQ(port.log.size(), 6u);
    const auto& mode = port.log[0];
    EXPECT_EQ(mode.kind, test::Captured::Ide);
    EXPECT_EQ(mode.block[0], 0x03);
    EXPECT_EQ(mode.block[6], 0x88);
    const auto& read = port.log[3];
    ASSERT_EQ(read.kind, test::Captured::Ide);
    const std::uint8_t regs[7] = {0x01, 0, 0x00, 0x36, 0x12, 0xE0, 0x88};  // the address of the second page
    EXPECT_TRUE(std::equal(regs, regs + 7, read.block.begin()));
    EXPECT_EQ(cdb(port.log[4], 0), 0x28);
    EXPECT_EQ(lba(port.log[4]), 60u);
    EXPECT_EQ(port.log[5].block[0], 0x02);
    EXPECT_EQ(progress, 2u);

    // A failing mode command ends the primitive with its text and sends nothing more.
    port.log.clear();
    port.onIde = [](std::uint8_t* b, std::size_t) { return b[0] != 0x04; };
    EXPECT_FALSE(spi.SpiErase(0, 0x1000));
    EXPECT_EQ(texts.panels.back(), "VU command 0x88 FEA 04 Error");
    ASSERT_EQ(port.log.size(), 3u);  // 0x03, the failed 0x04, then 0x02
    EXPECT_EQ(port.log[2].block[0], 0x02);
    EXPECT_FALSE(spi.SpiModeCommand(0x07));  // no such mode: nothing sent
    EXPECT_EQ(port.log.size(), 3u);
}

TEST_F(Wire, VuDevicesGetNoModesAndTheirOwnTexts) {
    device(kCodeVu | kCodeShortPrefix | 4);
    EXPECT_TRUE(spi.SpiModeCommand(spimode::kUpgradeOn));
    std::vector<std::uint8_t> page(512, 0xAB);
    ASSERT_TRUE(spi.SpiProgram(0x1000, 256, page.data()));
    ASSERT_EQ(port.log.size(), 1u);  // the program request alone, though it is below 0xC000
    EXPECT_EQ(cdb(port.log[0], 0), 0xFE);
    EXPECT_EQ(cdb(port.log[0], 1), 0x89);
    EXPECT_EQ(port.log[0].data, std::vector<std::uint8_t>(256, 0xAB));

    port.onScsi = [](const std::uint8_t*, std::uint8_t*) { return false; };
    EXPECT_FALSE(spi.SpiRead(0, 512, page.data()));
    EXPECT_FALSE(spi.SpiErase(0, 4096));
    EXPECT_FALSE(spi.SpiProgram(0, 256, page.data()));
    EXPECT_EQ(texts.panels, (std::vector<std::string>{"Read SPI Error USB", "Erase SPI Error USB", "Write SPI Error USB"}));
}

TEST_F(Wire, DeviceErrorsComeBeforeAnyRequest) {
    EXPECT_FALSE(spi.SpiRead(0, 512, nullptr));  // nothing detected
    dev.ActiveCount = 1;
    dev.HeldDevice = 256;  // not holding any
    EXPECT_FALSE(spi.SpiModeCommand(spimode::kUpgradeOn));
    device(kCodeMailbox | 1);
    port.openOk = false;
    EXPECT_FALSE(spi.SpiErase(0xC000, 4096));
    EXPECT_TRUE(port.log.empty());
    EXPECT_EQ(texts.panels, (std::vector<std::string>{"Device not found!!!", "No Upgrade Mode!!!"}));
    EXPECT_EQ(texts.boxes, (std::vector<std::string>{"Message:No Device found !", "Message:No Upgrade Mode !",
                                                     "Error:Invalid Drive"}));
    // A mailbox write to a random sector that fails names the sector.
    port.openOk = true;
    port.onScsi = [](const std::uint8_t*, std::uint8_t*) { return false; };
    EXPECT_FALSE(spi.SpiModeCommand(spimode::kUpgradeOff));
    const std::uint32_t sector = lba(port.log.back());
    EXPECT_EQ(texts.panels.back(), "Error code " + std::to_string(sector) + "1");
}

// A failure is a value: the fault, the controller's own words, every failure met while
// the primitive cleaned up after it, and the context a caller adds. What is shown is
// exactly what the value carries, in the order it happened.
TEST_F(Wire, FailuresAreValuesCarryingTheirWordsAndContext) {
    device(kCodeMailbox | 1);
    // Only the command sector refuses: the erase fails, the modes around it still go.
    port.onScsi = [](const std::uint8_t* block, std::uint8_t*) { return block[spt::kCdb + 5] != 20; };
    DeviceResult r = spi.SpiErase(0x4000, 0x1000);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.fault(), DeviceFault::request);
    EXPECT_EQ(r.error().text, "Error code 201");
    EXPECT_EQ(r.errors().size(), 1u);
    EXPECT_EQ(r.lastWords(), "Error code 201");
    r.within("SPI Erase Fail.");
    EXPECT_EQ(r.lastWords(), "SPI Erase Fail.");
    EXPECT_EQ(r.context(), (std::vector<std::string>{"SPI Erase Fail."}));
    EXPECT_EQ(texts.panels, (std::vector<std::string>{"Error code 201"}));

    // When switching the low area back fails as well, that failure follows the erase's
    // in the value, and it is the last thing the user read.
    texts.panels.clear();
    port.onScsi = [](const std::uint8_t* block, std::uint8_t* data) {
        return block[spt::kCdb + 5] != 20 && !(data[2] == 0x04 && data[3] == 0x00);
    };
    r = spi.SpiErase(0x4000, 0x1000);
    ASSERT_EQ(r.errors().size(), 2u);
    EXPECT_EQ(r.error().text, "Error code 201");
    EXPECT_EQ(r.errors()[1].text.rfind("Error code ", 0), 0u);
    EXPECT_EQ(r.lastWords(), r.errors()[1].text);
    EXPECT_EQ(texts.panels, (std::vector<std::string>{r.errors()[0].text, r.errors()[1].text}));

    // The path is the code's: a VU code with the short prefix sends one 0xFE, the long
    // one two, and a successful result carries nothing.
    device(kCodeVu | 4);
    port.log.clear();
    port.onScsi = [](const std::uint8_t*, std::uint8_t*) { return true; };
    std::vector<std::uint8_t> page(512, 0);
    r = spi.SpiRead(0x1000, 512, page.data());
    EXPECT_TRUE(r);
    EXPECT_TRUE(r.errors().empty());
    EXPECT_EQ(r.lastWords(), "");
    ASSERT_EQ(port.log.size(), 1u);
    EXPECT_EQ(cdb(port.log[0], 1), 0xFE);
    EXPECT_EQ(cdb(port.log[0], 2), 0x85);
    EXPECT_STREQ(pathOf(kCodeVu | kCodeShortPrefix).name(), "vu");
    EXPECT_STREQ(pathOf(kCodeMailbox | kCodeAta).name(), "mailbox");
    EXPECT_STREQ(pathOf(kCodeAta).name(), "ata");
}

TEST(UpgradeRules, RecordSearchChoiceAndNames) {
    std::vector<std::uint8_t> area(0x8000, 0xFF);
    EXPECT_EQ(readFlashDirectory(area).currentIndex, 127u);
    EXPECT_EQ(nextRecordSequence(127), 0);
    EXPECT_EQ(nextRecordSequence(15), 16);
    // Records in slots 20..22 after erased ones: the newest is 22.
    for (int s = 20; s <= 22; ++s) area[static_cast<std::size_t>(s) * 256] = static_cast<std::uint8_t>(s);
    // Slot 22 lists one sub-code in each bank.
    auto entry = [&](int e, std::uint32_t at) {
        std::uint8_t* p = area.data() + 22 * 256 + 2 + 5 * e;
        p[0] = 0x31;
        p[1] = static_cast<std::uint8_t>(at);
        p[2] = static_cast<std::uint8_t>(at >> 8);
        p[3] = static_cast<std::uint8_t>(at >> 16);
        p[4] = 0x5A;
    };
    entry(0, 0xC000);
    FlashDirectory d = readFlashDirectory(area);
    EXPECT_EQ(d.currentIndex, 22u);
    EXPECT_EQ(d.low, 1);
    EXPECT_EQ(chooseUpgrade(d, 4), UpgradeKind::SubCode);
    EXPECT_EQ(chooseUpgrade(d, 5), UpgradeKind::Full);
    entry(1, 0x3C000);
    d = readFlashDirectory(area);
    EXPECT_EQ(d.high, 1);
    EXPECT_EQ(chooseUpgrade(d, 1), UpgradeKind::Full);
    area[22 * 256 + 1] = 0xC0;
    area[22 * 256 + 2 + 5] = 0xFF;  // one bank again, but a hybrid controller
    EXPECT_EQ(chooseUpgrade(readFlashDirectory(area), 1), UpgradeKind::Full);

    // Model and serial from the device are text from outside: they never leave the folder.
    const std::string name = firmwareBackupName("../../etc/pass wd\n\x1b[31m", "../x/\r\n", 0, 1);
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_EQ(name.find('\n'), std::string::npos);
    EXPECT_EQ(name.find('\r'), std::string::npos);
    EXPECT_NE(name.front(), '.');
    EXPECT_NE(name.rfind("-flash-"), std::string::npos);
    EXPECT_EQ(name.substr(name.size() - 4), ".bin");
    EXPECT_EQ(firmwareBackupName("", "", 0, 1).rfind("enclosure-flash-", 0), 0u);
    const std::string third = firmwareBackupName("QX 5080", "S 1", 0, 3);
    EXPECT_EQ(third.rfind("QX_5080-S_1-flash-", 0), 0u) << third;
    EXPECT_EQ(third.substr(third.size() - 6), "-3.bin") << third;
}

}  // namespace
}  // namespace raid

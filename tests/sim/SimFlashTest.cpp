// The controller's flash reached through the mailbox and the ATA vendor command: NOR
// rules, the low-area rule, refusals (checksum, range, marker), the mode commands, the
// flash fault kinds on every path and the read-back bit flip.
#include "Requests.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace raid::sim;
using namespace simtest;

namespace {

// A flash mailbox command exactly as the program lays it out, checksum included.
Block flashCommand(std::uint8_t code, std::uint8_t sub, std::uint32_t address, std::uint8_t fill = 0) {
    Block b = mailboxCommand(code);
    b[3] = sub;
    b[4] = std::uint8_t(address >> 16);
    b[5] = std::uint8_t(address >> 8);
    b[6] = std::uint8_t(address);
    if (code == 0x02) {
        std::fill(b.begin() + 7, b.begin() + 7 + 256, fill);
        b[509] = 0x55;
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 7; i <= 509; ++i) sum += b[i];
    putLe16(b.data() + 510, static_cast<std::uint16_t>(sum));
    return b;
}

Ide ata88(std::uint8_t features, std::uint32_t address = 0, std::uint8_t driveHead = 0xE0) {
    return Ide({features, 0, std::uint8_t(address), std::uint8_t(address >> 8), std::uint8_t(address >> 16), driveHead, 0x88},
               0);
}

class FlashPaths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        enc = &platform.attach(1, GetParam(), makeIdentityPage(), makeStatusRecord());
        h = platform.open(1);
        ASSERT_NE(h, raid::kInvalidHandle);
    }
    bool send(std::uint32_t sector, const Block& b) { return write10(sector, b).send(platform, h); }
    bool lowArea(bool on) { return send(77, flashCommand(0x04, on ? 1 : 0, 0)); }
    // The flash read of the path: the mailbox command, or the ATA vendor command;
    // then sector 60.
    bool readAt(std::uint32_t address, Block& out, bool viaAta = false) {
        const bool armed = viaAta ? ata88(0x01, address).send(platform, h) : send(3, flashCommand(0x00, 0x03, address));
        auto r60 = read10(60);
        if (!armed || !r60.send(platform, h)) return false;
        out = r60.sector();
        return true;
    }
    const std::uint8_t* at(std::uint32_t a) const { return enc->flash().data() + a; }

    SimPlatform platform;
    SimEnclosure* enc = nullptr;
    DriveHandle h = raid::kInvalidHandle;
};

TEST_P(FlashPaths, ReadEraseProgramFollowNorRules) {
    Block got{};
    ASSERT_TRUE(readAt(0x20000, got));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), at(0x20000)));
    ASSERT_TRUE(readAt(kLastRecordSlot, got));  // runs off the end: erased beyond it
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 256, at(kLastRecordSlot)));
    EXPECT_EQ(got[256], 0xFF);
    EXPECT_EQ(got[511], 0xFF);

    const std::uint8_t before = *at(0x20FFF + 1);
    ASSERT_TRUE(send(20, flashCommand(0x01, 0x20, 0x20123)));  // anywhere in the block
    EXPECT_TRUE(std::all_of(at(0x20000), at(0x21000), [](std::uint8_t v) { return v == 0xFF; }));
    EXPECT_EQ(*at(0x21000), before);

    ASSERT_TRUE(send(20, flashCommand(0x02, 0x02, 0x20100, 0xF0)));
    ASSERT_TRUE(send(20, flashCommand(0x02, 0x02, 0x20100, 0x3C)));  // without an erase: bits only clear
    EXPECT_EQ(*at(0x20100), 0x30);
    EXPECT_EQ(*at(0x201FF), 0x30);
    EXPECT_EQ(*at(0x20200), 0xFF);
    ASSERT_TRUE(readAt(0x20100, got));
    EXPECT_EQ(got[0], 0x30);
    EXPECT_EQ(got[256], 0xFF);
    EXPECT_TRUE(enc->flashRefusals().empty());
}

TEST_P(FlashPaths, RefusedCommandsFailAndLeaveFlashAlone) {
    const std::vector<std::uint8_t> before = enc->flashCopy();
    Block answer = filled(0xA5);
    enc->setFlashAnswer(answer);

    Block badSum = flashCommand(0x01, 0x20, 0x20000);
    badSum[300] ^= 1;  // payload changed after the checksum
    Block noMark = flashCommand(0x02, 0x02, 0x20000, 0);
    noMark[509] = 0;
    noMark[510] = static_cast<std::uint8_t>(noMark[510] - 0x55);  // checksum still right
    struct Case {
        std::uint32_t sector;
        Block cmd;
        const char* reason;
    };
    for (const Case& c : std::vector<Case>{
             {20, badSum, "bad checksum"},
             {20, noMark, "program without the 0x55 mark"},
             {20, flashCommand(0x01, 0x20, 0x80000), "erase outside the flash"},
             {20, flashCommand(0x02, 0x02, 0x7FF01), "program outside the flash"},
             {9, flashCommand(0x00, 0x03, 0x80000), "read outside the flash"},
             {20, flashCommand(0x01, 0x21, 0x20000), "unknown sub-code"},
             {20, flashCommand(0x01, 0x20, 0x0), "erase in the low area while low-area writes are off"},
             {20, flashCommand(0x02, 0x02, 0xBF00), "program in the low area while low-area writes are off"},
         }) {
        EXPECT_FALSE(send(c.sector, c.cmd)) << c.reason;
        ASSERT_FALSE(enc->flashRefusals().empty());
        EXPECT_EQ(enc->flashRefusals().back().reason, c.reason);
        EXPECT_EQ(enc->flashRefusals().back().sector, c.sector);
    }
    EXPECT_EQ(enc->flashRefusals().size(), 8u);
    EXPECT_TRUE(enc->flashCopy() == before);
    EXPECT_EQ(enc->flashAnswer(), answer);  // a refused read leaves sector 60 alone
    EXPECT_EQ(enc->mailboxCount(), 8u);     // refused commands are still in the log

    // Other command codes are recorded only, without a checksum rule.
    EXPECT_TRUE(send(20, mailboxCommand(0x1F)));
}

TEST_P(FlashPaths, LowAreaNeedsItsModeAndModesAreTracked) {
    EXPECT_FALSE(send(20, flashCommand(0x01, 0x20, 0xB000)));
    ASSERT_TRUE(lowArea(true));
    EXPECT_TRUE(enc->flashModes().lowArea);
    EXPECT_TRUE(send(20, flashCommand(0x01, 0x20, 0xB000)));
    EXPECT_TRUE(send(20, flashCommand(0x02, 0x02, 0xBF00, 0x12)));
    EXPECT_EQ(*at(0xBF00), 0x12);
    ASSERT_TRUE(lowArea(false));
    EXPECT_FALSE(send(20, flashCommand(0x01, 0x20, 0xB000)));
    EXPECT_EQ(*at(0xBF00), 0x12);
    EXPECT_TRUE(send(20, flashCommand(0x01, 0x20, 0xC000)));  // the first address above the area

    for (std::uint8_t code : {std::uint8_t{0x10}, std::uint8_t{0x03}}) {
        ASSERT_TRUE(send(100, flashCommand(code, 1, 0)));
        const FlashModes m = enc->flashModes();
        EXPECT_TRUE(code == 0x10 ? m.upgrade : m.primitive);
        ASSERT_TRUE(send(100, flashCommand(code, 0, 0)));
    }
    const FlashModes off = enc->flashModes();
    EXPECT_FALSE(off.upgrade || off.primitive || off.lowArea);
    EXPECT_FALSE(send(100, flashCommand(0x03, 2, 0)));
}

INSTANTIATE_TEST_SUITE_P(Sim, FlashPaths, ::testing::Values(Path::Mailbox, Path::Ata),
                         [](const ::testing::TestParamInfo<Path>& param) { return std::string(pathName(param.param)); });

TEST(FlashAta, VendorCommandReadsAndSetsModes) {
    SimPlatform p;
    SimEnclosure& enc = p.attach(1, Path::Ata, makeIdentityPage(), makeStatusRecord());
    const DriveHandle h = p.open(1);
    enc.flash()[0x123456 & 0x7FFFF] = 0x5A;

    ASSERT_TRUE(ata88(0x01, 0x23456).send(p, h));
    auto r60 = read10(60);
    ASSERT_TRUE(r60.send(p, h));
    EXPECT_TRUE(std::equal(r60.data.begin(), r60.data.end(), enc.flash().data() + 0x23456));
    EXPECT_EQ(r60.data[0], 0x5A);

    EXPECT_FALSE(ata88(0x01, 0x23456, 0xA0).send(p, h));  // drive/head must be 0xE0
    EXPECT_FALSE(ata88(0x01, 0x80000).send(p, h));
    EXPECT_FALSE(ata88(0x06).send(p, h));
    EXPECT_EQ(enc.flashRefusals().size(), 3u);
    EXPECT_EQ(enc.flashRefusals().back().reason, "unknown features");

    struct Mode {
        std::uint8_t on, off;
        bool FlashModes::*flag;
    };
    for (const Mode m : {Mode{0x11, 0x10, &FlashModes::upgrade}, Mode{0x03, 0x02, &FlashModes::primitive},
                         Mode{0x04, 0x05, &FlashModes::lowArea}}) {
        ASSERT_TRUE(ata88(m.on).send(p, h));
        EXPECT_TRUE(enc.flashModes().*m.flag);
        ASSERT_TRUE(ata88(m.off).send(p, h));
        EXPECT_FALSE(enc.flashModes().*m.flag);
    }
    // Low-area mode set through the ATA form opens the area to mailbox erases.
    ASSERT_TRUE(ata88(0x04).send(p, h));
    EXPECT_TRUE(write10(20, flashCommand(0x01, 0x20, 0x1000)).send(p, h));
    EXPECT_EQ(enc.flash()[0x1000], 0xFF);

    Ide identify;
    ASSERT_TRUE(identify.send(p, h));
    EXPECT_TRUE(hasMark(identify.data()));

    // The mailbox-path bridge has no vendor ATA command.
    p.attach(2, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    EXPECT_FALSE(ata88(0x11).send(p, p.open(2)));
}

TEST(FlashFaults, EachKindHitsItsRequestOnEveryPath) {
    SimPlatform p;
    SimEnclosure& mb = p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    SimEnclosure& at = p.attach(2, Path::Ata, makeIdentityPage(), makeStatusRecord());
    p.attach(3, Path::Vu1, makeIdentityPage(), makeStatusRecord());
    const DriveHandle m = p.open(1), a = p.open(2), v = p.open(3);

    // Mailbox: each kind fails only its own command, once, before it acts.
    p.failNext(1, FaultKind::FlashErase, 1);
    EXPECT_TRUE(write10(20, flashCommand(0x02, 0x02, 0x20000, 0)).send(p, m));
    EXPECT_FALSE(write10(20, flashCommand(0x01, 0x20, 0x20000)).send(p, m));
    EXPECT_EQ(mb.flash()[0x20000], 0x00);  // the failed erase never arrived
    EXPECT_TRUE(write10(20, flashCommand(0x01, 0x20, 0x20000)).send(p, m));
    p.failNext(1, FaultKind::FlashProgram, 1);
    EXPECT_FALSE(write10(20, flashCommand(0x02, 0x02, 0x20000, 0)).send(p, m));
    EXPECT_EQ(mb.flash()[0x20000], 0xFF);
    p.failNext(1, FaultKind::FlashRead, 1);
    EXPECT_TRUE(write10(5, flashCommand(0x04, 1, 0)).send(p, m));
    EXPECT_FALSE(write10(5, flashCommand(0x00, 0x03, 0x20000)).send(p, m));
    EXPECT_TRUE(read10(60).send(p, m));  // sector 60 is an ordinary read, not the command
    p.failNext(1, FaultKind::FlashMode, 1);
    EXPECT_FALSE(write10(5, flashCommand(0x04, 0, 0)).send(p, m));
    EXPECT_TRUE(mb.flashModes().lowArea);
    EXPECT_TRUE(write10(200, filled(1)).send(p, m));  // plain writes are not flash requests
    // The transport kind still fails flash commands.
    p.failNext(1, FaultKind::Write, 1);
    EXPECT_FALSE(write10(5, flashCommand(0x04, 0, 0)).send(p, m));

    // ATA: the vendor command's read and mode forms; IDENTIFY is neither.
    p.failNext(2, FaultKind::FlashRead, 1);
    p.failNext(2, FaultKind::FlashMode, 1);
    Ide identify;
    EXPECT_TRUE(identify.send(p, a));
    EXPECT_FALSE(ata88(0x11).send(p, a));
    EXPECT_FALSE(at.flashModes().upgrade);
    EXPECT_FALSE(ata88(0x01, 0x100).send(p, a));
    EXPECT_TRUE(ata88(0x01, 0x100).send(p, a));
    EXPECT_TRUE(ata88(0x11).send(p, a));

    // VU: 0x85 (not the slot probe), 0x81, 0x89.
    p.failNext(3, FaultKind::FlashRead, 1);
    EXPECT_TRUE(vuRead(1, kRecordAreaStart, 1).send(p, v));
    EXPECT_FALSE(vuRead(1, 0x20000).send(p, v));
    EXPECT_TRUE(vuRead(1, 0x20000).send(p, v));
    p.failNext(3, FaultKind::FlashErase, 1);
    p.failNext(3, FaultKind::FlashProgram, 1);
    EXPECT_FALSE(vuProgram(1, 0x20000, 0).send(p, v));
    EXPECT_FALSE(vuErase(1, 0x20000).send(p, v));
    EXPECT_TRUE(vuErase(1, 0x20000).send(p, v));
    EXPECT_TRUE(vuProgram(1, 0x20000, 0).send(p, v));
    EXPECT_EQ(std::string(faultName(FaultKind::FlashProgram)), "flashprogram");
}

TEST(FlashFlip, OneReadBackCarriesOneFlippedBit) {
    for (Path path : {Path::Mailbox, Path::Ata, Path::Vu2}) {
        SimPlatform p;
        SimEnclosure& enc = p.attach(1, path, makeIdentityPage(), makeStatusRecord());
        const DriveHandle h = p.open(1);
        auto readBack = [&](std::uint32_t address) {
            if (path == Path::Vu2) {
                auto r = vuRead(2, address);
                EXPECT_TRUE(r.send(p, h));
                return r.sector();
            }
            if (path == Path::Ata) EXPECT_TRUE(ata88(0x01, address).send(p, h));
            else EXPECT_TRUE(write10(44, flashCommand(0x00, 0x03, address)).send(p, h));
            auto r = read10(60);
            EXPECT_TRUE(r.send(p, h));
            return r.sector();
        };
        const std::vector<std::uint8_t> flash = enc.flashCopy();
        enc.flipBitOfRead(1);
        const Block first = readBack(0x30000), second = readBack(0x30200), third = readBack(0x30000);
        EXPECT_TRUE(std::equal(first.begin(), first.end(), flash.begin() + 0x30000)) << pathName(path);
        EXPECT_EQ(second[0], flash[0x30200] ^ 1) << pathName(path);
        EXPECT_TRUE(std::equal(second.begin() + 1, second.end(), flash.begin() + 0x30201)) << pathName(path);
        EXPECT_EQ(third, first) << pathName(path);
        EXPECT_TRUE(enc.flashCopy() == flash) << pathName(path);
    }
}

// Flash commands from one thread while another loads, copies and inspects the flash
// (what the runner and tests do while the engine's threads talk to the controller).
TEST(FlashThreads, CommandsAndWholeFlashAccessInterleaveSafely) {
    SimPlatform p;
    SimEnclosure& enc = p.attach(1, Path::Ata, makeIdentityPage(), makeStatusRecord());
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const DriveHandle h = p.open(1);
        for (int i = 0; i < 300; ++i) {
            const std::uint32_t a = 0x20000 + static_cast<std::uint32_t>(i % 16) * 0x1000;
            write10(20, flashCommand(0x01, 0x20, a)).send(p, h);
            write10(20, flashCommand(0x02, 0x02, a, std::uint8_t(i))).send(p, h);
            write10(20, flashCommand(0x01, 0x20, 0x1000)).send(p, h);  // refused: low area
            ata88(0x01, a).send(p, h);
            read10(60).send(p, h);
            p.failNext(1, FaultKind::FlashErase, 1);
        }
        p.close(h);
        done = true;
    });
    const std::vector<std::uint8_t> blank(kFlashSize, 0xFF);
    int rounds = 0;
    while (!done) {
        if (rounds % 4 == 0) enc.loadFlash(blank);
        EXPECT_EQ(enc.flashCopy().size(), kFlashSize);
        enc.flipBitOfRead(rounds % 3);
        EXPECT_LE(enc.flashRefusals().size(), SimEnclosure::kMailboxLogLimit);
        (void)enc.flashModes();
        ++rounds;
    }
    worker.join();
    EXPECT_FALSE(enc.flashRefusals().empty());
    EXPECT_FALSE(enc.loadFlash(std::vector<std::uint8_t>(kFlashSize - 1, 0)));
}

}  // namespace

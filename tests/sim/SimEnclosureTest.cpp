// The enclosure controller seen through the storage port: which recognition
// requests each path answers, the record-area status view, NOR flash behaviour and
// the mailbox log.
#include "Requests.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

#include <gtest/gtest.h>

using namespace raid::sim;
using namespace simtest;

namespace {

struct PathCase {
    Path path;
    bool sector58Mark;   // READ of 58 gives the identity page
    bool identifyMark;   // IDENTIFY carries "3X"
    int vuPrefix;        // 0: no VU commands
};

class EnclosurePaths : public ::testing::TestWithParam<PathCase> {
protected:
    void SetUp() override {
        enc = &platform.attach(1, GetParam().path, makeIdentityPage(), makeStatusRecord());
        h = platform.open(1);
        ASSERT_NE(h, raid::kInvalidHandle);
    }
    SimPlatform platform;
    SimEnclosure* enc = nullptr;
    DriveHandle h = raid::kInvalidHandle;
};

TEST_P(EnclosurePaths, AnswersExactlyItsRecognitionRequests) {
    const PathCase c = GetParam();

    auto r58 = read10(58);
    ASSERT_TRUE(r58.send(platform, h));
    EXPECT_EQ(hasMark(r58.data.data() + 0), c.sector58Mark);
    if (c.sector58Mark) {
        EXPECT_EQ(r58.sector(), makeIdentityPage());
    }

    Ide id;
    ASSERT_TRUE(id.send(platform, h));
    EXPECT_EQ(hasMark(id.data()), c.identifyMark);

    for (int prefix : {1, 2}) {
        const bool understood = prefix == c.vuPrefix;
        auto ident = vuIdentify(prefix);
        EXPECT_EQ(ident.send(platform, h), understood) << "prefix " << prefix;
        if (understood) {
            EXPECT_EQ(ident.sector(), makeIdentityPage());
        }
        auto table = vuTable(prefix);
        EXPECT_EQ(table.send(platform, h), understood) << "prefix " << prefix;
        if (understood) {
            EXPECT_EQ(table.data[0], 0x50);
            EXPECT_EQ(table.data[1], 0x8B);
        }
    }

    auto inq = inquiry();
    ASSERT_TRUE(inq.send(platform, h));
    EXPECT_EQ(inq.data[4], 0x1F);

    // Status at 33 on the sector-based paths; ordinary (zero) data on VU paths.
    auto r33 = read10(33);
    ASSERT_TRUE(r33.send(platform, h));
    EXPECT_EQ(r33.sector() == makeStatusRecord(), c.vuPrefix == 0);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, EnclosurePaths,
                         ::testing::Values(PathCase{Path::Mailbox, true, false, 0}, PathCase{Path::Ata, false, true, 0},
                                           PathCase{Path::Vu1, false, false, 1}, PathCase{Path::Vu2, false, false, 2}),
                         [](const auto& param) { return std::string(pathName(param.param.path)); });

TEST(EnclosureAta, IdentifyIsMarkedEvenWhenThePageIsNot) {
    SimPlatform p;
    Block page = makeIdentityPage();
    page[258] = page[259] = 0;
    p.attach(2, Path::Ata, page, makeStatusRecord());
    const DriveHandle h = p.open(2);
    Ide id;
    ASSERT_TRUE(id.send(p, h));
    EXPECT_TRUE(hasMark(id.data()));
    EXPECT_EQ(p.enclosure(2)->identity(), page);  // the held page itself is not altered
}

TEST(EnclosureMailbox, CommandsAreLoggedNotStoredAndOtherWritesAreData) {
    SimPlatform p;
    SimEnclosure& e = p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    const DriveHandle h = p.open(1);

    ASSERT_TRUE(write10(20, mailboxCommand(0x11)).send(p, h));
    ASSERT_TRUE(write10(58, mailboxCommand(0x22)).send(p, h));   // inside 3..130
    ASSERT_TRUE(write10(131, mailboxCommand(0x33)).send(p, h));  // outside: plain data
    ASSERT_TRUE(write10(40, filled(0x5A)).send(p, h));           // no mark: plain data

    const auto log = e.mailboxLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].sector, 20u);
    EXPECT_EQ(log[0].data, mailboxCommand(0x11));
    EXPECT_EQ(log[1].sector, 58u);

    auto r20 = read10(20);
    ASSERT_TRUE(r20.send(p, h));
    EXPECT_EQ(r20.sector(), Block{});  // the command did not land as data
    auto r58 = read10(58);
    ASSERT_TRUE(r58.send(p, h));
    EXPECT_EQ(r58.sector(), makeIdentityPage());  // and did not overwrite the identity
    auto r131 = read10(131);
    ASSERT_TRUE(r131.send(p, h));
    EXPECT_EQ(r131.sector(), mailboxCommand(0x33));
    auto r40 = read10(40);
    ASSERT_TRUE(r40.send(p, h));
    EXPECT_EQ(r40.sector(), filled(0x5A));
    auto r60 = read10(60);
    ASSERT_TRUE(r60.send(p, h));
    EXPECT_EQ(r60.sector(), Block{});
}

TEST(EnclosureMailbox, StatusFollowsSetStatusAndVuPathsIgnoreMailboxWrites) {
    SimPlatform p;
    p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    SimEnclosure& vu = p.attach(2, Path::Vu1, makeIdentityPage(), makeStatusRecord());
    const Block degraded = makeStatusRecord(StatusOptions().setDriveState(1, kDriveFailed));
    p.setStatus(1, degraded);
    const DriveHandle h = p.open(1);
    auto r33 = read10(33);
    ASSERT_TRUE(r33.send(p, h));
    EXPECT_EQ(r33.sector(), degraded);
    p.close(h);

    const DriveHandle hv = p.open(2);
    ASSERT_TRUE(write10(20, mailboxCommand(1)).send(p, hv));
    EXPECT_TRUE(vu.mailboxLog().empty());
    auto r20 = read10(20);
    ASSERT_TRUE(r20.send(p, hv));
    EXPECT_EQ(r20.sector(), mailboxCommand(1));
}

class RecordArea : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        prefix = GetParam();
        enc = &p.attach(3, prefix == 1 ? Path::Vu1 : Path::Vu2, makeIdentityPage(), makeStatusRecord());
        h = p.open(3);
        live = makeStatusRecord(StatusOptions().setActivity(3, 42));
        p.setStatus(3, live);
    }
    // Probe, then read `address`: what comes back.
    Block probeThenRead(std::uint32_t probeAt, std::uint32_t address) {
        auto probe = vuRead(prefix, probeAt, 1);
        EXPECT_TRUE(probe.send(p, h));
        auto r = vuRead(prefix, address);
        EXPECT_TRUE(r.send(p, h));
        return r.sector();
    }
    Block raw(std::uint32_t address) const {
        Block b{};
        std::copy_n(enc->flash().begin() + address, 512, b.begin());
        return b;
    }
    int prefix = 1;
    SimPlatform p;
    SimEnclosure* enc = nullptr;
    DriveHandle h = raid::kInvalidHandle;
    Block live{};
};

TEST_P(RecordArea, ProbeThenReadOfNewestSlotGivesLiveStatus) {
    EXPECT_EQ(enc->newestRecordAddress(), 0x78200u);  // slots 0..2 used at attach
    EXPECT_EQ(probeThenRead(0x78000, 0x78200), live);
    // Not the newest slot, or no probe before it: raw flash.
    EXPECT_EQ(probeThenRead(0x78000, 0x78100), raw(0x78100));
    auto plain = vuRead(prefix, 0x78200);
    ASSERT_TRUE(plain.send(p, h));
    EXPECT_EQ(plain.sector(), raw(0x78200));
    EXPECT_NE(plain.sector(), live);
}

TEST_P(RecordArea, AnyOtherRequestDisarms) {
    ASSERT_TRUE(vuRead(prefix, 0x78000, 1).send(p, h));
    EXPECT_TRUE(enc->statusViewArmed());
    ASSERT_TRUE(inquiry().send(p, h));
    auto r = vuRead(prefix, 0x78200);
    ASSERT_TRUE(r.send(p, h));
    EXPECT_EQ(r.sector(), raw(0x78200));
}

TEST_P(RecordArea, SearchModelEdges) {
    struct Case { int first, count; std::uint32_t newest; };
    for (const Case c : {Case{0, 0, 0x7FF00}, Case{0, 128, 0x7FF00}, Case{5, 3, 0x78700}, Case{120, 8, 0x7FF00},
                         Case{0, 1, 0x78000}}) {
        enc->setRecordSlotsUsed(c.first, c.count);
        EXPECT_EQ(enc->newestRecordAddress(), c.newest) << c.first << "+" << c.count;
        EXPECT_EQ(probeThenRead(0x78000, c.newest), live) << c.first << "+" << c.count;
    }
    // A second run of used slots after a gap does not count: the first run ends the search.
    enc->setRecordSlotsUsed(2, 2);
    enc->flash()[0x78000 + 10 * 256] = 0x10;
    EXPECT_EQ(enc->newestRecordAddress(), 0x78300u);
}

TEST_P(RecordArea, PlaceholderRecordsAndRawReadBeyondTheEnd) {
    enc->setRecordSlotsUsed(4, 2);
    EXPECT_EQ(raw(0x78400)[0], 4);
    EXPECT_EQ(raw(0x78400)[1], 0xA0);  // the status record's controller kind
    EXPECT_EQ(raw(0x78300)[0], 0xFF);
    // A raw read at the last slot runs off the end of the part: erased bytes beyond it.
    enc->flash()[0x7FF00] = 0x42;
    auto last = vuRead(prefix, 0x7FF00);
    ASSERT_TRUE(last.send(p, h));
    EXPECT_EQ(last.data[0], 0x42);
    EXPECT_EQ(last.data[256], 0xFF);
    EXPECT_EQ(last.data[511], 0xFF);
    EXPECT_TRUE(vuRead(prefix, 0x7FFFF).send(p, h));
    EXPECT_FALSE(vuRead(prefix, 0x80000).send(p, h));
}

TEST_P(RecordArea, NorFlashProgramOnlyClearsBits) {
    const std::uint32_t a = 0x10000;
    const Block before = raw(a - 512), after = raw(a + 4096);
    ASSERT_TRUE(vuErase(prefix, a + 0x123).send(p, h));  // the whole 4 KiB block holding the address
    for (std::uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(enc->flash()[a + i], 0xFF) << i;
    EXPECT_EQ(raw(a - 512), before);  // neighbours untouched
    EXPECT_EQ(raw(a + 4096), after);
    EXPECT_NE(before, filled(0xFF));  // the firmware stand-in is not erased flash

    ASSERT_TRUE(vuProgram(prefix, a, 0xF0).send(p, h));
    ASSERT_TRUE(vuProgram(prefix, a, 0x3C).send(p, h));  // no erase in between
    auto r = vuRead(prefix, a);
    ASSERT_TRUE(r.send(p, h));
    EXPECT_EQ(r.data[0], 0x30);
    EXPECT_EQ(r.data[255], 0x30);
    EXPECT_EQ(r.data[256], 0xFF);

    EXPECT_FALSE(vuProgram(prefix, kFlashSize - 128, 0).send(p, h));
    EXPECT_FALSE(vuErase(prefix, kFlashSize).send(p, h));
    // Reading the record area after a probe still sees the true flash when the
    // address is not the newest slot: a firmware read-back is exact.
    EXPECT_EQ(probeThenRead(0x78000, 0x78000), raw(0x78000));
}

INSTANTIATE_TEST_SUITE_P(BothPrefixes, RecordArea, ::testing::Values(1, 2));

}  // namespace

// The simulated machine through the StoragePort and VolumePort interfaces: plain
// disks, member drives, volumes, unplugging, fault injection, latency and hostile
// requests.
#include "Requests.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace raid::sim;
using namespace simtest;

namespace {

TEST(SimPlatformPlainDisk, OrdinaryDriveBehaviour) {
    SimPlatform p;
    p.addPlainDisk(0);
    raid::StoragePort& port = p;
    const DriveHandle h = port.open(0);
    ASSERT_NE(h, raid::kInvalidHandle);

    auto r = read10(58);
    ASSERT_TRUE(r.send(port, h));
    EXPECT_EQ(r.sector(), Block{});
    ASSERT_TRUE(write10(58, mailboxCommand(1)).send(port, h));  // just data on a plain disk
    ASSERT_TRUE(r.send(port, h));
    EXPECT_EQ(r.sector(), mailboxCommand(1));

    auto inq = inquiry();
    ASSERT_TRUE(inq.send(port, h));
    EXPECT_EQ(inq.data[4], 0x1F);
    Ide id;
    ASSERT_TRUE(id.send(port, h));
    EXPECT_FALSE(hasMark(id.data()));
    EXPECT_FALSE(vuTable(1).send(port, h));
    EXPECT_FALSE(vuIdentify(2).send(port, h));
    raid::DiskExtent ext;
    EXPECT_FALSE(port.volumeDiskExtents(h, ext));
    EXPECT_EQ(p.enclosure(0), nullptr);
}

TEST(SimPlatformPlainDisk, HostileRequestsFailWithoutTouchingMemory) {
    SimPlatform p;
    p.addPlainDisk(0);
    const DriveHandle h = p.open(0);

    auto shortBuf = read10(10, 2);
    raid::sim::putLe32(shortBuf.block.data() + raid::spt::kDataTransferLength, 512);  // buffer claims one sector
    shortBuf.data.resize(512);
    EXPECT_FALSE(shortBuf.send(p, h));

    EXPECT_FALSE(read10(0xFFFFFFFFu, 2).send(p, h));  // past the 2 TiB disk
    EXPECT_TRUE(read10(0xFFFFFFFFu, 1).send(p, h));   // the very last sector
    EXPECT_TRUE(read10(5, 0).send(p, h));             // count 0 moves nothing

    auto wrongDir = read10(1);
    wrongDir.block[raid::spt::kDataIn] = 0;
    EXPECT_FALSE(wrongDir.send(p, h));
    auto noCdb = read10(1);
    noCdb.block[raid::spt::kCdbLength] = 0;
    EXPECT_FALSE(noCdb.send(p, h));
    auto r = read10(1);
    EXPECT_FALSE(p.scsiPassThrough(h, r.block.data(), nullptr));
    EXPECT_FALSE(p.scsiPassThrough(h, nullptr, r.data.data()));

    Ide big;
    raid::sim::putLe32(big.block.data() + raid::ide::kDataSize, 4096);  // more than the block holds
    EXPECT_FALSE(big.send(p, h));
    Ide tiny;
    EXPECT_FALSE(p.idePassThrough(h, tiny.block.data(), 8));
    Ide other({0, 1, 0, 0, 0, 0xE0, 0x25});  // not IDENTIFY
    EXPECT_FALSE(other.send(p, h));

    EXPECT_EQ(p.open(10), raid::kInvalidHandle);
    EXPECT_EQ(p.open(5), raid::kInvalidHandle);
    p.close(12345);  // unknown handle: harmless
    EXPECT_FALSE(read10(0).send(p, 12345));
}

TEST(SimPlatformMember, SecondDriveAnswersAsTheSameController) {
    SimPlatform p;
    SimEnclosure& e = p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    p.addMember(2, 1);
    EXPECT_EQ(p.enclosure(2), &e);
    EXPECT_THROW(p.addMember(3, 0), std::invalid_argument);

    const DriveHandle a = p.open(1);
    const DriveHandle b = p.open(2);
    ASSERT_TRUE(write10(100, filled(7)).send(p, a));
    ASSERT_TRUE(write10(21, mailboxCommand(9)).send(p, b));
    for (std::uint32_t lba : {33u, 58u, 100u}) {
        auto ra = read10(lba), rb = read10(lba);
        ASSERT_TRUE(ra.send(p, a));
        ASSERT_TRUE(rb.send(p, b));
        EXPECT_EQ(ra.data, rb.data) << lba;
    }
    ASSERT_EQ(e.mailboxLog().size(), 1u);
    EXPECT_EQ(e.mailboxLog()[0].sector, 21u);

    // Unplugging the first drive leaves the second one working.
    p.detach(1);
    EXPECT_FALSE(read10(58).send(p, a));
    EXPECT_TRUE(read10(58).send(p, b));
}

TEST(SimPlatformVolumes, LettersFollowTheirDisks) {
    SimPlatform p;
    p.addPlainDisk(0);
    p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    p.addVolume('C', 0);
    p.addVolume('E', 1);
    p.addVolume('R', 1, raid::kDriveRemovable);
    p.addVolume('G', 4);  // its disk is not there
    const auto bit = [](char l) { return 1u << (l - 'A'); };
    EXPECT_EQ(p.logicalDriveMask(), bit('C') | bit('E') | bit('R'));
    EXPECT_EQ(p.driveType('C'), raid::kDriveFixed);
    EXPECT_EQ(p.driveType('R'), raid::kDriveRemovable);
    EXPECT_EQ(p.driveType('G'), raid::kDriveNoRootDir);
    EXPECT_EQ(p.driveType('Q'), raid::kDriveNoRootDir);

    const DriveHandle v = p.open('E');
    ASSERT_NE(v, raid::kInvalidHandle);
    raid::DiskExtent ext;
    ASSERT_TRUE(p.volumeDiskExtents(v, ext));
    EXPECT_EQ(ext.diskNumber, 1u);
    EXPECT_EQ(ext.startingOffset, 1 << 20);
    EXPECT_EQ(ext.extentLength, std::int64_t{1} << 30);
    EXPECT_TRUE(read10(58).send(p, v));  // pass-through on a volume reaches its disk
    EXPECT_FALSE(inquiry().send(p, v));
    EXPECT_EQ(p.open('G'), raid::kInvalidHandle);
    EXPECT_EQ(p.open('A'), raid::kInvalidHandle);  // 65: a drive number, not a letter

    p.detach(1);
    EXPECT_EQ(p.logicalDriveMask(), bit('C'));
    EXPECT_EQ(p.driveType('E'), raid::kDriveNoRootDir);
    EXPECT_FALSE(p.volumeDiskExtents(v, ext));
    EXPECT_EQ(p.open('E'), raid::kInvalidHandle);
}

TEST(SimPlatformDetach, StaleHandlesStayDeadAfterReplug) {
    std::vector<std::int64_t> sleeps;
    SimPlatform p([&](std::int64_t us) { sleeps.push_back(us); });
    p.attach(1, Path::Ata, makeIdentityPage(), makeStatusRecord());
    const DriveHandle old = p.open(1);
    p.detach(1);
    EXPECT_FALSE(p.present(1));
    EXPECT_EQ(p.open(1), raid::kInvalidHandle);
    p.attach(1, Path::Ata, makeIdentityPage(), makeStatusRecord());
    EXPECT_FALSE(read10(0).send(p, old));
    Ide id;
    EXPECT_FALSE(id.send(p, old));
    EXPECT_FALSE(p.rescanBus(old));
    EXPECT_TRUE(sleeps.empty());  // nothing reached a drive
    p.close(old);
}

TEST(SimPlatformFaults, CountedFaultsFailWithoutTransfer) {
    SimPlatform p;
    p.attach(1, Path::Vu1, makeIdentityPage(), makeStatusRecord());
    p.addMember(2, 1);
    const DriveHandle h = p.open(1);
    p.failNext(1, FaultKind::Read, 2);
    p.failNext(1, FaultKind::Vu, 1);

    EXPECT_TRUE(inquiry().send(p, h));  // other kinds pass
    for (int i = 0; i < 2; ++i) {
        auto r = read10(0);
        std::fill(r.data.begin(), r.data.end(), 0xEE);
        EXPECT_FALSE(r.send(p, h));
        EXPECT_EQ(r.data[0], 0xEE);  // nothing transferred
    }
    EXPECT_TRUE(read10(0).send(p, h));
    EXPECT_TRUE(vuIdentify(1).send(p, p.open(2)));  // faults belong to drive 1 only
    EXPECT_FALSE(vuIdentify(1).send(p, h));
    EXPECT_TRUE(vuIdentify(1).send(p, h));

    p.failNext(1, FaultKind::Any, 3);
    Ide id;
    EXPECT_FALSE(id.send(p, h));
    EXPECT_FALSE(p.rescanBus(h));
    EXPECT_FALSE(write10(200, filled(1)).send(p, h));
    EXPECT_TRUE(p.rescanBus(h));
    auto r200 = read10(200);
    ASSERT_TRUE(r200.send(p, h));
    EXPECT_EQ(r200.sector(), Block{});  // the failed write stored nothing

    p.failNext(1, FaultKind::Ata, 1);
    p.detach(1);  // pending faults leave with the drive
    p.attach(1, Path::Vu1, makeIdentityPage(), makeStatusRecord());
    EXPECT_TRUE(id.send(p, p.open(1)));
}

TEST(SimPlatformLatency, EveryRequestThatReachesADriveSleeps) {
    std::vector<std::int64_t> sleeps;
    SimPlatform p([&](std::int64_t us) { sleeps.push_back(us); });
    p.setLatencyUs(1500);
    p.addPlainDisk(0);
    p.addVolume('C', 0);
    const DriveHandle h = p.open(0);
    const DriveHandle v = p.open('C');
    raid::DiskExtent ext;
    Ide id;
    read10(0).send(p, h);
    vuTable(1).send(p, h);  // refused, but it reached the drive
    id.send(p, h);
    p.rescanBus(h);
    p.volumeDiskExtents(v, ext);
    read10(0).send(p, 999);  // no such handle: no drive reached
    EXPECT_EQ(sleeps, std::vector<std::int64_t>(5, 1500));

    EXPECT_EQ(p.openHandles(), 2);
    p.close(h);
    p.close(v);
    EXPECT_EQ(p.openHandles(), 0);
    EXPECT_EQ(p.maxOpenHandles(), 2);
}

TEST(SimPlatformThreads, ConcurrentRequestsAndChangesStaySound) {
    SimPlatform p;
    p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int i = 0; i < 200; ++i) {
            p.setStatus(1, makeStatusRecord(StatusOptions().setActivity(1, static_cast<std::uint8_t>(i))));
            if (i % 50 == 0) {
                p.detach(1);
                p.attach(1, Path::Mailbox, makeIdentityPage(), makeStatusRecord());
            }
        }
        stop = true;
    });
    int answered = 0;
    while (!stop) {
        const DriveHandle h = p.open(1);
        auto r = read10(33);
        if (r.send(p, h)) {
            ++answered;
            EXPECT_EQ(r.data[1], kKindRaid);  // never a torn or empty record
        }
        p.close(h);
    }
    changer.join();
    EXPECT_LE(p.maxOpenHandles(), 1);
    (void)answered;
}

}  // namespace

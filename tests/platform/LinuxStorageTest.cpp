// The SAT CDB layout byte for byte, and the pass-through port's refusal paths:
// unknown handles, malformed blocks, devices without SG_IO, sysfs rescan.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "FakeTree.h"
#include "platform/linux/LinuxStorage.h"

using namespace raid;
using namespace raid::linuxport;
using raid::test::FakeTree;

namespace {

using Cdb = std::array<std::uint8_t, 16>;

Cdb sat(std::array<std::uint8_t, 7> regs, int sectors) {
    Cdb cdb;
    cdb.fill(0x5A);
    EXPECT_TRUE(buildSatPassThrough16(regs.data(), sectors, cdb.data()));
    return cdb;
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An INQUIRY request block inside a larger buffer whose tail must stay untouched.
struct Request {
    static constexpr std::uint8_t kGuard = 0xA5;
    std::array<std::uint8_t, spt::kSize + 16> bytes{};
    Request(std::uint32_t length = 36) {
        bytes.fill(0);
        std::fill(bytes.begin() + spt::kSize, bytes.end(), kGuard);
        bytes[spt::kLength] = 44;
        bytes[spt::kCdbLength] = 6;
        bytes[spt::kSenseInfoLength] = 24;
        bytes[spt::kDataIn] = 1;
        putLe32(&bytes[spt::kDataTransferLength], length);
        putLe32(&bytes[spt::kTimeOutValue], 5);
        putLe32(&bytes[spt::kSenseInfoOffset], 48);
        const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, static_cast<std::uint8_t>(length), 0};
        std::memcpy(&bytes[spt::kCdb], inquiry, 6);
    }
    std::uint8_t* data() { return bytes.data(); }
    bool tailIntact() const {
        return std::all_of(bytes.begin() + spt::kSize, bytes.end(), [](std::uint8_t b) { return b == kGuard; });
    }
};

std::vector<std::uint8_t> identifyBlock() {
    std::vector<std::uint8_t> block(16 + 512, 0xCC);
    const std::uint8_t regs[8] = {0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xEC, 0x00};
    std::memcpy(block.data(), regs, 8);
    putLe32(block.data() + ide::kDataSize, 512);
    return block;
}

}  // namespace

TEST(SatPassThrough16, IdentifyIsPioDataInOfOneSectorCountedInTheSectorCountRegister) {
    EXPECT_EQ(sat({0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xEC}, 1),
              (Cdb{0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xEC, 0x00}));
}

TEST(SatPassThrough16, NonDataCommandCarriesEveryRegisterInItsLowByteSlot) {
    // SMART ENABLE OPERATIONS: features D8, lba mid/high 4F/C2.
    EXPECT_EQ(sat({0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, 0),
              (Cdb{0x85, 0x06, 0x00, 0x00, 0xD8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00}));
    // Distinct values show that no register lands in a neighbour's slot.
    EXPECT_EQ(sat({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}, 0),
              (Cdb{0x85, 0x06, 0x00, 0x00, 0x11, 0x00, 0x22, 0x00, 0x33, 0x00, 0x44, 0x00, 0x55, 0x66, 0x77, 0x00}));

    Cdb untouched;
    untouched.fill(0x5A);
    const std::uint8_t regs[7] = {};
    EXPECT_FALSE(buildSatPassThrough16(regs, 2, untouched.data()));
    EXPECT_FALSE(buildSatPassThrough16(regs, -1, untouched.data()));
    EXPECT_EQ(untouched[0], 0x5A);
}

class LinuxStorageFake : public ::testing::Test {
protected:
    void SetUp() override {
        tree.addDisk("sda");
        tree.addDisk("sdb");
    }
    FakeTree tree;
    LinuxStoragePort port{std::make_shared<LinuxDiskTable>(tree.sys, tree.dev, tree.root + "/none")};
};

TEST_F(LinuxStorageFake, OpensDrivesByNumberAndRefusesUnknownTargets) {
    DriveHandle a = port.open(0), b = port.open(1);
    EXPECT_NE(a, kInvalidHandle);
    EXPECT_NE(b, kInvalidHandle);
    EXPECT_NE(a, b);
    EXPECT_EQ(port.open(2), kInvalidHandle);
    EXPECT_EQ(port.open(66), kInvalidHandle);   // still a drive number
    EXPECT_EQ(port.open('C'), kInvalidHandle);  // nothing mounted
    EXPECT_EQ(port.open(0xFF), kInvalidHandle);

    // A drive that shows up later is reachable at once.
    tree.addDisk("sdc");
    DriveHandle c = port.open(2);
    EXPECT_NE(c, kInvalidHandle);
    // A disk whose node cannot be opened gives no handle.
    std::filesystem::remove(tree.dev + "/sdc");
    EXPECT_EQ(port.open(2), kInvalidHandle);
    for (DriveHandle h : {a, b, c}) port.close(h);
    port.close(a);  // twice: harmless
    port.close(kInvalidHandle);
}

TEST_F(LinuxStorageFake, ScsiPassThroughRefusesBadHandlesAndBlocksWithoutTouchingMemoryBeyondThem) {
    Request request;
    std::vector<std::uint8_t> data(36 + 8, 0x3C);
    EXPECT_FALSE(port.scsiPassThrough(kInvalidHandle, request.data(), data.data()));
    EXPECT_FALSE(port.scsiPassThrough(12345, request.data(), data.data()));

    DriveHandle h = port.open(0);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_FALSE(port.scsiPassThrough(h, nullptr, data.data()));
    EXPECT_FALSE(port.scsiPassThrough(h, request.data(), nullptr));  // 36 bytes announced, no buffer

    for (int cdbLength : {0, 17, 255}) {
        Request bad;
        bad.bytes[spt::kCdbLength] = static_cast<std::uint8_t>(cdbLength);
        EXPECT_FALSE(port.scsiPassThrough(h, bad.data(), data.data())) << cdbLength;
    }
    Request unknownDirection;
    unknownDirection.bytes[spt::kDataIn] = 2;
    EXPECT_FALSE(port.scsiPassThrough(h, unknownDirection.data(), data.data()));

    // A well-formed block on a node without SG_IO (a plain file): refused, no crash,
    // nothing written past the 80 bytes or past the announced data length.
    EXPECT_FALSE(port.scsiPassThrough(h, request.data(), data.data()));
    Request noData(0);
    EXPECT_FALSE(port.scsiPassThrough(h, noData.data(), nullptr));
    EXPECT_TRUE(request.tailIntact());
    EXPECT_TRUE(std::all_of(data.begin() + 36, data.end(), [](std::uint8_t b) { return b == 0x3C; }));

    port.close(h);
    EXPECT_FALSE(port.scsiPassThrough(h, request.data(), data.data()));
}

TEST_F(LinuxStorageFake, IdePassThroughChecksTheBlockAndKeepsItOnFailure) {
    DriveHandle h = port.open(0);
    ASSERT_NE(h, kInvalidHandle);
    auto block = identifyBlock();
    const auto original = block;

    EXPECT_FALSE(port.idePassThrough(h, nullptr, block.size()));
    EXPECT_FALSE(port.idePassThrough(h, block.data(), 15));
    EXPECT_FALSE(port.idePassThrough(h, block.data(), 16));   // says 512 data bytes, has none
    EXPECT_FALSE(port.idePassThrough(h, block.data(), 600));  // longer than it says
    auto twoSectors = identifyBlock();
    twoSectors.resize(16 + 1024);
    putLe32(twoSectors.data() + ide::kDataSize, 1024);
    EXPECT_FALSE(port.idePassThrough(h, twoSectors.data(), twoSectors.size()));
    auto oddSize = identifyBlock();
    putLe32(oddSize.data() + ide::kDataSize, 100);
    EXPECT_FALSE(port.idePassThrough(h, oddSize.data(), 116));
    EXPECT_FALSE(port.idePassThrough(kInvalidHandle, block.data(), block.size()));

    // Valid, but the node has no SG_IO: false, and the caller's block is unchanged
    // (no zeros passed off as IDENTIFY data).
    EXPECT_FALSE(port.idePassThrough(h, block.data(), block.size()));
    EXPECT_EQ(block, original);

    std::vector<std::uint8_t> nonData(16, 0);
    nonData[6] = 0xE7;  // FLUSH CACHE
    EXPECT_FALSE(port.idePassThrough(h, nonData.data(), nonData.size()));
    port.close(h);
}

TEST_F(LinuxStorageFake, RescanWritesTheDisksOwnRescanAttributeOnly) {
    const std::string rescanA = tree.sys + "/devices/virtual/block/sda/device/rescan";
    tree.write(rescanA, "");
    DriveHandle a = port.open(0), b = port.open(1);
    EXPECT_TRUE(port.rescanBus(a));
    EXPECT_EQ(tree.read(rescanA), "1");
    EXPECT_FALSE(port.rescanBus(b));  // sdb has no rescan attribute ...
    EXPECT_FALSE(std::filesystem::exists(tree.sys + "/block/sdb/device/rescan"));  // ... and none is made
    EXPECT_FALSE(port.rescanBus(kInvalidHandle));
    port.close(a);
    port.close(b);
}

TEST_F(LinuxStorageFake, HandleTableSurvivesConcurrentOpenCommandClose) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            Request request;
            std::uint8_t data[36];
            for (int i = 0; i < 200; ++i) {
                DriveHandle h = port.open(static_cast<std::uint8_t>(t % 2));
                ASSERT_NE(h, kInvalidHandle);
                EXPECT_FALSE(port.scsiPassThrough(h, request.data(), data));
                port.close(h);
            }
        });
    }
    for (auto& th : threads) th.join();
}

// The machine's own first drive, where there is one we may open. INQUIRY and
// IDENTIFY only read; what they return depends on the drive (virtio disks have
// no SG_IO at all), so only the port's own promises are checked.
TEST(LinuxStorageReal, FirstRealDriveAnswersOrRefusesCleanly) {
    LinuxStoragePort port;
    DriveHandle h = port.open(0);
    if (h == kInvalidHandle) GTEST_SKIP() << "no physical drive that can be opened";
    Request request;
    std::array<std::uint8_t, 36 + 8> data{};
    std::fill(data.begin() + 36, data.end(), 0x3C);
    if (port.scsiPassThrough(h, request.data(), data.data())) {
        // A SCSI status byte as the device sent it (GOOD, CHECK CONDITION, BUSY ...).
        EXPECT_EQ(request.bytes[spt::kScsiStatus] & 0xC1, 0) << int(request.bytes[spt::kScsiStatus]);
    }
    EXPECT_TRUE(request.tailIntact());
    EXPECT_TRUE(std::all_of(data.begin() + 36, data.end(), [](std::uint8_t b) { return b == 0x3C; }));

    auto block = identifyBlock();
    port.idePassThrough(h, block.data(), block.size());
    EXPECT_EQ(block[6], 0xEC);  // registers stay as sent
    EXPECT_EQ(block[5], 0xE0);
    port.close(h);
}

// A real block device whose driver has no SG_IO (an unbound loop device), reached
// through a fake /dev: the kernel's refusal must come back as a plain false.
TEST(LinuxStorageReal, BlockDeviceWithoutSgIoIsRefused) {
    int probe = ::open("/dev/loop0", O_RDONLY | O_CLOEXEC);
    if (probe < 0) GTEST_SKIP() << "no /dev/loop0 to open";
    ::close(probe);
    FakeTree tree;
    tree.addDisk("sda");
    std::filesystem::remove(tree.dev + "/sda");
    std::filesystem::create_symlink("/dev/loop0", tree.dev + "/sda");
    LinuxStoragePort port(std::make_shared<LinuxDiskTable>(tree.sys, tree.dev, tree.root + "/none"));
    DriveHandle h = port.open(0);
    ASSERT_NE(h, kInvalidHandle);
    Request request;
    std::uint8_t data[36] = {};
    EXPECT_FALSE(port.scsiPassThrough(h, request.data(), data));
    EXPECT_TRUE(request.tailIntact());
    auto block = identifyBlock();
    const auto original = block;
    EXPECT_FALSE(port.idePassThrough(h, block.data(), block.size()));
    EXPECT_EQ(block, original);
    port.close(h);
}

#include <gtest/gtest.h>

#include "device/Transport.h"
#include "support/CapturePort.h"

namespace raid {
namespace {

using test::CapturePort;
using test::Captured;
using test::cdbOf;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

struct TransportFixture : ::testing::Test {
    CapturePort port;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(0);
    XorShiftRandom random{1};
    NullDeviceReport report;
    Transport t{port, *sched, random, report};
};

TEST_F(TransportFixture, ScsiBlockHeaderIsFilledAsThePassThroughExpects) {
    std::uint8_t buf[512 * 100];
    ASSERT_TRUE(t.ReadSectors(7, 0x12345678, buf, 100));
    ASSERT_EQ(port.log.size(), 1u);
    const Bytes& b = port.log[0].block;
    EXPECT_EQ(b[0] | (b[1] << 8), 44);
    EXPECT_EQ(b[spt::kPathId], 0);
    EXPECT_EQ(b[spt::kTargetId], 1);
    EXPECT_EQ(b[spt::kLun], 0);
    EXPECT_EQ(b[spt::kCdbLength], 10);
    EXPECT_EQ(b[spt::kSenseInfoLength], 24);
    EXPECT_EQ(b[spt::kDataIn], 1);
    EXPECT_EQ(le32(b, spt::kDataTransferLength), 51200u);
    EXPECT_EQ(le32(b, spt::kTimeOutValue), 2u);
    EXPECT_EQ(le32(b, spt::kSenseInfoOffset), 48u);
    EXPECT_EQ(cdbOf(port.log[0]), (Bytes{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x64, 0}));
    // Everything past the CDB is zero: sense area, padding, spare.
    for (std::size_t i = spt::kCdb + 10; i < spt::kSize; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST_F(TransportFixture, WriteInquiryAndTheirDirections) {
    std::uint8_t sector[512];
    for (int i = 0; i < 512; ++i) sector[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(t.WriteSectors(7, 20, sector, 1));
    std::uint8_t inq[36];
    ASSERT_TRUE(t.Inquiry(7, inq));
    EXPECT_EQ(cdbOf(port.log[0]), (Bytes{0x2A, 0, 0, 0, 0, 20, 0, 0, 1, 0}));
    EXPECT_EQ(port.log[0].block[spt::kDataIn], 0);
    EXPECT_EQ(port.log[0].data, Bytes(sector, sector + 512));
    EXPECT_EQ(cdbOf(port.log[1]), (Bytes{0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0}));
    EXPECT_EQ(le32(port.log[1].block, spt::kDataTransferLength), 36u);
    EXPECT_EQ(le32(port.log[1].block, spt::kTimeOutValue), 200u);
}

TEST_F(TransportFixture, VuCommandsForEveryKindAndBothPrefixes) {
    std::uint8_t buf[512];
    ASSERT_NE(t.OpenDrive(1), kInvalidHandle);
    t.SendVu(kVuProbe, buf, 0x78100, true);
    t.SendVu(kVuProbe, buf, 0x78100, false);
    t.SendVu(kVuRead, buf, 0x012345, true);
    t.SendVu(kVuProgram, buf, 0x07F000, true);
    t.SendVu(kVuErase, buf, 0x0C000, true);
    t.SendVu(kVuIdentify, buf, 0, true);
    EXPECT_FALSE(t.SendVu(5, buf, 0, true));  // no such kind: nothing sent
    ASSERT_EQ(port.log.size(), 6u);
    EXPECT_EQ(cdbOf(port.log[0]), (Bytes{0xFE, 0x85, 0, 0x07, 0x81, 0, 0, 1, 0, 0}));
    EXPECT_EQ(cdbOf(port.log[1]), (Bytes{0xFE, 0xFE, 0x85, 0, 0x07, 0x81, 0, 0, 1, 0}));
    EXPECT_EQ(cdbOf(port.log[2]), (Bytes{0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0, 0, 0}));
    EXPECT_EQ(cdbOf(port.log[3]), (Bytes{0xFE, 0x89, 0, 0x07, 0xF0, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(port.log[3].block[spt::kDataIn], 0);
    EXPECT_EQ(le32(port.log[3].block, spt::kDataTransferLength), 256u);
    EXPECT_EQ(cdbOf(port.log[4]), (Bytes{0xFE, 0x81, 0, 0x00, 0xC0, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(le32(port.log[4].block, spt::kDataTransferLength), 8u);
    EXPECT_EQ(cdbOf(port.log[5]), (Bytes{0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(le32(port.log[5].block, spt::kDataTransferLength), 512u);
}

TEST_F(TransportFixture, VuTableCommandGoesIntoTheTransferBuffer) {
    ASSERT_NE(t.OpenDrive(1), kInvalidHandle);
    port.onScsi = [](const std::uint8_t*, std::uint8_t* data) {
        data[0] = 0x50;
        data[1] = 0x8B;
        return true;
    };
    ASSERT_TRUE(t.SendVuTable(3, true));
    ASSERT_TRUE(t.SendVuTable(3, false));
    EXPECT_FALSE(t.SendVuTable(9, true));
    EXPECT_EQ(cdbOf(port.log[0]), (Bytes{0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(cdbOf(port.log[1]), (Bytes{0xFE, 0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(le32(port.log[0].block, spt::kDataTransferLength), 20u);
    EXPECT_EQ(t.TransferBuffer()[0], 0x50);
    EXPECT_EQ(t.TransferBuffer()[1], 0x8B);
}

TEST_F(TransportFixture, IdentifyIsPrecededByRescanAndPauseOtherAtaCommandsAreNot) {
    std::uint8_t out[512] = {};
    std::uint8_t identify[7] = {0, 0, 0, 0, 0, 0xE0, 0xEC};
    port.onIde = [](std::uint8_t* block, std::size_t size) {
        EXPECT_EQ(size, 16u + 512u);
        block[ide::kData + 258] = '3';
        block[ide::kData + 259] = 'X';
        block[0] = 0x55;  // whatever the driver leaves in the registers goes back to the caller
        return true;
    };
    const std::int64_t before = sched->nowUs();
    ASSERT_TRUE(t.SendAta(7, identify, out, 1));
    EXPECT_EQ(sched->nowUs() - before, 500000);
    ASSERT_EQ(port.log.size(), 2u);
    EXPECT_EQ(port.log[0].kind, Captured::Rescan);
    const Bytes& b = port.log[1].block;
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), (Bytes{0, 0, 0, 0, 0, 0xE0, 0xEC, 0}));
    EXPECT_EQ(le32(b, ide::kDataSize), 512u);
    EXPECT_EQ(b[ide::kData], 1);
    EXPECT_EQ(out[258], '3');
    EXPECT_EQ(identify[0], 0x55);  // registers come back from the request block

    port.log.clear();
    std::uint8_t vendor[7] = {0x02, 0, 0, 0, 0, 0xE0, 0x88};
    port.onIde = [](std::uint8_t*, std::size_t size) {
        EXPECT_EQ(size, 16u);
        return false;
    };
    EXPECT_FALSE(t.SendAta(7, vendor, out, 0));
    ASSERT_EQ(port.log.size(), 1u);
    EXPECT_EQ(port.log[0].kind, Captured::Ide);
    // A request without data carries the same marker byte as one with data.
    const Bytes& nodata = port.log[0].block;
    EXPECT_EQ(le32(nodata, ide::kDataSize), 0u);
    EXPECT_EQ(nodata[ide::kData], 1);
    EXPECT_EQ(Bytes(nodata.begin() + ide::kData + 1, nodata.end()), Bytes(3, 0));
    EXPECT_EQ(sched->nowUs() - before, 500000);
    EXPECT_FALSE(t.SendAta(7, vendor, out, 2));  // more than one sector is never asked for
}

TEST_F(TransportFixture, MailboxChecksumCoversPayloadOnly) {
    Sector& m = t.MailboxCommand();
    m.fill(0);
    m[0] = '3';
    m[1] = 'X';
    m[2] = 0x1F;
    for (int i = 7; i <= 509; ++i) m[static_cast<std::size_t>(i)] = 0xFF;
    t.MailboxChecksum();
    const std::uint16_t sum = static_cast<std::uint16_t>(503 * 0xFF);
    EXPECT_EQ(m[510] | (m[511] << 8), sum);
    m[2] = 0x24;
    m[6] = 0x77;
    t.MailboxChecksum();
    EXPECT_EQ(m[510] | (m[511] << 8), sum);
    m[509] = 0;
    t.MailboxChecksum();
    EXPECT_EQ(m[510] | (m[511] << 8), static_cast<std::uint16_t>(sum - 0xFF));
}

TEST_F(TransportFixture, OpenDriveTargetsAndSingleHandle) {
    t.OpenDrive('C');
    t.OpenDrive(0);
    t.OpenDrive(66);
    EXPECT_EQ(port.opened, (std::vector<std::uint8_t>{'C', 0, 66}));
    // Each open closes the handle before it: never more than one is open.
    EXPECT_EQ(port.closes, 2);
    t.CloseCurrent();
    t.CloseCurrent();
    EXPECT_EQ(port.closes, 3);
    port.openOk = false;
    EXPECT_EQ(t.OpenDrive(1), kInvalidHandle);
    std::uint8_t buf[512];
    EXPECT_FALSE(t.SendVu(kVuRead, buf, 0, true));  // nothing reaches a device without a handle
    EXPECT_EQ(port.log.size(), 0u);
}

TEST_F(TransportFixture, RandomMailboxSectorStaysInTheReservedRange) {
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t s = t.RandomMailboxSector();
        EXPECT_GE(s, 3u);
        EXPECT_LE(s, 130u);
    }
}

}  // namespace
}  // namespace raid

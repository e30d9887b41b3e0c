#include <gtest/gtest.h>

#include "Fixtures.h"
#include "notify/Alerts.h"

namespace raid {
namespace {

using namespace raid::testing;
using Lines = std::vector<std::string>;

const std::string kCap = "3726 GB(7814037168 Sectors)";

class AlertsTest : public ::testing::Test {
protected:
    DeviceState dev;
    std::atomic<std::uint8_t> flags{0};
    AlertState alerts{dev, flags};

    void SetUp() override {
        dev.ActiveCount = 1;
        dev.ActiveDevices[0] = 0x40 | 5;
        dev.EnclosureIdentity[5] = identityPage();
        dev.EnclosureStatus[5] = raidRecord(0x42);  // drive 1 present, drive 2 absent
    }
};

TEST_F(AlertsTest, DriveFailureLinesCarryBothDrives) {
    EXPECT_EQ(alerts.pendingKind, 1);
    alerts.raiseAlert(1, 0, 1);
    EXPECT_EQ(alerts.AlertInfoLines,
              (Lines{"Device1 P1 Hard Disk Drive fail.", "Device1 information :", "Model# QX DUAL BAY RAID",
                     "Mirroring(RAID1), F/W Rev. 101208.0.A01", "Configured Capacity : " + kCap,
                     "  HDD1 is present.(SATA3G)", "    Model no.: WDC WD40EFRX-68N32N0",
                     "    Serial no.: \"WD-WCC7K1AAAAA1     \"", "    Capacity : " + kCap, "  HDD2 is absent. ",
                     "    Model no.: WDC WD40EFRX-68N32N0", "    Serial no.: \"WD-WCC7K2BBBBB2     \"",
                     "    Capacity : " + kCap}));
    EXPECT_EQ(flags.load(), kMailSendAlert);

    // Other kinds list an absent drive without its details.
    alerts.raiseAlert(3, 0, 0);
    EXPECT_EQ(alerts.AlertInfoLines.front(), "Device1 over heat.");
    EXPECT_EQ(alerts.AlertInfoLines.back(), "  HDD2 is absent. ");
    EXPECT_EQ(alerts.pendingKind, 3);
}

TEST_F(AlertsTest, AlwaysReadsTheRaidPositions) {
    Sector c{};
    c[1] = 0xC0;
    c[55] = 'd';
    c[202] = 0x22;  // ignored: the hybrid position
    c[104] = 0x18;  // at the RAID position: drive 1 failed, drive 2 inserted
    putAta(c, 256, 40, "RAID POSITION");
    c[187] = 'C';
    c[188] = '0';
    c[189] = '3';
    dev.EnclosureStatus[5] = c;
    alerts.raiseAlert(4, 0, 0);
    EXPECT_EQ(alerts.AlertInfoLines,
              (Lines{"Device1 fan fail.", "Device1 information :", "Model# QX DUAL BAY RAID",
                     "Striping(RAID0), F/W Rev. 101208.0.C03", "Configured Capacity : 0 GB(0 Sectors)",
                     "  HDD1 was failed, Capacity too small.", "    Model no.: RAID POSITION", "    Serial no.: \"\"",
                     "    Capacity : 0 GB(0 Sectors)", "HDD2 was inserted."}));
}

TEST_F(AlertsTest, DeviceTextsReachTheMailAsOneLineEach) {
    dev.EnclosureIdentity[5] = identityPage("1012\r\n.0", "QX\r\nSubject: forged\x1b");
    putAta(dev.EnclosureStatus[5], 256, 40, "MODEL\r\n\r\n.\r\n");
    putAta(dev.EnclosureStatus[5], 58, 20, "\x7f\xff\x80SERIAL");
    alerts.raiseAlert(1, 0, 0);
    ASSERT_EQ(alerts.AlertInfoLines.size(), 13u);
    EXPECT_EQ(alerts.AlertInfoLines[2], "Model# QX  Subject: forged");
    EXPECT_EQ(alerts.AlertInfoLines[3], "Mirroring(RAID1), F/W Rev. 1012  .0.A01");
    EXPECT_EQ(alerts.AlertInfoLines[6], "    Model no.: MODEL    .");
    EXPECT_EQ(alerts.AlertInfoLines[7], "    Serial no.: \"   SERIAL           \"");
    for (const auto& line : alerts.AlertInfoLines) {
        for (char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
    }
}

TEST_F(AlertsTest, UnknownDeviceStillRequestsAMail) {
    alerts.raiseAlert(2, 1, 0);
    EXPECT_TRUE(alerts.AlertInfoLines.empty());
    EXPECT_EQ(alerts.pendingKind, 2);
    EXPECT_EQ(flags.load(), kMailSendAlert);
}

TEST_F(AlertsTest, SuppressedKindEmptiesTheLinesAndRaisesNothing) {
    alerts.raiseAlert(2, 0, 0);
    flags = kMailLoadSettings;
    alerts.suppressMask = 0x01;
    alerts.raiseAlert(1, 0, 1);
    EXPECT_TRUE(alerts.AlertInfoLines.empty());
    EXPECT_EQ(flags.load(), kMailLoadSettings);
    EXPECT_EQ(alerts.pendingKind, 2);
    alerts.raiseAlert(9, 0, 0);  // no such kind
    EXPECT_EQ(flags.load(), kMailLoadSettings);
}

}  // namespace
}  // namespace raid

#include <gtest/gtest.h>

#include <algorithm>

#include "Fixtures.h"
#include "monitor/DeviceListCompare.h"
#include "monitor/StatusDecoder.h"
#include "monitor/TimeFormat.h"

namespace raid {
namespace {

using namespace raid::testing;
using Lines = std::vector<std::string>;
const std::string kLogs = rooted("/logs"), kStateRoot = rooted("/state");

struct Alert {
    int kind, index, port;
    bool operator==(const Alert&) const = default;
};

const std::string kRule(83, '-');
const std::string kCap = "3726 GB(7814037168 Sectors)";

class DecoderTest : public ::testing::Test {
protected:
    DeviceState dev;
    FakeFileStore store;
    EventLog log{store, kLogs, kStateRoot, "RAID GUI v0.23.7-3"};
    std::array<bool, 4> userAbort{};
    double clockNow = 0;
    double passTime = wallAt(2026, 12, 7, 14, 3, 5);
    std::vector<Alert> alerts;
    StatusDecoder decoder{DecoderContext{dev, log, userAbort, dev.FirstPass, clockNow, [this] { return passTime; },
                                         [this](int k, int i, int p) { alerts.push_back({k, i, p}); }}};

    void SetUp() override {
        dev.ActiveCount = 1;
        dev.ActiveDevices[0] = 0x40 | 2;
        dev.EnclosureIdentity[2] = identityPage();
        dev.EnclosureStatus[2] = raidRecord(0x22);
    }
    Sector& rec() { return dev.EnclosureStatus[2]; }
    // The start-up pass, after which the Status page has been drawn.
    void start() {
        decoder.decode(1);
        dev.FirstPass = false;
        alerts.clear();
    }
    // One more poll (at the same pass time, so that expectations may call ts() in any
    // order); the lines it added.
    Lines pass(std::uint8_t mask = 1) {
        const std::size_t before = log.lines().size();
        const std::string day = log.dayName();
        decoder.decode(mask);
        if (log.dayName() != day) return log.lines();
        return Lines(log.lines().begin() + static_cast<std::ptrdiff_t>(before), log.lines().end());
    }
    std::string ts() const { return formatDateTimeC(passTime); }
    void activity(std::uint8_t a, std::uint8_t percent) {
        rec()[105] = a;
        rec()[106] = percent;
    }
};

const Lines kRaidBlock = {
    "Device1 information :",
    "Model# QX DUAL BAY RAID",
    "Mirroring(RAID1), F/W Rev. 101208.0.A01",
    "Configured Capacity : " + kCap,
    "  HDD1 is present.(SATA2)",
    "    Model no.:WDC WD40EFRX-68N32N0",
    "    Serial no.: \"WD-WCC7K1AAAAA1     \"",
    "    Capacity : " + kCap,
    "  HDD2 is present.(SATA6G)",
    "    Model no.: WDC WD40EFRX-68N32N0",
    "    Serial no.: \"WD-WCC7K2BBBBB2     \"",
    "    Capacity : " + kCap,
};

Lines concat(std::initializer_list<Lines> parts) {
    Lines out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(DecoderTest, StartUpOnADayWithAFile) {
    store.files[joined(kLogs, "261207.log")] = "earlier\r\n";
    decoder.decode(1);
    EXPECT_EQ(clockNow, passTime);
    EXPECT_EQ(log.lines(), concat({{"earlier", kRule, "RAID GUI v0.23.7-3 has started from 12/07/26 14:03:05"},
                                   kRaidBlock,
                                   {kRule}}));
    EXPECT_EQ(store.files[joined(kLogs, "261207.log")], crlf(log.lines()));
}

TEST_F(DecoderTest, StartUpWithoutAFileHasOneRule) {
    decoder.decode(1);
    EXPECT_EQ(Lines(log.lines().begin(), log.lines().begin() + 3),
              (Lines{kRule, "RAID GUI v0.23.7-3 has started from 12/07/26 14:03:05", "Device1 information :"}));
}

TEST_F(DecoderTest, FirstPassAfterMidnightStartsANewFileWithoutHeader) {
    start();
    const std::string yesterday = store.files[joined(kLogs, "261207.log")];
    passTime = wallAt(2026, 12, 8, 0, 0, 3);
    pass();
    EXPECT_EQ(store.files[joined(kLogs, "261208.log")], crlf(concat({{kRule}, kRaidBlock, {kRule}})));
    EXPECT_EQ(store.files[joined(kLogs, "261207.log")], yesterday);
}

TEST_F(DecoderTest, InformationBlockForHybridSecondLayoutAndFailureReasons) {
    dev.ActiveCount = 3;
    dev.ActiveDevices[1] = 0x40 | 3;
    dev.ActiveDevices[2] = 0x40 | 4;
    Sector c = hybridRecord(0xC0, 0x48);  // SSD failed, HDD absent
    for (std::size_t i = 123; i < 143; ++i) c[i] = 0;  // no serial: no detail lines
    rec() = c;
    dev.EnclosureStatus[3] = hybridRecord(0xB0, 0x12);  // drive 1 present, drive 2 inserted
    dev.EnclosureStatus[4] = raidRecord(0x88);
    dev.EnclosureStatus[4][105] = 0x10;
    dev.EnclosureStatus[4][57] = 0;
    dev.EnclosureStatus[4][187] = 0;
    for (std::size_t i = 98; i < 103; ++i) dev.EnclosureStatus[4][i] = 0;
    const Lines expected = {
        "Device1 information :",
        "Model# QX DUAL BAY RAID",
        "CacheSSD, F/W Rev. 101208.0.C03",
        "Configured Capacity : 232 GB(488397168 Sectors)",
        "  SSD was failed.",
        "    Model no.:Samsung SSD 860 EVO 250GB",
        "    Serial no.: \"SSDSERIAL0001       \"",
        "    Capacity : 232 GB(488397168 Sectors)",
        "  HDD is absent. ",
        "Device2 information :",
        "Model# ",
        "Configured Capacity : 232 GB(488397168 Sectors)",
        "  HDD1 is present.(SATA1)",
        "    Model no.:Samsung SSD 860 EVO 250GB",
        "    Serial no.: \"SSDSERIAL0001       \"",
        "    Capacity : 232 GB(488397168 Sectors)",
        "HDD2 was inserted.",
        "Device3 information :",
        "Model# ",
        "Striping(RAID0), F/W Rev. .C00",
        "Configured Capacity : 0 GB(0 Sectors)",
        "  HDD1 was failed, Matched SSD, Reboot.",
        "    Model no.:WDC WD40EFRX-68N32N0",
        "    Serial no.: \"WD-WCC7K1AAAAA1     \"",
        "    Capacity : " + kCap,
        "  HDD2 was failed, Matched SSD, Reboot.",
        "    Model no.: WDC WD40EFRX-68N32N0",
        "    Serial no.: \"WD-WCC7K2BBBBB2     \"",
        "    Capacity : " + kCap,
        kRule,
    };
    decoder.decode(0x07);
    EXPECT_EQ(Lines(log.lines().begin() + 2, log.lines().end()), expected);
}

TEST_F(DecoderTest, DriveStateChanges) {
    start();
    EXPECT_TRUE(pass(0).empty());  // nothing refreshed, nothing due
    const auto written = store.bytesWritten;
    EXPECT_TRUE(pass().empty());
    EXPECT_EQ(store.bytesWritten, written);

    rec()[104] = 0x62;  // drive 2's absent bit rises while present is still set
    EXPECT_EQ(pass(), (Lines{"D1 HDD2 was removed, " + ts()}));
    EXPECT_EQ(alerts, (std::vector<Alert>{{1, 0, 1}}));
    EXPECT_TRUE(pass().empty());
    EXPECT_EQ(alerts.size(), 1u);

    rec()[104] = 0x64;
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 was removed, " + ts()}));
    EXPECT_EQ(alerts.back(), (Alert{1, 0, 0}));

    rec()[104] = 0x68;
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 was failed, Capacity too small." + ts(), "  Model no.: WDC WD40EFRX-68N32N0",
                             "  Serial no.: \"WD-WCC7K1AAAAA1     \"", "  Capacity : " + kCap}));
    rec()[104] = 0x61;
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 was inserted, " + ts()}));
}

// Splits a day file at its line ends; every byte of every line must be printable.
Lines dayFileLines(const std::string& file) {
    Lines out;
    std::size_t at = 0;
    while (at < file.size()) {
        const std::size_t end = file.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(file.substr(at));
            break;
        }
        out.push_back(file.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

bool printable(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

TEST_F(DecoderTest, DeviceTextsCannotForgeOrBreakLogLines) {
    // A drive model that carries a line break and a complete forged event after it,
    // an ESC sequence in a serial, 0xFF and a form feed in the enclosure's texts.
    const std::string forged = "D1 HDD2 was removed, 12/07/26";
    putAta(rec(), 256, 40, "EVIL\r\n" + forged);
    putAta(rec(), 58, 20, "SER\x1b[2J\xff");
    dev.EnclosureIdentity[2] = identityPage("101208.\f", "QX\r\nDUAL\xff");
    rec()[104] = 0x24;  // drive 1 absent at start
    decoder.decode(1);
    dev.FirstPass = false;
    EXPECT_EQ(Lines(log.lines().begin() + 2, log.lines().begin() + 5),
              (Lines{"Device1 information :", "Model# QX  DUAL", "Mirroring(RAID1), F/W Rev. 101208. .A01"}));

    rec()[104] = 0x22;  // drive 1 comes back: one event, three detail lines
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 was initialized (SATA3G), " + ts(), "  Model no.: EVIL  " + forged,
                             "  Serial no.: \"SER [2J             \"", "  Capacity : " + kCap}));

    // The day file holds exactly the decoder's lines: nothing started a line of its own.
    const Lines file = dayFileLines(store.files[joined(kLogs, "261207.log")]);
    EXPECT_EQ(file, log.lines());
    for (const auto& line : file) {
        EXPECT_TRUE(printable(line)) << line;
        EXPECT_NE(line.rfind("D1 HDD2", 0), 0u) << line;
    }
}

TEST_F(DecoderTest, StoredFlagsOfFFCountAsNoBits) {
    start();
    decoder.states()[0].previousFlags = 0xFF;
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 was initialized (SATA3G), " + ts(), "  Model no.: WDC WD40EFRX-68N32N0",
                             "  Serial no.: \"WD-WCC7K1AAAAA1     \"", "  Capacity : " + kCap,
                             "D1 HDD2 was initialized, (SATA6G), " + ts(), "  Model no.: WDC WD40EFRX-68N32N0",
                             "  Serial no.: \"WD-WCC7K2BBBBB2     \"", "  Capacity : " + kCap}));
}

TEST_F(DecoderTest, ScanProgressAndEnds) {
    start();
    activity(0x81, 57);
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 Scan 57%, " + ts()}));
    EXPECT_TRUE(pass().empty());  // unchanged progress: one line only
    activity(0x81, 99);
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 Scan 99%, " + ts()}));
    activity(0, 0);
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 Scan Done, " + ts(), "D1 Scan seen for under 1 min (started earlier), " + ts()}));
    EXPECT_EQ(decoder.states()[0].previousProgress, 0xFF);

    activity(0x82, 57);
    EXPECT_EQ(pass(), (Lines{"D1 HDD2 Scan 57%, " + ts()}));
    activity(0, 0);
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 OK, HDD2 OK, " + ts(), "D1 Scan seen for under 1 min (started earlier), " + ts()}));

    activity(0x82, 40);
    pass();
    userAbort[0] = true;
    activity(0, 0);
    EXPECT_EQ(pass(), (Lines{"D1 HDD2 Scan User Abort, " + ts(), "D1 Scan seen for under 1 min (started earlier), " + ts()}));
    EXPECT_FALSE(userAbort[0]);

    activity(0x81, 40);
    pass();
    activity(0, 0);
    rec()[104] = 0x42;  // drive 2 went away: the scan's end is not a success
    EXPECT_EQ(pass(), (Lines{"D1 HDD2 was removed, " + ts(), "D1 Scan seen for under 1 min (started earlier), " + ts()}));
}

TEST_F(DecoderTest, RebuildOnFirmwareWithoutScanReports) {
    dev.EnclosureIdentity[2] = identityPage("090618.0");
    start();
    activity(0x82, 40);  // bit 7 means nothing to this firmware
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 --> HDD2 40%, " + ts()}));
    activity(0x82, 99);
    pass();
    activity(0, 0);
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 --> HDD2 Done, " + ts(), "D1 Rebuild seen for under 1 min (started earlier), " + ts()}));
    activity(0x01, 10);
    EXPECT_EQ(pass(), (Lines{"D1 HDD2 --> HDD1 10%, " + ts()}));
    activity(0, 0);
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 OK, HDD2 OK, " + ts(), "D1 Rebuild seen for under 1 min (started earlier), " + ts()}));
    EXPECT_TRUE(pass().empty());

    // A rebuild watched from its start, a reading every 4 s: the time left while it
    // runs, and after the line of its end how long it took.
    activity(0x82, 0);
    pass();
    EXPECT_EQ(decoder.timeLeftText(0), "time left unknown");
    for (int p = 0; p <= 99; ++p) {
        activity(0x82, static_cast<std::uint8_t>(p));
        for (int poll = 0; poll < 20; ++poll) {
            passTime += 4;
            pass();
        }
        if (p == 30) {
            EXPECT_EQ(decoder.timeLeftText(0), "about 1 h 32 min left (45 %/h)");
        }
    }
    activity(0, 0);
    passTime += 4;
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 --> HDD2 Done, " + ts(), "D1 Rebuild took 2 h 13 min, " + ts()}));
    EXPECT_EQ(decoder.timeLeftText(0), "");
}

TEST_F(DecoderTest, ScanCapabilityIsEachEnclosuresOwnFirmware) {
    // Device 1 runs a firmware from before scan reports, device 2 the first one with them;
    // both show the same activity byte. Whichever device the window has selected, each
    // is judged by its own identity page.
    dev.ActiveCount = 2;
    dev.ActiveDevices[1] = 0x40 | 3;
    dev.EnclosureIdentity[2] = identityPage("090101.0");
    dev.EnclosureIdentity[3] = identityPage("090619.0", "SECOND ENCLOSURE");
    dev.EnclosureStatus[3] = raidRecord(0x22);
    start();
    for (std::uint32_t selected : {0u, 1u}) {
        dev.CurrentDevice = selected;
        activity(0x81, static_cast<std::uint8_t>(40 + selected));
        dev.EnclosureStatus[3][105] = 0x81;
        dev.EnclosureStatus[3][106] = static_cast<std::uint8_t>(40 + selected);
        const std::string pct = std::to_string(40 + selected) + "%, " + ts();
        EXPECT_EQ(pass(0x03), (Lines{"D1 HDD2 --> HDD1 " + pct, "D2 HDD1 Scan " + pct})) << "selected " << selected;
    }
    // The ends follow the same split: a rebuild's end on device 1, a scan's on device 2.
    activity(0, 0);
    dev.EnclosureStatus[3][105] = 0;
    EXPECT_EQ(pass(0x03), (Lines{"D1 HDD1 OK, HDD2 OK, " + ts(), "D1 Rebuild seen for under 1 min (started earlier), " + ts(), "D2 HDD1 OK, HDD2 OK, " + ts(),
                              "D2 Scan seen for under 1 min (started earlier), " + ts()}));
    EXPECT_EQ(decoder.states()[0].scanRunning, 0);
    EXPECT_EQ(decoder.states()[1].scanRunning, 0);

    // The lists swap places: the capability moves with the enclosure, not the position.
    std::swap(dev.ActiveDevices[0], dev.ActiveDevices[1]);
    activity(0x81, 99);
    dev.EnclosureStatus[3][105] = 0x81;
    dev.EnclosureStatus[3][106] = 99;
    EXPECT_EQ(pass(0x03), (Lines{"D1 HDD1 Scan 99%, " + ts(), "D2 HDD2 --> HDD1 99%, " + ts()}));
}

TEST_F(DecoderTest, BadSectorsListOnlyNewRingEntries) {
    start();
    for (std::uint32_t k = 0; k < 10; ++k) putLe(rec(), 472 + 4 * k, 1000 + k, 4);
    rec()[105] = 0x04;  // reporting mode 1: drive 1
    rec()[471] = 3;
    EXPECT_EQ(pass(), (Lines{"D1 HDD1 Bad Sector was found. " + ts(), "  LBA: 1000", "  LBA: 1001", "  LBA: 1002"}));
    rec()[471] = 17;
    Lines expected{"D1 HDD1 Bad Sector was found. " + ts()};
    for (int e : {7, 8, 9, 0, 1, 2, 3, 4, 5, 6}) expected.push_back("  LBA: " + std::to_string(1000 + e));
    EXPECT_EQ(pass(), expected);
    rec()[471] = 0;
    EXPECT_TRUE(pass().empty());
    EXPECT_EQ(decoder.states()[0].previousBadCount, 17);
    rec()[471] = 1;
    EXPECT_TRUE(pass().empty());
    rec()[471] = 2;
    rec()[105] = 0x08;  // mode 2: drive 2
    EXPECT_EQ(pass(), (Lines{"D1 HDD2 Bad Sector was found. " + ts(), "  LBA: 1001"}));
}

TEST_F(DecoderTest, HybridFlushMarkersAndDone) {
    rec() = hybridRecord(0xC0, 0x22);
    start();
    putLe(rec(), 217, 1234, 4);
    Lines got;
    for (int p = 0; p <= 100; ++p) {
        const Lines l = pass();
        got.insert(got.end(), l.begin(), l.end());
    }
    ASSERT_EQ(got.size(), 26u);
    EXPECT_EQ(got.front(), "D1 SSD --> HDD ., " + ts());
    EXPECT_EQ(got[24], "D1 SSD --> HDD ., " + ts());
    EXPECT_EQ(got.back(), "D1 SSD --> HDD *, " + ts());
    EXPECT_EQ(decoder.flushCounter(), 0x81);  // restarts at 1, the flush still seen
    EXPECT_TRUE(pass().empty());

    rec()[203] = 0x02;  // cache disabled
    EXPECT_EQ(pass(), (Lines{"D1 SSD --> HDD Done, " + ts()}));
    EXPECT_EQ(decoder.flushCounter(), 0);
    EXPECT_TRUE(pass().empty());

    rec()[203] = 0;  // a flush that ends with the cache still on writes no Done
    EXPECT_EQ(pass().size(), 1u);
    putLe(rec(), 217, 0xFFFFFFFFu, 4);
    EXPECT_TRUE(pass().empty());
    rec()[203] = 0x02;
    EXPECT_TRUE(pass().empty());
}

TEST_F(DecoderTest, FanAndTemperatureAlertOncePerRisingBitWithoutLines) {
    start();
    const std::size_t lines = log.lines().size();
    rec()[348] = 0xA1;
    pass();
    pass();
    EXPECT_EQ(alerts, (std::vector<Alert>{{4, 0, 0}}));
    rec()[348] = 0xA5;
    pass();
    rec()[348] = 0xA0;
    pass();
    rec()[348] = 0xA1;
    pass();
    EXPECT_EQ(alerts, (std::vector<Alert>{{4, 0, 0}, {3, 0, 0}, {4, 0, 0}}));
    rec()[108] = 16;  // not a monitoring firmware: the byte means nothing
    rec()[348] = 0xA4;
    pass();
    EXPECT_EQ(alerts.size(), 3u);
    EXPECT_EQ(log.lines().size(), lines);
}

TEST_F(DecoderTest, UnpluggingOneOfTwoEnclosures) {
    dev.ActiveCount = 2;
    dev.ActiveDevices[1] = 0x40 | 3;
    dev.EnclosureIdentity[3] = identityPage("101208.0", "SECOND ENCLOSURE");
    dev.EnclosureStatus[3] = raidRecord(0x22);
    start();
    dev.FoundCount = 1;
    dev.FoundDevices[0] = 0x40 | 2;
    dev.freshPages[2] = dev.EnclosureIdentity[2];
    auto raise = [this](int k, int i, int p) { alerts.push_back({k, i, p}); };
    EXPECT_TRUE(compareDeviceLists(dev, log, raise));
    EXPECT_EQ(log.pendingLines(), (Lines{"D2 Device was removed.", "    Device had changed."}));
    EXPECT_EQ(alerts, (std::vector<Alert>{{2, 1, 0}}));

    dev.ActiveCount = 1;  // the detection tick publishes the new list
    rec()[104] = 0x62;    // re-seeded, so no event from this
    const Lines got = pass();
    EXPECT_EQ(got, concat({{kRule, "D2 Device was removed." + ts(), "    Device had changed." + ts()},
                           Lines(kRaidBlock.begin(), kRaidBlock.begin() + 8),
                           {"  HDD2 is absent. ", "    Model no.: WDC WD40EFRX-68N32N0",
                            "    Serial no.: \"WD-WCC7K2BBBBB2     \"", "    Capacity : " + kCap, kRule}}));
    EXPECT_TRUE(pass().empty());
}

TEST(DeviceListCompareTest, EqualCountsWriteNothingAndNewOnesAreNumbered) {
    FakeFileStore store;
    EventLog log{store, kLogs, "", "T"};
    DeviceState dev;
    int raised = 0;
    auto raise = [&](int, int, int) { ++raised; };
    dev.ActiveCount = 1;
    dev.ActiveDevices[0] = 0x41;
    dev.EnclosureIdentity[1] = identityPage("1", "A");
    dev.FoundCount = 1;
    dev.FoundDevices[0] = 0x41;
    dev.freshPages[1] = identityPage("1", "B");  // exchanged, count unchanged
    EXPECT_FALSE(compareDeviceLists(dev, log, raise));
    EXPECT_TRUE(log.pendingLines().empty());
    EXPECT_FALSE(log.deviceListChanged());

    // A new enclosure in front of the known one.
    dev.FoundCount = 2;
    dev.FoundDevices[0] = 0x42;
    dev.freshPages[2] = identityPage("1", "B");
    dev.FoundDevices[1] = 0x41;
    dev.freshPages[1] = identityPage("1", "A");
    EXPECT_TRUE(compareDeviceLists(dev, log, raise));
    EXPECT_EQ(log.pendingLines(), (Lines{"D1 New Device was found.", "    Device had changed."}));
    EXPECT_EQ(raised, 0);

    // From nothing: every entry is new. To nothing: every entry removed, one alert each.
    EventLog log2{store, kLogs, "", "T"};
    dev.ActiveCount = 0;
    EXPECT_TRUE(compareDeviceLists(dev, log2, raise));
    EXPECT_EQ(log2.pendingLines(),
              (Lines{"D1 New Device was found.", "D2 New Device was found.", "    Device had changed."}));
    EventLog log3{store, kLogs, "", "T"};
    dev.ActiveCount = 2;
    dev.ActiveDevices[1] = 0x42;
    dev.FoundCount = 0;
    EXPECT_TRUE(compareDeviceLists(dev, log3, raise));
    EXPECT_EQ(log3.pendingLines(),
              (Lines{"D1 Device was removed.", "D2 Device was removed.", "    Device had changed."}));
    EXPECT_EQ(raised, 2);
}

}  // namespace
}  // namespace raid

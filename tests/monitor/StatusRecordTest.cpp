#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "Fixtures.h"
#include "monitor/Metrics.h"
#include "monitor/StatusRecord.h"
#include "monitor/StatusTexts.h"
#include "monitor/TimeFormat.h"
#include "notify/MailFormat.h"

namespace raid {
namespace {

using namespace raid::testing;

TEST(StatusRecordTest, AtaTextsAreSwappedModelsTrimmedSerialsKeptWhole) {
    Sector s{};
    putAta(s, 256, 40, "WDC WD40EFRX");
    putAta(s, 58, 20, "SER1");
    const StatusRecord rec(s, raidLayout());
    EXPECT_EQ(s[256], 'D');  // the builder really swaps
    EXPECT_EQ(rec.model(0), "WDC WD40EFRX");
    EXPECT_EQ(rec.serial(0), "SER1                ");

    // The first six characters are never cut, even when they are blanks.
    putAta(s, 302, 40, "AB");
    EXPECT_EQ(rec.model(1), "AB    ");
    putAta(s, 302, 40, "");
    EXPECT_EQ(rec.model(1), "      ");
    // A zero byte ends the text.
    s[302] = 'X';
    s[303] = 0;
    EXPECT_EQ(rec.model(1), "");
}

TEST(StatusRecordTest, DeviceTextsNeverCarryControlCharacters) {
    Sector s{};
    // A line break in the middle stays as wide blanks; one at the end is cut as blanks are.
    putAta(s, 256, 40, "EVIL\r\nD1 HDD2 was removed, \x1b[1m\xff");
    putAta(s, 302, 40, "WDC WD40EFRX\r\n\f\x7f");
    putAta(s, 58, 20, "SER\t1\x80\x1b");
    const StatusRecord rec(s, raidLayout());
    EXPECT_EQ(rec.model(0), "EVIL  D1 HDD2 was removed,  [1m");
    EXPECT_EQ(rec.model(1), "WDC WD40EFRX");
    EXPECT_EQ(rec.fullModel(1), "WDC WD40EFRX" + std::string(28, ' '));
    EXPECT_EQ(rec.serial(0), "SER 1               ");
    // A control-only model keeps its six leading characters, as blanks.
    putAta(s, 302, 40, "\r\n\r\n\r\n\r\n");
    EXPECT_EQ(rec.model(1), "      ");

    // The identity page's texts pass the same way.
    Sector id = identityPage("09\n619.\x1b", "QX\r\nDUAL\xff");
    EXPECT_EQ(firmwareRevision(id), "09 619. ");
    EXPECT_EQ(enclosureModel(id), "QX  DUAL");
    EXPECT_FALSE(scanCapable(firmwareRevision(id)));
    // Text bytes that are printable are never touched.
    id = identityPage("090619.0", "QX DUAL BAY RAID ~!@#$%^&*()_+{}|:<>?");
    EXPECT_EQ(firmwareRevision(id), "090619.0");
    EXPECT_EQ(enclosureModel(id), "QX DUAL BAY RAID ~!@#$%^&*()_+{}|:<>?");
}

TEST(StatusRecordTest, CountsAndLayoutsFollowTheKind) {
    const Sector a = raidRecord(0x22);
    const StatusRecord ra(a);
    EXPECT_EQ(ra.capacity(1), k4Tb);
    EXPECT_EQ(gigabytes(ra.configuredCapacity()), 3726u);
    EXPECT_EQ(ra.driveFlags(), 0x22);

    const Sector c = hybridRecord(0xC0, 0x26);
    const StatusRecord rc(c);
    EXPECT_EQ(rc.driveFlags(), 0x26);
    EXPECT_EQ(rc.configuredCapacity(), 488397168u);
    EXPECT_EQ(rc.model(0), "Samsung SSD 860 EVO 250GB");
    EXPECT_EQ(rc.serial(1), "HDDSERIAL0002       ");
    // Forced RAID positions read the RAID fields of any record.
    EXPECT_EQ(StatusRecord(c, raidLayout()).driveFlags(), c[104]);

    Sector big{};
    putLe(big, 98, 0xFFFFFFFFFFull, 5);
    big[103] = 0xFF;  // the sixth byte is not part of the count
    EXPECT_EQ(StatusRecord(big, raidLayout()).configuredCapacity(), 0xFFFFFFFFFFull);
}

TEST(StatusRecordTest, SharedTextsOfCapacitiesAndDriveDetails) {
    EXPECT_EQ(capacityText(0), "0 GB(0 Sectors)");
    EXPECT_EQ(capacityText((1u << 21) - 1), "0 GB(2097151 Sectors)");  // truncated, never rounded
    EXPECT_EQ(capacityText(0xFFFFFFFFFFull), "524287 GB(1099511627775 Sectors)");
    const Sector s = raidRecord(0x22);
    const StatusRecord rec(s);
    const std::array<std::string, 3> log = driveDetailLines(rec, 1, "  ");
    EXPECT_EQ(log[0], "  Model no.: WDC WD40EFRX-68N32N0");
    EXPECT_EQ(log[1], "  Serial no.: \"WD-WCC7K2BBBBB2     \"");
    EXPECT_EQ(log[2], "  Capacity : 3726 GB(7814037168 Sectors)");
    EXPECT_EQ(driveDetailLines(rec, 0, "    ", false)[0], "    Model no.:WDC WD40EFRX-68N32N0");
    EXPECT_EQ(firmwareLine("JBOD", identityPage("090619.0"), rec), "JBOD, F/W Rev. 090619.0.A01");
}

TEST(StatusRecordTest, NameTablesAndOutOfRangeValues) {
    EXPECT_EQ(raidModeText(0), "Striping(RAID0)");
    EXPECT_EQ(raidModeText(3), "JBOD");
    EXPECT_EQ(raidModeText(63), "Bypass");
    EXPECT_EQ(raidModeText(4), "Undefine");
    EXPECT_EQ(hybridModeText('D'), "CacheHDD");
    EXPECT_EQ(hybridModeText('s'), "SingleHDD");
    EXPECT_EQ(hybridModeText(127), "VirtualDisk");
    EXPECT_EQ(hybridModeText('x'), "Undefined");
    EXPECT_EQ(sataSpeedName(1), "1.5G");
    EXPECT_EQ(sataSpeedName(3), "6G");
    for (unsigned n = 4; n < 16; ++n) EXPECT_EQ(sataSpeedName(n), "");
    EXPECT_EQ(driveName(0xC0, 0), "SSD");
    EXPECT_EQ(driveName(0xB0, 1), "HDD2");

    Sector s{};
    const auto sub = [&](const char* t) {
        s[187] = static_cast<std::uint8_t>(t[0]);
        s[188] = static_cast<std::uint8_t>(t[1]);
        s[189] = static_cast<std::uint8_t>(t[2]);
        return StatusRecord(s).subCode();
    };
    EXPECT_EQ(sub("A01"), "A01");
    EXPECT_EQ(sub("Z9F"), "Z9F");
    EXPECT_EQ(sub("a01"), "C00");
    EXPECT_EQ(sub("AG1"), "C00");
    EXPECT_EQ(sub("A0f"), "C00");
}

TEST(StatusRecordTest, FirmwareCapabilitiesAndProductClass) {
    EXPECT_TRUE(scanCapable("090619.0"));
    EXPECT_FALSE(scanCapable("090618.9"));
    EXPECT_FALSE(monitorCapable("100125.0"));
    EXPECT_TRUE(monitorCapable("100126.0"));
    EXPECT_FALSE(scanCapable("1012080."));  // seventh character must be "."
    EXPECT_FALSE(scanCapable("10120A.0"));
    EXPECT_FALSE(scanCapable(""));
    const Sector id = identityPage("101208.0", "QX", 1);
    EXPECT_EQ(firmwareRevision(id), "101208.0");
    EXPECT_EQ(productClass(id), 4);
    EXPECT_EQ(productClass(identityPage("x", "x", 16)), 1);
    EXPECT_EQ(productClass(identityPage("x", "x", 7)), 2);
}

TEST(StatusRecordTest, DeviceLookupsStayInsideTheTables) {
    DeviceState dev;
    dev.ActiveCount = 2;
    dev.ActiveDevices[0] = 0x40 | 3;
    dev.ActiveDevices[1] = 0x40 | 12;  // a slot beyond the ten identity pages
    dev.EnclosureIdentity[3] = identityPage();
    dev.EnclosureStatus[12] = raidRecord(0x22);
    EXPECT_EQ(&identityOf(dev, 0), &dev.EnclosureIdentity[3]);
    EXPECT_EQ(&identityOf(dev, 1), &zeroPage());
    EXPECT_EQ(&statusOf(dev, 1), &dev.EnclosureStatus[12]);
    EXPECT_EQ(&statusOf(dev, 2), &zeroPage());
    EXPECT_EQ(&statusOf(dev, -1), &zeroPage());
    dev.ActiveCount = 1000;  // a corrupt count is clamped to the list
    EXPECT_EQ(deviceSlot(dev, kMaxActive), -1);
}

TEST(TimeFormatTest, CFormatAndDayNameOfLocalTime) {
    const double t = wallAt(2026, 12, 7, 14, 3, 5) + 0.75;
    EXPECT_EQ(formatDateTimeC(t), "12/07/26 14:03:05");
    EXPECT_EQ(formatYymmdd(t), "261207");
    // A broken clock value gives some date, never a crash.
    EXPECT_FALSE(formatYymmdd(std::nan("")).empty());
    EXPECT_FALSE(formatYymmdd(1e300).empty());
}

TEST(TimeFormatTest, LocalWallSecondsOnlyForDatesThatExist) {
    const auto t = localWallSeconds(2028, 2, 29, 23, 59, 59);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(formatDateTimeC(*t), "02/29/28 23:59:59");
    EXPECT_EQ(*localWallSeconds(2028, 3, 1, 0, 0, 0) - *t, 1.0);
    EXPECT_FALSE(localWallSeconds(2026, 2, 29, 0, 0, 0));
    EXPECT_FALSE(localWallSeconds(2026, 4, 31, 0, 0, 0));
    EXPECT_FALSE(localWallSeconds(2026, 13, 1, 0, 0, 0));
    EXPECT_FALSE(localWallSeconds(2026, 0, 1, 0, 0, 0));
    EXPECT_FALSE(localWallSeconds(2026, 1, 1, 24, 0, 0));
    EXPECT_FALSE(localWallSeconds(2026, 1, 1, 0, 60, 0));
    EXPECT_FALSE(localWallSeconds(2026, 1, 1, 0, 0, -1));
    EXPECT_FALSE(localWallSeconds(1969, 12, 31, 23, 59, 59));
    EXPECT_FALSE(localWallSeconds(2147483647, 1, 1, 0, 0, 0));
}

// The C library of Windows stops at the year 3000; our conversion must not.
void setZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone ? zone : "");
    _tzset();
#else
    if (zone)
        ::setenv("TZ", zone, 1);
    else
        ::unsetenv("TZ");
    ::tzset();
#endif
}

TEST(TimeFormatTest, FarFutureTimesKeepTheirZoneRulesAndRoundTrip) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    // A fixed offset both C libraries read the same way.
    setZone("CET-1");
    const auto winter = localTimeParts(33353510400.0);  // 3026-12-07 00:00 UTC, a Thursday
    const std::string day = formatYymmdd(33353510400.0);
    const auto back = localWallSeconds(3026, 12, 7, 1, 0, 0);
    const auto last = localTimeParts(253402300799.0);  // the last second the program shows
    setZone(old ? saved.c_str() : nullptr);

    ASSERT_TRUE(winter && last && back);
    EXPECT_EQ(mailDateValue(*winter), "Thu, 7 Dec 3026 01:00:00 +0100");
    EXPECT_EQ(day, "261207");
    EXPECT_EQ(*back, 33353510400.0);
    EXPECT_EQ(last->year, 10000);  // 9999-12-31 23:59:59 UTC is already the next year at +0100
    EXPECT_EQ(utcParts(253402214400).weekday, 5);  // 9999-12-31 was a Friday
    EXPECT_EQ(utcParts(-1).year, 1969);
}

// Two enclosures that give the same model and no serial stay two series (told apart by
// their drive, and only they); label values from anywhere stay one escaped line of
// printable ASCII; an enclosure whose record could not be read says so by its health
// alone, with no drive, fan or temperature series that would read as zeros.
TEST(StatusRecordTest, MetricsNameEachEnclosureOnceWithEscapedLabels) {
    StatusSummary s;
    EnclosureSummary a;
    a.model = "BOX";
    a.drives = {"/dev/sdb"};
    a.firmware = "x\\y\"z\nnext\x1b[2J\xc3\xa9";
    a.source = "poll";
    a.controller = "raid";
    a.bays[0].state = a.bays[1].state = "present";
    a.health = Health::Healthy;
    EnclosureSummary b = a;
    b.drives = {"/dev/sdc"};
    b.source = "";
    b.health = Health::Unknown;
    s.enclosures = {a, b};
    const std::string text = metricsText(s, 3);
    EXPECT_NE(text.find("raidgui_enclosure_info{model=\"BOX\",serial=\"\",drive=\"/dev/sdb\",firmware=\"x\\\\y\\\"z\\nnext [2J  \",controller=\"raid\",mode=\"\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("raidgui_health{model=\"BOX\",serial=\"\",drive=\"/dev/sdc\"} 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("raidgui_drive_present{model=\"BOX\",serial=\"\",drive=\"/dev/sdb\",bay=\"1\"} 1\n"),
              std::string::npos);
    EXPECT_EQ(text.find("drive=\"/dev/sdc\",bay="), std::string::npos) << text;
    EXPECT_EQ(text.find("raidgui_fan_rpm{"), std::string::npos) << text;  // neither carries a fan
    EXPECT_NE(text.find("raidgui_mail_failures_total 3\n"), std::string::npos);
    s.enclosures.pop_back();
    EXPECT_EQ(metricsText(s, 0).find("drive=\""), std::string::npos);  // one of its kind: model and serial do
    // A rebuild's time left is a series only while it is known.
    s.enclosures[0].activity = "rebuild";
    s.enclosures[0].progress = 40;
    s.enclosures[0].target = 2;
    s.enclosures[0].timed = true;
    EXPECT_EQ(metricsText(s, 0).find("raidgui_activity_seconds_left{"), std::string::npos);
    s.enclosures[0].timeLeft = {true, 7980.4, 27};
    EXPECT_NE(metricsText(s, 0).find("raidgui_activity_seconds_left{model=\"BOX\",serial=\"\",activity=\"rebuild\",bay=\"2\"} 7980\n"),
              std::string::npos)
        << metricsText(s, 0);
}

}  // namespace
}  // namespace raid

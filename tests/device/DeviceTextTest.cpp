#include <gtest/gtest.h>

#include <string>

#include "device/DeviceText.h"

namespace raid {
namespace {

TEST(DeviceTextTest, PrintableAsciiStaysByteForByte) {
    std::string all;
    for (int c = 0x20; c < 0x7F; ++c) all.push_back(static_cast<char>(c));
    EXPECT_EQ(printableDeviceText(all), all);
    EXPECT_EQ(printableDeviceText("WDC WD40EFRX-68N32N0    "), "WDC WD40EFRX-68N32N0    ");
    EXPECT_EQ(printableDeviceText(""), "");
}

TEST(DeviceTextTest, EveryOtherByteBecomesABlankAndTheWidthStays) {
    for (int c = 1; c < 0x100; ++c) {
        const char byte = static_cast<char>(c);
        const std::string raw = std::string("A") + byte + "B";
        const bool printable = c >= 0x20 && c <= 0x7E;
        EXPECT_EQ(printableDeviceText(raw), printable ? raw : "A B") << "byte " << c;
        EXPECT_EQ(isPrintableDeviceByte(static_cast<unsigned char>(c)), printable) << "byte " << c;
    }
    // The faults that were seen: a line break, a form feed, ESC, DEL and 0xFF.
    EXPECT_EQ(printableDeviceText("MODEL\r\nD1 HDD2 was removed, "), "MODEL  D1 HDD2 was removed, ");
    EXPECT_EQ(printableDeviceText("\f\x1b[2J\x7f\xff"), "  [2J  ");
    // UTF-8 is not device text either: each byte of it is a blank.
    EXPECT_EQ(printableDeviceText("caf\xc3\xa9"), "caf  ");
}

TEST(DeviceTextTest, AZeroByteEndsTheText) {
    using namespace std::string_literals;
    EXPECT_EQ(printableDeviceText("SER1\0\0\0\0"s), "SER1");
    EXPECT_EQ(printableDeviceText("\0\r\nHIDDEN"s), "");
    // What follows the zero is never looked at, control characters included.
    EXPECT_EQ(printableDeviceText("AB\x1b\0\r\n"s), "AB ");
}

}  // namespace
}  // namespace raid

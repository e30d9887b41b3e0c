// Image validation and the record and directory readers, against images built by the
// simulator's builder (which writes the layout on its own) and hand-broken copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maintenance/FirmwareImage.h"
#include "sim/FirmwareImages.h"

namespace raid {
namespace {

using namespace firmware;
using sim::FirmwareImageOptions;
using sim::makeFirmwareImage;
using sim::SubCodeOptions;

FirmwareImage built(const FirmwareImageOptions& o = {}) { return FirmwareImage(makeFirmwareImage(o)); }

TEST(FirmwareImage, ABuiltImageReadsBackWhole) {
    FirmwareImageOptions o;
    o.kind = 0xC0;
    o.subCodes = {{0x31, std::nullopt, true}, {0x32, std::nullopt, false}, {0x35, std::nullopt, true}};
    const FirmwareImage image = built(o);
    ASSERT_TRUE(image.valid());
    const auto rec = image.configRecord();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->sequence(), 0);
    EXPECT_EQ(rec->kind(), 0xC0);
    EXPECT_TRUE(rec->checksumValid());
    EXPECT_EQ(rec->nextSlot(), 0x30000u);
    EXPECT_EQ(rec->byte(113), 0x06);  // low nibbles 1 and 2; 5 is past bit 3
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rec->bytes()[114])), "TORVEX");

    const std::vector<std::uint32_t> offsets{0xC000, 0x18000, 0x24000};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(rec->entry(i).offset, offsets[i]) << i;
    EXPECT_FALSE(rec->entry(1).present());  // listed, marker not 0x5A
    EXPECT_EQ(rec->entry(3).codeType, kEmptyCodeType);
    EXPECT_FALSE(rec->entry(3).present());
    EXPECT_FALSE(rec->entry(10).present());  // past the directory

    const auto dir = imageDirectory(image);
    ASSERT_EQ(dir.size(), 2u);
    EXPECT_EQ(dir[0].index, 0u);
    EXPECT_EQ(dir[1].index, 2u);
    for (const auto& item : dir) {
        ASSERT_TRUE(item.usable());
        ASSERT_EQ(item.subCode->size(), kSlotSize);
        EXPECT_EQ(item.subCode->data(), image.bytes().data() + item.entry.offset);
        for (std::uint32_t k : {0u, 1u, 0x5FFFu, 0xBFFFu})
            EXPECT_EQ((*item.subCode)[k], sim::subCodeByte(item.entry.codeType, k));
    }
}

TEST(FirmwareImage, ValidationNeedsSignatureVersionAndLength) {
    for (const int kind : {0xA0, 0xB0, 0xC0}) {
        FirmwareImageOptions o;
        o.kind = static_cast<std::uint8_t>(kind);
        EXPECT_TRUE(built(o).valid()) << kind;
    }
    auto bytes = makeFirmwareImage();
    bytes[kVersionOffset] = 0xD0;
    EXPECT_FALSE(FirmwareImage(bytes).valid());

    bytes = makeFirmwareImage();
    bytes[3] = 'T';
    EXPECT_FALSE(FirmwareImage(bytes).valid());

    // One byte short of the flash: refused although signature and version are there.
    bytes = makeFirmwareImage();
    bytes.pop_back();
    EXPECT_FALSE(FirmwareImage(bytes).valid());
    // Longer files are refused too: the version byte is read at 0x78001 and the record
    // at size - 0x8000, which are one place only in an image of exactly the flash's size.
    for (const std::size_t extra : {std::size_t{1}, std::size_t{0x1000}}) {
        bytes = makeFirmwareImage();
        bytes.resize(kFlashSize + extra, 0xFF);
        EXPECT_FALSE(FirmwareImage(bytes).valid()) << extra;
    }

    EXPECT_FALSE(FirmwareImage().valid());
    EXPECT_FALSE(FirmwareImage(std::vector<std::uint8_t>{'F', 'I', 'P', 'S'}).valid());
}

TEST(FirmwareImage, ShortFilesHaveNoRecord) {
    EXPECT_FALSE(FirmwareImage().configRecord());
    EXPECT_FALSE(FirmwareImage(std::vector<std::uint8_t>(kRecordAreaSize - 1, 0x5A)).configRecord());
    EXPECT_TRUE(imageDirectory(FirmwareImage(std::vector<std::uint8_t>(100, 0x5A))).empty());
    // Exactly a record area: the record is at 0, and its entries (all 0x5A: type 0x5A,
    // offset 0x5A5A5A) reach far past this file, so none is usable.
    const FirmwareImage small(std::vector<std::uint8_t>(kRecordAreaSize, 0x5A));
    ASSERT_TRUE(small.configRecord());
    const auto dir = imageDirectory(small);
    ASSERT_EQ(dir.size(), kDirectoryEntries);
    for (const auto& item : dir) EXPECT_FALSE(item.usable());
}

// Offsets at and past the end of the image: whatever the directory claims, a sub-code
// must lie inside the file and before its record area, and is unusable otherwise.
TEST(FirmwareImage, EntriesReachingTheRecordAreaOrPastTheEndAreUnusable) {
    FirmwareImageOptions o;
    o.subCodes = {
        {0x31, 0x6C000, true},   // last slot before the record area: fits
        {0x32, 0x78000, true},   // a multiple of 0xC000 whose slot is the record area and beyond
        {0x35, 0x74000, true},   // any offset for 0x35, but this one covers the record area
        {0x35, 0x6C001, true},   // one byte into it
        {0x35, 0xFFFFFF, true},  // far past the end
        {0x33, 0x10000, true},   // not a multiple of 0xC000
        {0x34, 0, true},         // zero is no slot
        {0x35, 0, true},         // ... but 0x35 takes it
        {0x36, 0xC000, true},
    };
    const FirmwareImage image = built(o);
    ASSERT_TRUE(image.valid());
    std::vector<std::size_t> usable, unusable;
    for (const DirectoryItem& item : imageDirectory(image)) {
        if (!item.usable()) {
            unusable.push_back(item.index);
            continue;
        }
        usable.push_back(item.index);
        // Every byte a writer reads lies before the record area.
        EXPECT_LE(item.entry.offset + item.subCode->size(), kRecordAreaStart);
    }
    EXPECT_EQ(usable, (std::vector<std::size_t>{0, 7, 8}));
    EXPECT_EQ(unusable, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(image.subCode(SubCodeEntry{0x35, 0x6C001, kPresentMarker}));
}

TEST(ConfigRecordTest, ChecksumCoversBytesUpTo253LowByteFirst) {
    ConfigRecord::Bytes b{};
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i);
    ConfigRecord rec(b);
    // 0 + 1 + ... + 253 = 32131 = 0x7D83; bytes 254 and 255 are not counted.
    EXPECT_EQ(rec.checksum(), 0x7D83);
    EXPECT_EQ(recordChecksum(b), 0x7D83);
    EXPECT_FALSE(rec.checksumValid());
    rec.seal();
    EXPECT_EQ(rec.byte(254), 0x83);
    EXPECT_EQ(rec.byte(255), 0x7D);
    EXPECT_EQ(rec.storedChecksum(), 0x7D83);
    EXPECT_TRUE(rec.checksumValid());
    EXPECT_EQ(rec.checksum(), 0x7D83);  // sealing does not change what is summed

    // The largest possible sum stays within 16 bits: 254 x 0xFF.
    ConfigRecord erased;
    EXPECT_EQ(erased.checksum(), 254 * 0xFF);
}

TEST(ConfigRecordTest, FieldWritesStayInTheirPlace) {
    ConfigRecord rec;
    rec.setEntryOffset(9, 0x3C000);
    rec.setEntryOffset(10, 0x123456);  // no eleventh entry: nothing changes
    rec.setNextSlot(0x48000);
    rec.setSequence(17);
    EXPECT_EQ(rec.entry(9).offset, 0x3C000u);
    EXPECT_EQ(rec.byte(2 + 5 * 9), 0xFF);      // the code type is untouched
    EXPECT_EQ(rec.byte(2 + 5 * 9 + 4), 0xFF);  // and the marker
    EXPECT_EQ(rec.nextSlot(), 0x48000u);
    EXPECT_EQ(rec.byte(52), 0x00);
    EXPECT_EQ(rec.byte(53), 0x80);
    EXPECT_EQ(rec.byte(54), 0x04);
    EXPECT_EQ(rec.byte(55), 0xFF);
    EXPECT_EQ(rec.sequence(), 17);
    EXPECT_EQ(rec.byte(256), 0);  // outside the record
    EXPECT_FALSE(ConfigRecord::from(std::vector<std::uint8_t>(255, 0)));
}

TEST(FirmwareImage, SumWrapsAt32Bits) {
    // 0x80000 x 0xFF, the sum an erased flash image shows.
    EXPECT_EQ(byteSum(std::vector<std::uint8_t>(kFlashSize, 0xFF)), 0x07F80000u);
    // 16843010 x 0xFF = 2^32 + 254.
    EXPECT_EQ(byteSum(std::vector<std::uint8_t>(16843010, 0xFF)), 254u);
}

}  // namespace
}  // namespace raid

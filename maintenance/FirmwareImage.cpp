#include "maintenance/FirmwareImage.h"

#include <algorithm>
#include <numeric>

namespace raid {

using namespace firmware;

std::optional<ConfigRecord> ConfigRecord::from(std::span<const std::uint8_t> from) {
    if (from.size() < kRecordSize) return std::nullopt;
    Bytes b;
    std::copy_n(from.begin(), kRecordSize, b.begin());
    return ConfigRecord(b);
}

SubCodeEntry ConfigRecord::entry(std::size_t index) const {
    SubCodeEntry e;
    if (index >= kDirectoryEntries) return e;
    const std::size_t at = kRecDirectory + kEntrySize * index;
    e.codeType = bytes_[at];
    e.offset = le24(at + 1);
    e.marker = bytes_[at + 4];
    return e;
}

std::uint16_t ConfigRecord::storedChecksum() const {
    return static_cast<std::uint16_t>(bytes_[kRecChecksum] | (bytes_[kRecChecksum + 1] << 8));
}

std::uint16_t ConfigRecord::checksum() const { return recordChecksum(bytes_); }

void ConfigRecord::setEntryOffset(std::size_t index, std::uint32_t offset) {
    if (index >= kDirectoryEntries) return;
    putLe24(kRecDirectory + kEntrySize * index + 1, offset);
}

void ConfigRecord::seal() {
    const std::uint16_t sum = checksum();
    bytes_[kRecChecksum] = static_cast<std::uint8_t>(sum & 0xFF);
    bytes_[kRecChecksum + 1] = static_cast<std::uint8_t>(sum >> 8);
}

std::uint32_t ConfigRecord::le24(std::size_t at) const {
    return static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes_[at + 2]) << 16;
}

void ConfigRecord::putLe24(std::size_t at, std::uint32_t value) {
    bytes_[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    bytes_[at + 2] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
}

std::uint16_t recordChecksum(std::span<const std::uint8_t, kRecordSize> record) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < kRecChecksum; ++i) sum += record[i];
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

std::uint32_t byteSum(std::span<const std::uint8_t> bytes) {
    // Unsigned arithmetic wraps modulo 2^32 by itself.
    return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0},
                           [](std::uint32_t sum, std::uint8_t b) { return sum + b; });
}

bool FirmwareImage::valid() const {
    // Shorter files lack part of the flash; longer ones have their record somewhere
    // else than the version byte, and the controller would run from a junk record.
    if (bytes_.size() != kFlashSize) return false;
    if (!std::equal(kSignature.begin(), kSignature.end(), bytes_.begin())) return false;
    const std::uint8_t version = bytes_[kVersionOffset];
    return version == 0xA0 || version == 0xB0 || version == 0xC0;
}

std::optional<ConfigRecord> FirmwareImage::configRecord() const {
    // A file shorter than the record area has no record: size - 0x8000 would wrap.
    if (bytes_.size() < kRecordAreaSize) return std::nullopt;
    return ConfigRecord::from(std::span<const std::uint8_t>(bytes_).subspan(bytes_.size() - kRecordAreaSize));
}

bool FirmwareImage::subCodeFits(const SubCodeEntry& entry) const {
    if (bytes_.size() < kRecordAreaSize) return false;
    // The offset is 24-bit, so the sum cannot overflow.
    return std::size_t{entry.offset} + kSlotSize <= bytes_.size() - kRecordAreaSize;
}

std::optional<std::span<const std::uint8_t>> FirmwareImage::subCode(const SubCodeEntry& entry) const {
    if (!subCodeFits(entry)) return std::nullopt;
    return std::span<const std::uint8_t>(bytes_).subspan(entry.offset, kSlotSize);
}

std::vector<DirectoryItem> imageDirectory(const FirmwareImage& image) {
    std::vector<DirectoryItem> items;
    const auto record = image.configRecord();
    if (!record) return items;
    for (std::size_t i = 0; i < kDirectoryEntries; ++i) {
        DirectoryItem item;
        item.index = i;
        item.entry = record->entry(i);
        if (!item.entry.present()) continue;
        if (item.entry.offsetAcceptable()) item.subCode = image.subCode(item.entry);
        items.push_back(item);
    }
    return items;
}

}  // namespace raid

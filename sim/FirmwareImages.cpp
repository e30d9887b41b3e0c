#include "sim/FirmwareImages.h"

#include <algorithm>
#include <cstring>

namespace raid::sim {
namespace {

using namespace fwimage;

void putLe24(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    at[2] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
}

// The boot-loader head: signature, record area offset, then code-like bytes.
void writeHead(std::vector<std::uint8_t>& image) {
    const std::size_t end = std::min<std::size_t>(image.size(), kFirstSlot);
    for (std::size_t i = 0; i < end; ++i) image[i] = static_cast<std::uint8_t>((i * 131 + 7) & 0xFF);
    const std::uint8_t head[] = {'F', 'I', 'P', 'S'};
    std::memcpy(image.data(), head, std::min<std::size_t>(sizeof head, image.size()));
    if (image.size() >= 19) putLe24(image.data() + 16, kRecordArea);
}

}  // namespace

std::uint8_t subCodeByte(std::uint8_t codeType, std::uint32_t index) {
    // Varies with the type and the position, so a sub-code written to the wrong slot
    // or from the wrong offset never compares equal.
    const auto b = static_cast<std::uint8_t>((index * 29u + codeType * 17u + (index >> 8)) & 0xFF);
    return b == 0xFF ? 0x00 : b;
}

std::vector<std::uint8_t> makeFirmwareImage(const FirmwareImageOptions& o) {
    std::vector<std::uint8_t> image(o.size, 0xFF);
    writeHead(image);

    std::uint8_t record[256];
    std::memset(record, 0xFF, sizeof record);
    record[0] = 0;
    record[1] = o.kind;
    std::uint8_t functions = 0;
    std::uint32_t nextSlot = kFirstSlot;
    const std::size_t count = std::min<std::size_t>(o.subCodes.size(), 10);
    for (std::size_t i = 0; i < count; ++i) {
        const SubCodeOptions& s = o.subCodes[i];
        std::uint32_t offset = 0;
        if (s.offset) {
            offset = *s.offset & 0xFFFFFF;
        } else {
            offset = nextSlot;
            nextSlot += kSlotSize;
        }
        std::uint8_t* entry = record + 2 + 5 * i;
        entry[0] = s.codeType;
        putLe24(entry + 1, offset);
        entry[4] = s.present ? 0x5A : 0x00;
        // Content goes only where it leaves the head and the record area alone, so an
        // odd offset under test never spoils the signature or the record.
        const std::size_t recordAt = image.size() >= 0x8000 ? image.size() - 0x8000 : 0;
        if (offset >= kFirstSlot && std::size_t{offset} + kSlotSize <= recordAt) {
            for (std::uint32_t k = 0; k < kSlotSize; ++k) image[offset + k] = subCodeByte(s.codeType, k);
        }
        if ((s.codeType & 0x0F) <= 3) functions = static_cast<std::uint8_t>(functions | (1u << (s.codeType & 0x0F)));
    }
    putLe24(record + 52, nextSlot);
    record[55] = 0x3F;
    record[56] = o.jumperMode ? 0xF1 : 0x11;
    record[57] = o.jumperMode ? 0xFF : 0x3F;
    std::memset(record + 58, 0, 49);
    record[107] = o.qx5080a ? 0x80 : 0x85;
    record[108] = static_cast<std::uint8_t>((o.thermalSensor ? 0x10 : 0) | (o.fan ? 0x01 : 0));
    record[109] = static_cast<std::uint8_t>(o.fanAlarmRpm & 0xFF);
    record[110] = static_cast<std::uint8_t>(o.fanAlarmRpm >> 8);
    record[111] = o.thermalAlarmC;
    record[112] = 0;
    if (o.scheduleBackup) functions = static_cast<std::uint8_t>(functions | 0x80);
    if (o.fastBackup) functions = static_cast<std::uint8_t>(functions | 0x40);
    record[113] = functions;
    std::memcpy(record + 114, "TORVEX", 7);  // with its terminating zero
    std::memset(record + 121, 0, 7);
    unsigned sum = 0;
    for (int i = 0; i < 254; ++i) sum += record[i];
    record[254] = static_cast<std::uint8_t>(sum & 0xFF);
    record[255] = static_cast<std::uint8_t>((sum >> 8) & 0xFF);

    if (image.size() >= 0x8000) std::memcpy(image.data() + image.size() - 0x8000, record, sizeof record);
    return image;
}

}  // namespace raid::sim

// Request blocks built by hand, byte for byte as the program fills them in, so the
// simulated side is tested through the same StoragePort door the program uses.
#pragma once

#include "platform/StoragePort.h"
#include "sim/Block.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace simtest {

using raid::DriveHandle;
using raid::StoragePort;
using raid::sim::Block;

struct Scsi {
    std::array<std::uint8_t, raid::spt::kSize> block{};
    std::vector<std::uint8_t> data;

    Scsi(std::initializer_list<std::uint8_t> cdb, bool in, std::uint32_t length) : data(length) {
        block[raid::spt::kLength] = 44;
        block[raid::spt::kCdbLength] = 10;
        block[raid::spt::kDataIn] = in ? 1 : 0;
        raid::sim::putLe32(block.data() + raid::spt::kDataTransferLength, length);
        std::size_t i = 0;
        for (std::uint8_t b : cdb) block[raid::spt::kCdb + i++] = b;
    }
    bool send(StoragePort& port, DriveHandle h) { return port.scsiPassThrough(h, block.data(), data.data()); }
    Block sector(std::size_t i = 0) const {
        Block b{};
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(i * 512), 512, b.begin());
        return b;
    }
};

inline Scsi read10(std::uint32_t lba, std::uint8_t count = 1) {
    return Scsi({0x28, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16), std::uint8_t(lba >> 8), std::uint8_t(lba), 0, 0, count, 0},
                true, count * 512u);
}

inline Scsi write10(std::uint32_t lba, const Block& b) {
    Scsi s({0x2A, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16), std::uint8_t(lba >> 8), std::uint8_t(lba), 0, 0, 1, 0}, false, 512);
    std::copy(b.begin(), b.end(), s.data.begin());
    return s;
}

inline Scsi inquiry() { return Scsi({0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0}, true, 36); }

// A VU command with a one- or two-byte prefix: cdb[p] opcode, cdb[p+2..p+4] address, cdb[p+6] flag.
inline Scsi vu(int prefix, std::uint8_t op, std::uint32_t address, bool in, std::uint32_t length, std::uint8_t flag = 0) {
    Scsi s({}, in, length);
    std::uint8_t* c = s.block.data() + raid::spt::kCdb;
    const int p = prefix;
    c[0] = 0xFE;
    if (p == 2) c[1] = 0xFE;
    c[p] = op;
    c[p + 2] = std::uint8_t(address >> 16);
    c[p + 3] = std::uint8_t(address >> 8);
    c[p + 4] = std::uint8_t(address);
    c[p + 6] = flag;
    return s;
}
inline Scsi vuRead(int prefix, std::uint32_t address, std::uint8_t flag = 0) { return vu(prefix, 0x85, address, true, 512, flag); }
inline Scsi vuIdentify(int prefix) { return vu(prefix, 0x8B, 0, true, 512); }
inline Scsi vuTable(int prefix) { return vu(prefix, 0x78, 0, true, 20); }
inline Scsi vuErase(int prefix, std::uint32_t address) { return vu(prefix, 0x81, address, true, 8); }
inline Scsi vuProgram(int prefix, std::uint32_t address, std::uint8_t fill) {
    Scsi s = vu(prefix, 0x89, address, false, 256);
    std::fill(s.data.begin(), s.data.end(), fill);
    return s;
}

struct Ide {
    std::vector<std::uint8_t> block;
    explicit Ide(std::array<std::uint8_t, 7> regs = {0, 0, 0, 0, 0, 0xE0, 0xEC}, std::uint32_t sectors = 1)
        : block(raid::ide::kHeader + sectors * 512) {
        std::copy(regs.begin(), regs.end(), block.begin());
        raid::sim::putLe32(block.data() + raid::ide::kDataSize, sectors * 512);
    }
    bool send(StoragePort& port, DriveHandle h) { return port.idePassThrough(h, block.data(), block.size()); }
    const std::uint8_t* data() const { return block.data() + raid::ide::kData; }
};

inline bool hasMark(const std::uint8_t* page) { return page[258] == '3' && page[259] == 'X'; }

inline Block mailboxCommand(std::uint8_t code) {
    Block b{};
    b[0] = '3';
    b[1] = 'X';
    b[2] = code;
    return b;
}

inline Block filled(std::uint8_t v) {
    Block b;
    b.fill(v);
    return b;
}

}  // namespace simtest

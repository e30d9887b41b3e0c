#include "device/Transport.h"

#include <cstring>
#include <memory>
#include <new>

namespace raid {

const std::array<VuTableEntry, 9> kVuTable = {{
    {0x5A, 8}, {0x23, 8}, {0x10, 8}, {0x78, 20}, {0x52, 8}, {0x5C, 8}, {0xFE, 8}, {0x30, 8}, {0x32, 8},
}};

namespace {

void putLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

void buildScsiRequest(std::uint8_t* block, const std::uint8_t* cdb10, bool dataIn, std::uint32_t length,
                      std::uint32_t timeoutSeconds, const void* dataAddress) {
    std::memset(block, 0, spt::kSize);
    putLe16(block + spt::kLength, 44);
    block[spt::kTargetId] = 1;
    block[spt::kCdbLength] = 10;
    block[spt::kSenseInfoLength] = 24;
    block[spt::kDataIn] = dataIn ? 1 : 0;
    putLe32(block + spt::kDataTransferLength, length);
    putLe32(block + spt::kTimeOutValue, timeoutSeconds);
    putLe32(block + spt::kDataBuffer,
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dataAddress) & 0xFFFFFFFFu));
    putLe32(block + spt::kSenseInfoOffset, 48);
    std::memcpy(block + spt::kCdb, cdb10, 10);
}

void buildReadWriteCdb(std::uint8_t* cdb, bool write, std::uint32_t lba, std::uint8_t count) {
    std::memset(cdb, 0, 10);
    cdb[0] = write ? 0x2A : 0x28;
    cdb[2] = static_cast<std::uint8_t>(lba >> 24);
    cdb[3] = static_cast<std::uint8_t>(lba >> 16);
    cdb[4] = static_cast<std::uint8_t>(lba >> 8);
    cdb[5] = static_cast<std::uint8_t>(lba);
    // Only the low byte of the count goes into the CDB: one request moves at most 255 sectors.
    cdb[8] = count;
}

void buildInquiryCdb(std::uint8_t* cdb) {
    std::memset(cdb, 0, 10);
    cdb[0] = 0x12;
    cdb[4] = 36;
}

bool vuKindShape(int kind, bool& dataIn, std::uint32_t& length) {
    switch (kind) {
        case kVuRead:
        case kVuProbe:
        case kVuIdentify:
            dataIn = true;
            length = 512;
            return true;
        case kVuProgram:
            dataIn = false;
            length = 256;
            return true;
        case kVuErase:
            dataIn = true;
            length = 8;
            return true;
        default:
            return false;
    }
}

bool buildVuCdb(std::uint8_t* cdb, int kind, std::uint32_t parameter, bool shortPrefix) {
    std::uint8_t opcode = 0;
    switch (kind) {
        case kVuRead:
        case kVuProbe: opcode = 0x85; break;
        case kVuProgram: opcode = 0x89; break;
        case kVuErase: opcode = 0x81; break;
        case kVuIdentify: opcode = 0x8B; break;
        default: return false;
    }
    std::memset(cdb, 0, 10);
    const int p = shortPrefix ? 1 : 2;
    for (int i = 0; i < p; ++i) cdb[i] = 0xFE;
    cdb[p] = opcode;
    cdb[p + 2] = static_cast<std::uint8_t>(parameter >> 16);
    cdb[p + 3] = static_cast<std::uint8_t>(parameter >> 8);
    cdb[p + 4] = static_cast<std::uint8_t>(parameter);
    cdb[p + 6] = kind == kVuProbe ? 1 : 0;
    return true;
}

void buildVuTableCdb(std::uint8_t* cdb, std::uint8_t opcode, bool shortPrefix) {
    std::memset(cdb, 0, 10);
    cdb[0] = 0xFE;
    cdb[1] = 0xFE;
    cdb[shortPrefix ? 1 : 2] = opcode;
}

std::uint16_t mailboxChecksum(const std::uint8_t* block) {
    std::uint32_t sum = 0;
    for (int i = 7; i <= 509; ++i) sum += block[i];
    return static_cast<std::uint16_t>(sum);
}

Transport::Transport(StoragePort& storage, Scheduler& scheduler, RandomPort& random, DeviceReport& report)
    : storage_(storage), scheduler_(scheduler), random_(random), report_(report), transfer_(kTransferBufferSize) {}

DriveHandle Transport::OpenDrive(std::uint8_t target) {
    // There is never more than one open device handle: a forgotten one is closed here.
    CloseCurrent();
    current_ = storage_.open(target);
    return current_;
}

void Transport::CloseCurrent() {
    if (current_ != kInvalidHandle) storage_.close(current_);
    current_ = kInvalidHandle;
}

bool Transport::sendScsi(DriveHandle handle, const std::uint8_t* cdb10, bool dataIn, std::uint8_t* data,
                         std::uint32_t length, std::uint32_t timeout) {
    if (handle == kInvalidHandle) return false;
    std::uint8_t block[spt::kSize];
    buildScsiRequest(block, cdb10, dataIn, length, timeout, data);
    ++requests_;
    return storage_.scsiPassThrough(handle, block, data);
}

bool Transport::ReadSectors(DriveHandle handle, std::uint32_t lba, std::uint8_t* buffer, std::uint8_t count) {
    std::uint8_t cdb[10];
    buildReadWriteCdb(cdb, false, lba, count);
    return sendScsi(handle, cdb, true, buffer, count * 512u, kTimeoutSeconds);
}

bool Transport::WriteSectors(DriveHandle handle, std::uint32_t lba, const std::uint8_t* buffer, std::uint8_t count) {
    std::uint8_t cdb[10];
    buildReadWriteCdb(cdb, true, lba, count);
    // The port's data pointer is shared by both directions; a data-out request never writes to it.
    return sendScsi(handle, cdb, false, const_cast<std::uint8_t*>(buffer), count * 512u, kTimeoutSeconds);
}

bool Transport::Inquiry(DriveHandle handle, std::uint8_t* buffer36) {
    std::uint8_t cdb[10];
    buildInquiryCdb(cdb);
    return sendScsi(handle, cdb, true, buffer36, 36, kInquiryTimeoutSeconds);
}

bool Transport::SendVu(int kind, std::uint8_t* buffer, std::uint32_t parameter, bool shortPrefix) {
    std::uint8_t cdb[10];
    bool dataIn = false;
    std::uint32_t length = 0;
    if (!vuKindShape(kind, dataIn, length) || !buildVuCdb(cdb, kind, parameter, shortPrefix)) return false;
    return sendScsi(current_, cdb, dataIn, buffer, length, kTimeoutSeconds);
}

bool Transport::SendVuTable(int index, bool shortPrefix) {
    if (index < 0 || static_cast<std::size_t>(index) >= kVuTable.size()) return false;
    std::uint8_t cdb[10];
    buildVuTableCdb(cdb, kVuTable[static_cast<std::size_t>(index)].opcode, shortPrefix);
    return sendScsi(current_, cdb, true, transfer_.data(), kVuTable[static_cast<std::size_t>(index)].length,
                    kTimeoutSeconds);
}

bool Transport::SendAta(DriveHandle handle, std::uint8_t* registers7, std::uint8_t* out, int sectors) {
    if (sectors < 0 || sectors > 1) return false;
    const std::size_t size = ide::kHeader + static_cast<std::size_t>(sectors) * 512;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[size]);
    if (!block) {
        report_.result(outOfMemory(), DeviceSite::request);
        return false;
    }
    std::memset(block.get(), 0, size);
    std::memcpy(block.get() + ide::kRegisters, registers7, 7);
    block[ide::kReserved] = 0;
    putLe32(block.get() + ide::kDataSize, static_cast<std::uint32_t>(sectors) * 512u);
    // The first data byte is 1 for every request, with or without data: the byte sits
    // in the header's spare bytes when no sector follows, and bridges read it there.
    block[ide::kData] = 1;
    if (registers7[6] == 0xEC) {
        // Bridges only refresh the drive they report after a rescan; give them time to settle.
        ++requests_;
        storage_.rescanBus(handle);
        scheduler_.sleepMs(500);
    }
    bool ok = false;
    if (handle != kInvalidHandle) {
        ++requests_;
        ok = storage_.idePassThrough(handle, block.get(), size);
    }
    std::memcpy(registers7, block.get() + ide::kRegisters, 7);
    if (ok && sectors > 0) std::memcpy(out, block.get() + ide::kData, static_cast<std::size_t>(sectors) * 512);
    return ok;
}

bool Transport::VolumeExtents(DriveHandle handle, DiskExtent& first) {
    if (handle == kInvalidHandle) return false;
    ++requests_;
    return storage_.volumeDiskExtents(handle, first);
}

void Transport::MailboxChecksum() { putLe16(mailbox_.data() + 510, mailboxChecksum(mailbox_.data())); }

std::uint32_t Transport::RandomMailboxSector() { return 3 + (random_.next() & 0x7F); }

}  // namespace raid

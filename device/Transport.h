// The enclosure command set: opening a drive and sending one request at a time.
//
// The controller is reached three ways: a sector mailbox (READ(10)/WRITE(10) of
// reserved sectors), vendor-unique CDBs starting with 0xFE, and ATA task-file commands.
// The builders below fill each request exactly as the controller expects it; the
// Transport holds the process-wide objects all device work shares (the current handle,
// the mailbox command block and the 64 KiB transfer buffer) and sends through the
// storage port.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "device/DeviceReport.h"
#include "platform/Random.h"
#include "platform/Scheduler.h"
#include "platform/StoragePort.h"

namespace raid {

using Sector = std::array<std::uint8_t, 512>;

// VU command kinds (the number selects opcode, direction and length).
enum VuKind : int {
    kVuRead = 1,      // 0x85, 512 bytes in
    kVuProgram = 2,   // 0x89, 256 bytes out
    kVuErase = 3,     // 0x81, 8 bytes in
    kVuProbe = 4,     // 0x85 with the slot-probe flag, 512 bytes in
    kVuIdentify = 16  // 0x8B, 512 bytes in
};

struct VuTableEntry {
    std::uint8_t opcode;
    std::uint32_t length;
};
extern const std::array<VuTableEntry, 9> kVuTable;

constexpr std::size_t kTransferBufferSize = 64 * 1024;
constexpr std::uint32_t kTimeoutSeconds = 2;
constexpr std::uint32_t kInquiryTimeoutSeconds = 200;

// ---- Pure builders (no I/O) ----

// Fills the 80-byte pass-through block. `dataAddress` only lands in the 32-bit
// DataBuffer field for the record; the data pointer travels beside the block.
void buildScsiRequest(std::uint8_t* block80, const std::uint8_t* cdb10, bool dataIn, std::uint32_t length,
                      std::uint32_t timeoutSeconds, const void* dataAddress);
void buildReadWriteCdb(std::uint8_t* cdb10, bool write, std::uint32_t lba, std::uint8_t count);
void buildInquiryCdb(std::uint8_t* cdb10);
// Returns false for an unknown kind.
bool buildVuCdb(std::uint8_t* cdb10, int kind, std::uint32_t parameter, bool shortPrefix);
void buildVuTableCdb(std::uint8_t* cdb10, std::uint8_t opcode, bool shortPrefix);
// VU kind → (dataIn, length); false for an unknown kind.
bool vuKindShape(int kind, bool& dataIn, std::uint32_t& length);
// Sum of bytes 7..509, modulo 65536.
std::uint16_t mailboxChecksum(const std::uint8_t* block512);

class Transport {
public:
    // `report` is where every piece of device work sent through this transport hands its
    // results (and recognition its steps).
    Transport(StoragePort& storage, Scheduler& scheduler, RandomPort& random, DeviceReport& report);

    // Opens a volume (target > 66, a letter) or physical drive and makes it the
    // current handle.
    DriveHandle OpenDrive(std::uint8_t target);
    // Closes the current handle (if any).
    void CloseCurrent();
    DriveHandle CurrentHandle() const { return current_; }

    bool ReadSectors(DriveHandle handle, std::uint32_t lba, std::uint8_t* buffer, std::uint8_t count);
    bool WriteSectors(DriveHandle handle, std::uint32_t lba, const std::uint8_t* buffer, std::uint8_t count);
    bool Inquiry(DriveHandle handle, std::uint8_t* buffer36);
    // VU command to the current handle, with the one-byte or the two-byte prefix.
    // `buffer` holds at least the kind's length.
    bool SendVu(int kind, std::uint8_t* buffer, std::uint32_t parameter, bool shortPrefix);
    // VU table command to the current handle; the answer lands in the transfer buffer.
    bool SendVuTable(int index, bool shortPrefix);
    // ATA command. The seven registers are copied back whether or not it worked; on
    // success sectors*512 bytes land in `out`. An IDENTIFY is preceded by a bus rescan
    // and a 500 ms settle pause.
    bool SendAta(DriveHandle handle, std::uint8_t* registers7, std::uint8_t* out, int sectors);
    bool VolumeExtents(DriveHandle handle, DiskExtent& first);

    void MailboxChecksum();
    // 3 plus the low 7 bits of a fresh random number: where one-off mailbox commands go.
    std::uint32_t RandomMailboxSector();

    Sector& MailboxCommand() { return mailbox_; }
    std::uint8_t* TransferBuffer() { return transfer_.data(); }

    RandomPort& random() { return random_; }
    DeviceReport& report() { return report_; }
    Scheduler& scheduler() { return scheduler_; }
    StoragePort& storage() { return storage_; }

    // Requests sent since construction (open/close not counted).
    std::uint64_t requestCount() const { return requests_; }

private:
    bool sendScsi(DriveHandle handle, const std::uint8_t* cdb10, bool dataIn, std::uint8_t* data,
                  std::uint32_t length, std::uint32_t timeout);

    StoragePort& storage_;
    Scheduler& scheduler_;
    RandomPort& random_;
    DeviceReport& report_;
    DriveHandle current_ = kInvalidHandle;
    Sector mailbox_{};
    std::vector<std::uint8_t> transfer_;
    std::uint64_t requests_ = 0;
};

}  // namespace raid

// The bridge controller of a two-bay enclosure, as the program sees it from outside.
//
// The same controller is reached in one of four ways, depending on the bridge chip
// in front of it (Path):
//
//   Mailbox  reserved sectors of the disk it presents: READ of sector 58 gives the
//            identity page (bytes 258..259 "3X"), READ of 33 the live status record,
//            READ of 60 the answer to the last flash command; a one-sector WRITE to 20
//            or 3..130 whose first two bytes are "3X" is a mailbox command (kept in
//            mailboxLog(), never stored as data). IDENTIFY gives ordinary drive data.
//   Ata      IDENTIFY DEVICE answers the identity page with "3X" at 258..259; status
//            at 33, flash answer at 60 and mailbox commands as above; 58 is ordinary.
//   Vu1/Vu2  vendor-unique SCSI commands with a one-byte (FE) or two-byte (FE FE)
//            prefix; a command with the other prefix length is refused. No reserved
//            sectors: 33, 58 and 60 are ordinary data. With p = prefix length:
//              cdb[p] opcode, cdb[p+2..p+4] 24-bit address (big-endian),
//              cdb[p+6] flag (1 = status-record slot probe)
//              0x85 read 512 flash bytes at address            (in, 512)
//              0x89 program 256 flash bytes at address         (out, 256)
//              0x81 erase the 4 KiB block holding address      (in, 8 zero bytes)
//              0x8B identification page (the identity page)    (in, 512)
//              0x78 table: 20 bytes starting 0x50 0x8B          (in, 20)
//            A program or erase beyond 512 KiB is refused; a 512-byte read that
//            starts inside the flash and runs past its end reads 0xFF beyond it.
//
// INQUIRY answers on every path (36 bytes, additional length 0x1F).
//
// The flash is a true 512 KiB NOR SPI part: erase sets a 4 KiB block to 0xFF,
// program can only clear bits (new = old & data), so a firmware write that forgets
// an erase reads back corrupted, just as on the real part. Outside the record area
// the flash starts out holding a deterministic non-0xFF pattern standing in for the
// controller firmware, so a missing erase is visible there too.
//
// Record area model (VU paths)
// ----------------------------
// The controller keeps its status records in the flash's record area 0x78000..0x7FFFF:
// 128 slots of 256 bytes. A slot is used when its first byte is not 0xFF. The newest
// used slot is found the way the program searches for it: scanning from 0x78000
// upward, skip the leading unused slots, then skip the used ones; the newest is the
// slot before the one where the scan stopped. If every slot is unused, or every slot
// from the first used one to the end is used, that is the slot at 0x7FF00.
//
// The flash content is left exactly as programmed: a firmware read-back of the record
// area sees the true flash. The *live* status record (the one setStatus() gives) is
// delivered only through the probe sequence:
//   1. a 0x85 read with the probe flag returns raw flash and arms the status view;
//   2. the very next request, if it is a 0x85 read without the flag whose address is
//      the newest used slot (see above), returns the 512-byte live status record
//      instead of raw flash (at 0x7FF00 too);
//   3. any other request (any command, any path handling) disarms the view.
// A 0x85 read that was not preceded by a probe always returns raw flash.
//
// At attach the record area holds placeholder records in slots 0..2 (newest: 0x78200);
// setRecordSlotsUsed() rearranges them.
//
// Flash commands on the mailbox and ATA paths
// -------------------------------------------
// A mailbox command (see Mailbox above) with a valid checksum (16-bit sum of bytes
// 7..509, little-endian at 510) and one of these code / sub-code pairs acts on the
// flash; bytes 4..6 are the 24-bit address, big-endian:
//   0x00/0x03 read 512 bytes at the address; READ of sector 60 then gives them
//   0x01/0x20 erase the 4 KiB block holding the address
//   0x02/0x02 program 256 bytes from byte 7 at the address (byte 509 must be 0x55)
//   0x10/0x01, 0x10/0x00  upgrade mode on / off
//   0x03/0x01, 0x03/0x00  primitive mode on / off
//   0x04/0x01, 0x04/0x00  low-area writes on / off
// The ATA path also takes command 0x88 (no data): features 0x01 arms a read at the
// address in LBA low/mid/high (drive/head 0xE0), answered at sector 60 like the
// mailbox read; features 0x11/0x10, 0x03/0x02, 0x04/0x05 are the three modes on/off.
// Erase and program on these paths reach the flash only through the mailbox.
//
// The controller protects its boot area: an erase or program below 0xC000 is refused
// while low-area writes are off. A refused command (bad checksum, unknown sub-code,
// outside the flash, low area, missing 0x55) fails its WRITE (or ATA command), leaves
// the flash and sector 60 alone, and is kept in flashRefusals(). Other mailbox codes
// are recorded only.
#pragma once

#include "sim/Block.h"
#include "sim/SimDisk.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace raid::sim {

enum class Path { Mailbox, Ata, Vu1, Vu2 };

const char* pathName(Path path);  // "mailbox", "ata", "vu1", "vu2"

constexpr std::uint32_t kFlashSize = 512 * 1024;
constexpr std::uint32_t kFlashEraseBlock = 4096;
constexpr std::uint32_t kFlashProgramSize = 256;
constexpr std::uint32_t kRecordAreaStart = 0x78000;
constexpr std::uint32_t kRecordSlotSize = 256;
constexpr int kRecordSlots = 128;
constexpr std::uint32_t kLastRecordSlot = kRecordAreaStart + (kRecordSlots - 1) * kRecordSlotSize;  // 0x7FF00

// Reserved sectors of the mailbox protocol.
constexpr std::uint32_t kStatusSector = 33;
constexpr std::uint32_t kIdentitySector = 58;
constexpr std::uint32_t kFlashAnswerSector = 60;
constexpr std::uint32_t kMailboxSector = 20;
constexpr std::uint32_t kMailboxFirst = 3;
constexpr std::uint32_t kMailboxLast = 130;

using Flash = std::array<std::uint8_t, kFlashSize>;

struct MailboxCommand {
    std::uint32_t sector = 0;
    Block data{};
};

// What kind of flash request a command is to this controller (for fault injection).
enum class FlashRequest { None, Read, Erase, Program, Mode };

struct FlashRefusal {
    // The mailbox sector, or 0 for an ATA command (code 0x88, sub = features) or a
    // VU command (code = opcode, sub 0).
    std::uint32_t sector = 0;
    std::uint8_t code = 0;
    std::uint8_t sub = 0;
    std::uint32_t address = 0;
    std::string reason;
};

struct FlashModes {
    bool upgrade = false;
    bool primitive = false;
    bool lowArea = false;  // erase and program below kLowAreaEnd allowed
};

constexpr std::uint32_t kLowAreaEnd = 0xC000;

class SimEnclosure : public SimDisk {
public:
    static constexpr std::size_t kMailboxLogLimit = 4096;

    SimEnclosure(Path path, const Block& identity, const Block& status);

    Path path() const { return path_; }

    void setStatus(const Block& status);
    Block status() const;
    Block identity() const;

    // Mailbox commands in arrival order (the newest kMailboxLogLimit of them).
    std::vector<MailboxCommand> mailboxLog() const;
    std::uint64_t mailboxCount() const;
    void clearMailboxLog();

    // What READ of sector 60 returns (the answer to the last flash command).
    Block flashAnswer() const;
    void setFlashAnswer(const Block& answer);

    // Direct flash access for tests and set-up. Not guarded: use it only while no
    // request is in flight.
    Flash& flash() { return *flash_; }
    const Flash& flash() const { return *flash_; }

    // Whole-flash copies, guarded (safe while requests are in flight). loadFlash
    // needs exactly kFlashSize bytes and returns false otherwise.
    bool loadFlash(const std::vector<std::uint8_t>& content);
    std::vector<std::uint8_t> flashCopy() const;

    FlashModes flashModes() const;
    std::vector<FlashRefusal> flashRefusals() const;  // the newest kMailboxLogLimit
    // The raw flash read-back after `skip` further ones (VU 0x85 reads other than the
    // status view, mailbox and ATA reads) comes back with bit 0 of its first byte
    // flipped; the flash itself is untouched. A new call replaces a pending one.
    void flipBitOfRead(int skip = 0);

    // How this controller takes a request; looks at the bytes only, changes nothing.
    FlashRequest classify(const ScsiRequest& req) const;
    FlashRequest classifyAta(const std::uint8_t* regs) const;

    // Erase the record area, then put placeholder records (byte 0 = slot index,
    // byte 1 = the status record's controller kind) into slots first..first+count-1.
    void setRecordSlotsUsed(int first, int count);
    // Address of the newest used slot by the model above.
    std::uint32_t newestRecordAddress() const;
    bool statusViewArmed() const;

protected:
    bool doScsi(const ScsiRequest& req) override;
    bool doAta(const std::uint8_t* regs, std::uint8_t* data, std::uint32_t length) override;
    void readSector(std::uint64_t lba, std::uint8_t* out) override;
    bool writeSectors(std::uint64_t lba, std::uint32_t count, const std::uint8_t* data) override;
    bool doVendor(const ScsiRequest& req) override;
    const char* inquiryVendor() const override { return "SIMRAID "; }
    const char* inquiryProduct() const override { return "Dual Bay Bridge "; }

private:
    bool mailboxPath() const { return path_ == Path::Mailbox || path_ == Path::Ata; }
    bool reservedSector(std::uint64_t lba) const;
    // Every mailbox command arrives here. It is logged, then handled by command
    // code; flash commands are added here.
    // False: the command was refused (see flashRefusals()).
    bool dispatchMailboxCommand(std::uint32_t sector, const std::uint8_t* data);
    bool flashCommand(std::uint32_t sector, const std::uint8_t* data);
    bool ataVendor(const std::uint8_t* regs);
    bool refuse(std::uint32_t sector, std::uint8_t code, std::uint8_t sub, std::uint32_t address, const char* reason);
    // Fills `out` with 512 flash bytes at address (0xFF past the end), applying a
    // pending bit flip; false when address is outside the flash.
    bool readFlashPage(std::uint32_t address, std::uint8_t* out);
    bool eraseBlock(std::uint32_t address);
    bool programPage(std::uint32_t address, const std::uint8_t* data);
    bool flashRead(std::uint32_t address, bool probe, bool wasArmed, const ScsiRequest& req);
    bool flashProgram(std::uint32_t address, const ScsiRequest& req);
    bool flashErase(std::uint32_t address, const ScsiRequest& req);
    std::uint32_t newestRecordAddressLocked() const;
    void setRecordSlotsUsedLocked(int first, int count);

    Path path_;
    Block identity_;
    Block status_;
    Block flashAnswer_{};
    std::unique_ptr<Flash> flash_;
    std::deque<MailboxCommand> mailbox_;
    std::uint64_t mailboxCount_ = 0;
    bool statusArmed_ = false;  // the previous request was a successful probe read
    bool wasArmed_ = false;     // statusArmed_ as it stood when the current request arrived
    FlashModes modes_;
    std::deque<FlashRefusal> refusals_;
    int flipAfter_ = -1;  // reads to let pass before flipping a bit; -1: none pending
};

}  // namespace raid::sim

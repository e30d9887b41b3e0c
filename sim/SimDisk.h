// A simulated physical drive as the pass-through port sees it: SCSI READ(10),
// WRITE(10) and INQUIRY, ATA IDENTIFY DEVICE, and nothing vendor-specific. The
// enclosure controller (SimEnclosure) builds on it and adds its reserved sectors and
// vendor commands.
//
// Requests reach a drive already unpacked by the platform (CDB, direction, a data
// buffer whose size the platform has bounded), so nothing here parses the 80-byte
// block itself. Every entry point is guarded by the drive's own mutex: the platform
// serialises requests, but tests may look at logs from another thread.
#pragma once

#include "sim/Block.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace raid::sim {

// 2 TiB of 512-byte sectors: the largest disk READ(10) can address.
constexpr std::uint64_t kDiskSectors = std::uint64_t{1} << 32;

struct ScsiRequest {
    std::array<std::uint8_t, 16> cdb{};
    bool dataIn = false;
    std::uint8_t* data = nullptr;  // `length` bytes, never null when length > 0
    std::uint32_t length = 0;
};

// One entry of a drive's request log: enough to tell which command arrived and
// whether it was answered.
struct RequestRecord {
    enum class Kind { Scsi, Ata };
    Kind kind = Kind::Scsi;
    std::array<std::uint8_t, 16> cdb{};  // SCSI: the CDB; ATA: the 7 task-file registers
    bool dataIn = false;
    std::uint32_t length = 0;
    bool ok = false;
};

class SimDisk {
public:
    // The request log keeps the newest entries only, so an hour-long headless run
    // does not grow without bound; requestCount() still counts everything.
    static constexpr std::size_t kRequestLogLimit = 4096;

    SimDisk(std::string model, std::string serial);
    virtual ~SimDisk() = default;
    SimDisk(const SimDisk&) = delete;
    SimDisk& operator=(const SimDisk&) = delete;

    bool scsi(const ScsiRequest& req);
    // regs: the 7 task-file registers; data: `length` bytes following them.
    bool ata(const std::uint8_t* regs, std::uint8_t* data, std::uint32_t length);

    std::vector<RequestRecord> requestLog() const;
    std::uint64_t requestCount() const;

    // Ordinary data as stored (unwritten sectors are zeros). Reserved sectors of an
    // enclosure are not affected.
    Block storedSector(std::uint64_t lba) const;

protected:
    // All of these run with mu_ held.
    virtual bool doScsi(const ScsiRequest& req);
    virtual bool doAta(const std::uint8_t* regs, std::uint8_t* data, std::uint32_t length);
    // The content a READ returns for one sector.
    virtual void readSector(std::uint64_t lba, std::uint8_t* out);
    // A WRITE of `count` sectors; the default stores them all.
    virtual bool writeSectors(std::uint64_t lba, std::uint32_t count, const std::uint8_t* data);
    // Vendor-unique (0xFE) commands: an ordinary drive refuses them.
    virtual bool doVendor(const ScsiRequest& req);
    // INQUIRY identification texts.
    virtual const char* inquiryVendor() const { return "SIMDISK "; }
    virtual const char* inquiryProduct() const { return "Plain Disk      "; }

    void storeSector(std::uint64_t lba, const std::uint8_t* data);
    void loadSector(std::uint64_t lba, std::uint8_t* out) const;
    bool inquiry(const ScsiRequest& req);
    // An IDENTIFY DEVICE page of an ordinary drive (no enclosure mark at 258..259).
    Block ordinaryIdentify() const;

    mutable std::mutex mu_;

private:
    void log(RequestRecord::Kind kind, const std::uint8_t* bytes, std::size_t n, bool dataIn,
             std::uint32_t length, bool ok);

    std::string model_;
    std::string serial_;
    // Sparse: only sectors holding something other than zeros are kept.
    std::unordered_map<std::uint64_t, Block> sectors_;
    std::deque<RequestRecord> requests_;
    std::uint64_t requestCount_ = 0;
};

}  // namespace raid::sim

// A storage port that writes one line per request to a stream and passes the
// request on unchanged. Works on any port, simulated or real, so a session on real
// hardware can be compared line by line with a simulated one.
//
// Line formats (<seq> counts from 1; hex lower-case; no spaces inside a field):
//   <seq> OPEN PhysicalDrive<n> ok|fail      (or  <seq> OPEN <letter>: ok|fail)
//   <seq> CLOSE
//   <seq> SCSI in|out <length> cdb=<10 bytes hex> [data=<data-out bytes hex>] ok|fail
//   <seq> ATA regs=<7 register bytes hex> sectors=<n> ok|fail
//   <seq> RESCAN ok|fail
//   <seq> EXTENTS ok|fail
// data= appears on every "out" line and holds all DataTransferLength bytes.
#pragma once

#include "platform/StoragePort.h"

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace raid::sim {

class TracePort : public StoragePort {
public:
    TracePort(StoragePort& inner, std::ostream& out);

    DriveHandle open(std::uint8_t target) override;
    void close(DriveHandle handle) override;
    bool scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) override;
    bool idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) override;
    bool rescanBus(DriveHandle handle) override;
    bool volumeDiskExtents(DriveHandle handle, DiskExtent& first) override;
    bool accessDenied() const override { return inner_.accessDenied(); }

    std::uint64_t lines() const;

private:
    void writeLine(const std::string& rest);  // mu_ held

    StoragePort& inner_;
    std::ostream& out_;
    // Recursive: on the virtual clock an engine timer may send a request from inside
    // another request's latency pause, on the same thread.
    mutable std::recursive_mutex mu_;
    std::uint64_t seq_ = 0;
};

// One trace line read back.
struct TraceLine {
    enum class Kind { Open, Close, Scsi, Ata, Rescan, Extents };
    std::uint64_t seq = 0;
    Kind kind = Kind::Open;
    std::string target;   // OPEN: "PhysicalDrive1", "E:"
    bool dataIn = false;  // SCSI
    std::uint32_t length = 0;
    std::vector<std::uint8_t> cdb;   // SCSI: 10 bytes
    std::vector<std::uint8_t> data;  // SCSI out
    std::vector<std::uint8_t> regs;  // ATA: 7 bytes
    std::uint32_t sectors = 0;       // ATA
    bool ok = false;                 // always true for CLOSE
};

// Parses a line written by TracePort (without the newline). False when the line
// does not have one of the formats above.
bool parseTraceLine(std::string_view line, TraceLine& out);

std::string toHex(const std::uint8_t* bytes, std::size_t n);

}  // namespace raid::sim

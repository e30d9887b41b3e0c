// A storage port that records every request block and answers from a script, for
// checking request layouts byte by byte.
#pragma once

#include <cstring>
#include <functional>
#include <vector>

#include "platform/StoragePort.h"

namespace raid::test {

struct Captured {
    enum Kind { Scsi, Ide, Rescan, Extents } kind;
    std::vector<std::uint8_t> block;  // the request block as sent
    std::vector<std::uint8_t> data;   // data-out bytes (SCSI out)
};

class CapturePort : public StoragePort {
public:
    // Fills data-in for SCSI requests; return value is the request's result.
    std::function<bool(const std::uint8_t* block, std::uint8_t* data)> onScsi = [](const std::uint8_t*, std::uint8_t*) {
        return true;
    };
    std::function<bool(std::uint8_t* block, std::size_t size)> onIde = [](std::uint8_t*, std::size_t) { return true; };
    bool openOk = true;

    DriveHandle open(std::uint8_t target) override {
        opened.push_back(target);
        return openOk ? 7 : kInvalidHandle;
    }
    void close(DriveHandle) override { ++closes; }
    bool scsiPassThrough(DriveHandle, std::uint8_t* request, std::uint8_t* data) override {
        Captured c{Captured::Scsi, std::vector<std::uint8_t>(request, request + spt::kSize), {}};
        std::uint32_t len;
        std::memcpy(&len, request + spt::kDataTransferLength, 4);
        if (request[spt::kDataIn] == 0) c.data.assign(data, data + len);
        log.push_back(c);
        return onScsi(request, data);
    }
    bool idePassThrough(DriveHandle, std::uint8_t* block, std::size_t size) override {
        log.push_back({Captured::Ide, std::vector<std::uint8_t>(block, block + size), {}});
        return onIde(block, size);
    }
    bool rescanBus(DriveHandle) override {
        log.push_back({Captured::Rescan, {}, {}});
        return true;
    }
    bool volumeDiskExtents(DriveHandle, DiskExtent& first) override {
        log.push_back({Captured::Extents, {}, {}});
        first = extent;
        return extentsOk;
    }

    std::vector<Captured> log;
    std::vector<std::uint8_t> opened;
    int closes = 0;
    DiskExtent extent{};
    bool extentsOk = true;
};

inline std::vector<std::uint8_t> cdbOf(const Captured& c) {
    return {c.block.begin() + spt::kCdb, c.block.begin() + spt::kCdb + 10};
}

}  // namespace raid::test

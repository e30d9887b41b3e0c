// Storage pass-through on Linux: SCSI commands through SG_IO on the whole-disk (or
// partition) block device, ATA task-file commands wrapped in SAT ATA
// PASS-THROUGH(16), the way bridge controllers expect them.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/StoragePort.h"
#include "platform/linux/LinuxDiskTable.h"

namespace raid::linuxport {

// Fills the 16-byte SAT ATA PASS-THROUGH(16) CDB for the seven task-file registers
// (features, sector count, lba low, lba mid, lba high, device, command).
// sectors 1: PIO Data-In of one sector, the length taken from the sector count
// register; sectors 0: Non-data. Returns false (cdb untouched) for other counts.
bool buildSatPassThrough16(const std::uint8_t regs[7], int sectors, std::uint8_t cdb[16]);

class LinuxStoragePort final : public StoragePort {
public:
    explicit LinuxStoragePort(std::shared_ptr<LinuxDiskTable> table = std::make_shared<LinuxDiskTable>());
    ~LinuxStoragePort() override;
    LinuxStoragePort(const LinuxStoragePort&) = delete;
    LinuxStoragePort& operator=(const LinuxStoragePort&) = delete;

    DriveHandle open(std::uint8_t target) override;
    void close(DriveHandle handle) override;
    bool scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) override;
    bool idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) override;
    bool rescanBus(DriveHandle handle) override;
    bool volumeDiskExtents(DriveHandle handle, DiskExtent& first) override;
    // Set once an open of a drive failed with EACCES/EPERM or SG_IO was refused with
    // EPERM (no CAP_SYS_RAWIO); it stays set, the program's rights do not grow.
    bool accessDenied() const override { return accessDenied_.load(); }

    const std::shared_ptr<LinuxDiskTable>& table() const { return table_; }

private:
    struct OpenDevice;
    std::shared_ptr<OpenDevice> find(DriveHandle handle) const;

    std::shared_ptr<LinuxDiskTable> table_;
    mutable std::mutex mutex_;
    std::map<DriveHandle, std::shared_ptr<OpenDevice>> handles_;
    DriveHandle nextHandle_ = 1;
    std::atomic<bool> accessDenied_{false};
    void noteRefusal(int error) {
        if (error == EACCES || error == EPERM) accessDenied_ = true;
    }
};

}  // namespace raid::linuxport

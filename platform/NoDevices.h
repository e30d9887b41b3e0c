// The machine as a program that must never reach an enclosure sees it: no drive opens,
// no volume exists. A client window (the service owns the drives) and the settings-only
// runs of the monitor (setting up the mail must never send a command to an enclosure
// that a running service watches) run on it.
#pragma once

#include "platform/StoragePort.h"
#include "platform/VolumePort.h"

namespace raid {

class NoDevices final : public StoragePort, public VolumePort {
public:
    DriveHandle open(std::uint8_t) override { return kInvalidHandle; }
    void close(DriveHandle) override {}
    bool scsiPassThrough(DriveHandle, std::uint8_t*, std::uint8_t*) override { return false; }
    bool idePassThrough(DriveHandle, std::uint8_t*, std::size_t) override { return false; }
    bool rescanBus(DriveHandle) override { return false; }
    bool volumeDiskExtents(DriveHandle, DiskExtent&) override { return false; }
    std::uint32_t logicalDriveMask() override { return 0; }
    std::uint8_t driveType(char) override { return kDriveNoRootDir; }
};

}  // namespace raid

// Storage pass-through on Windows: drives opened by their device paths, SCSI commands
// through IOCTL_SCSI_PASS_THROUGH_DIRECT, ATA task-file commands through
// IOCTL_IDE_PASS_THROUGH, the bus rescan and the volume's disk extents.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/StoragePort.h"

namespace raid::win32 {

// The system calls the port makes on drives. The port is built with the real ones;
// a test stands a simulated enclosure behind them (a Windows machine without an
// enclosure, and Wine, which answers pass-through with ERROR_NOT_SUPPORTED and has
// no \\.\PhysicalDriveN of a USB bridge, cannot show the port at work). Each
// reports failure as the system does: INVALID_HANDLE_VALUE or FALSE, the reason in
// the thread's last error.
struct DriveCalls {
    std::function<HANDLE(const std::string& path)> open;
    std::function<BOOL(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned)>
        control;
    std::function<void(HANDLE handle)> close;
};

// CreateFileA for reading and writing, shared, OPEN_EXISTING; a named pipe or a
// character device is refused with ERROR_BAD_DEVICE, so no command is ever sent to
// one. DeviceIoControl and CloseHandle.
DriveCalls systemDriveCalls();

// "\\.\PhysicalDriveN" for 0..66, "\\.\X:" for a letter 'C'..'Z' (either case);
// "" for anything else (A and B are never drives of ours, and no byte beyond the
// letters may reach a path).
std::string drivePath(std::uint8_t target);

class WinStoragePort final : public StoragePort {
public:
    explicit WinStoragePort(DriveCalls calls = systemDriveCalls());
    ~WinStoragePort() override;
    WinStoragePort(const WinStoragePort&) = delete;
    WinStoragePort& operator=(const WinStoragePort&) = delete;

    DriveHandle open(std::uint8_t target) override;
    void close(DriveHandle handle) override;
    bool scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) override;
    bool idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) override;
    bool rescanBus(DriveHandle handle) override;
    bool volumeDiskExtents(DriveHandle handle, DiskExtent& first) override;
    // Set once an open or a command was refused with ERROR_ACCESS_DENIED (the
    // physical drives and pass-through need an administrator); it stays set.
    bool accessDenied() const override { return accessDenied_.load(); }

    // The largest data part of an IDE request the port sends (the core sends 0 or 1
    // sector).
    static constexpr std::uint32_t kMaxIdeData = 64 * 1024;

private:
    struct OpenDrive;
    std::shared_ptr<OpenDrive> find(DriveHandle handle) const;
    bool control(const OpenDrive& drive, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned);
    void noteRefusal(DWORD error) {
        if (error == ERROR_ACCESS_DENIED) accessDenied_ = true;
    }

    DriveCalls calls_;
    mutable std::mutex mutex_;
    // The core gets numbers of its own, never the system's handle values: a stale or
    // made-up number can then never close or reach a handle of someone else's.
    std::map<DriveHandle, std::shared_ptr<OpenDrive>> handles_;
    DriveHandle nextHandle_ = 1;
    std::atomic<bool> accessDenied_{false};
};

}  // namespace raid::win32

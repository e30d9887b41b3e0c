#include "platform/win32/WinStorage.h"

// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <cstdio>
#include <cstring>

#include "platform/win32/WinPlatform.h"
#include "platform/win32/WinScsiMarshal.h"

namespace raid::win32 {
namespace {

constexpr std::uint8_t kLastPhysicalTarget = 'B';  // 66: above it the target is a letter

// IOCTL_IDE_PASS_THROUGH takes the task-file registers (the system's IDEREGS), the
// data size and the data in one buffer, exactly the block the core fills; no field
// depends on the pointer size.
static_assert(sizeof(IDEREGS) == ide::kDataSize);
static_assert(offsetof(IDEREGS, bCommandReg) == 6 && offsetof(IDEREGS, bReserved) == ide::kReserved);

// The answer buffer of IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS with room for one extent:
// a volume on several disks does not fit and fails (ERROR_MORE_DATA).
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32);

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The driver wants the IDE request in page-aligned memory.
struct PageBuffer {
    explicit PageBuffer(std::size_t size)
        : data(static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
    ~PageBuffer() {
        if (data) ::VirtualFree(data, 0, MEM_RELEASE);
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;
    std::uint8_t* data;
};

}  // namespace

DriveCalls systemDriveCalls() {
    DriveCalls calls;
    calls.open = [](const std::string& path) -> HANDLE {
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return h;
        // Drives and volumes are disk-type handles (Wine's volumes say "unknown").
        // A pipe or a character device behind a drive path (a name a user planted
        // for a drive letter, a serial port) is not one of ours: commands sent to it
        // would reach whoever listens there.
        const DWORD type = ::GetFileType(h);
        if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
            ::CloseHandle(h);
            ::SetLastError(ERROR_BAD_DEVICE);
            return INVALID_HANDLE_VALUE;
        }
        return h;
    };
    calls.control = [](HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
        return ::DeviceIoControl(h, code, in, inSize, out, outSize, returned, nullptr);
    };
    calls.close = [](HANDLE h) { ::CloseHandle(h); };
    return calls;
}

std::string drivePath(std::uint8_t target) {
    char path[32];
    if (target <= kLastPhysicalTarget) {
        std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%u", static_cast<unsigned>(target));
        return path;
    }
    char letter = static_cast<char>(target);
    if (letter >= 'c' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'C' || letter > 'Z') return {};
    std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
    return path;
}

struct WinStoragePort::OpenDrive {
    const DriveCalls* calls = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~OpenDrive() {
        if (handle != INVALID_HANDLE_VALUE) calls->close(handle);
    }
};

WinStoragePort::WinStoragePort(DriveCalls calls) : calls_(std::move(calls)) {}

WinStoragePort::~WinStoragePort() = default;

DriveHandle WinStoragePort::open(std::uint8_t target) {
    const std::string path = drivePath(target);
    if (path.empty()) return kInvalidHandle;
    auto drive = std::make_shared<OpenDrive>();
    drive->calls = &calls_;
    drive->handle = calls_.open(path);
    if (drive->handle == INVALID_HANDLE_VALUE || drive->handle == nullptr) {
        drive->handle = INVALID_HANDLE_VALUE;
        noteRefusal(::GetLastError());
        return kInvalidHandle;
    }
    std::lock_guard lock(mutex_);
    const DriveHandle handle = nextHandle_++;
    handles_.emplace(handle, std::move(drive));
    return handle;
}

void WinStoragePort::close(DriveHandle handle) {
    std::shared_ptr<OpenDrive> drive;
    {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return;
        drive = std::move(it->second);
        handles_.erase(it);
    }
    // The system handle closes when the last command still running on it returns.
}

std::shared_ptr<WinStoragePort::OpenDrive> WinStoragePort::find(DriveHandle handle) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

bool WinStoragePort::control(const OpenDrive& drive, DWORD code, void* in, DWORD inSize, void* out,
                             DWORD outSize, DWORD* returned) {
    DWORD ignored = 0;
    if (calls_.control(drive.handle, code, in, inSize, out, outSize, returned ? returned : &ignored)) return true;
    noteRefusal(::GetLastError());
    return false;
}

bool WinStoragePort::scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) {
    if (!request) return false;
    auto drive = find(handle);
    if (!drive) return false;
    NativeScsiRequest native;
    if (!marshalScsiRequest(request, data, native)) return false;
    // Success is the success of the call: ScsiStatus and the sense bytes go back to
    // the caller, who decides what they mean.
    if (!control(*drive, IOCTL_SCSI_PASS_THROUGH_DIRECT, &native, sizeof native, &native, sizeof native, nullptr))
        return false;
    unmarshalScsiResult(native, request);
    return true;
}

bool WinStoragePort::idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) {
    if (!block || size < ide::kHeader) return false;
    const std::uint32_t dataSize = readLe32(block + ide::kDataSize);
    if (dataSize > kMaxIdeData || dataSize % 512 != 0 || size != ide::kHeader + dataSize) return false;
    auto drive = find(handle);
    if (!drive) return false;

    PageBuffer buffer(size);
    if (!buffer.data) return false;
    std::memcpy(buffer.data, block, size);
    const DWORD bytes = static_cast<DWORD>(size);
    const bool ok = control(*drive, IOCTL_IDE_PASS_THROUGH, buffer.data, bytes, buffer.data, bytes, nullptr);
    // The registers come back whatever the outcome (the driver leaves them as sent
    // when it fails), the data with them.
    std::memcpy(block, buffer.data, size);
    return ok;
}

bool WinStoragePort::rescanBus(DriveHandle handle) {
    auto drive = find(handle);
    return drive && control(*drive, IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, nullptr);
}

bool WinStoragePort::volumeDiskExtents(DriveHandle handle, DiskExtent& first) {
    auto drive = find(handle);
    if (!drive) return false;
    VOLUME_DISK_EXTENTS answer{};
    DWORD returned = 0;
    if (!control(*drive, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &answer, sizeof answer, &returned))
        return false;
    if (returned < sizeof answer || answer.NumberOfDiskExtents != 1) return false;
    first.diskNumber = answer.Extents[0].DiskNumber;
    first.startingOffset = answer.Extents[0].StartingOffset.QuadPart;
    first.extentLength = answer.Extents[0].ExtentLength.QuadPart;
    return true;
}

std::unique_ptr<StoragePort> makeStorage() { return std::make_unique<WinStoragePort>(); }

}  // namespace raid::win32

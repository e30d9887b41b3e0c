#include "platform/linux/LinuxStorage.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>

#include "platform/linux/LinuxFiles.h"

namespace raid::linuxport {
namespace {

constexpr std::size_t kSenseBytes = 24;  // the block has room for 24 at spt::kSense
constexpr std::size_t kSectorBytes = 512;
// IDE blocks carry no timeout; one minute covers the slow vendor commands
// (flash erase) the bridge runs behind an ATA opcode.
constexpr unsigned kIdeTimeoutMs = 60 * 1000;

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int sgIo(int fd, sg_io_hdr_t& hdr) {
    int rc;
    do {
        rc = ::ioctl(fd, SG_IO, &hdr);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

// The command reached the device and came back without a transport error.
bool delivered(const sg_io_hdr_t& hdr) {
    return hdr.host_status == 0 && (hdr.driver_status & 0x07) == 0;
}

// Whether the ATA command behind an ATA PASS-THROUGH completed without error. The
// translation layer reports a failed ATA command as CHECK CONDITION (usually
// ABORTED COMMAND with the ATA status in an ATA Status Return descriptor); some
// bridges also send RECOVERED ERROR / "ATA pass through information available"
// for commands that worked. Without this check a rejected IDENTIFY would hand the
// caller 512 zero bytes as if the drive had answered.
bool ataCompleted(const sg_io_hdr_t& hdr, const std::uint8_t* sense) {
    if (hdr.status == 0) return true;
    if (hdr.status != 0x02 || hdr.sb_len_wr < 3) return false;
    const std::size_t len = std::min<std::size_t>(hdr.sb_len_wr, kSenseBytes);
    const std::uint8_t response = sense[0] & 0x7f;
    std::uint8_t key = 0;
    if (response == 0x72 || response == 0x73) {
        key = sense[1] & 0x0f;
        if (key != 0x00 && key != 0x01) return false;
        // Look for the ATA Status Return descriptor (type 9) and its status byte.
        const std::size_t end = std::min<std::size_t>(len, 8u + (len > 7 ? sense[7] : 0u));
        for (std::size_t at = 8; at + 1 < end;) {
            const std::size_t descLen = 2u + sense[at + 1];
            if (sense[at] == 0x09 && at + 13 < end) return (sense[at + 13] & 0x21) == 0;  // ERR, DF
            at += descLen;
        }
        return true;
    }
    if (response == 0x70 || response == 0x71) {
        key = sense[2] & 0x0f;
        return key == 0x00 || key == 0x01;
    }
    return false;
}

}  // namespace

bool buildSatPassThrough16(const std::uint8_t regs[7], int sectors, std::uint8_t cdb[16]) {
    if (sectors != 0 && sectors != 1) return false;
    std::memset(cdb, 0, 16);
    cdb[0] = 0x85;  // ATA PASS-THROUGH(16)
    if (sectors == 1) {
        cdb[1] = 4 << 1;  // protocol: PIO Data-In, 28-bit command (EXTEND 0)
        // T_DIR 1 (from device), BYT_BLOK 1 (length in blocks), T_LENGTH 2 (the
        // length is the sector count register).
        cdb[2] = 0x08 | 0x04 | 0x02;
    } else {
        cdb[1] = 3 << 1;  // protocol: Non-data
        cdb[2] = 0x00;
    }
    cdb[4] = regs[0];   // features
    cdb[6] = regs[1];   // sector count
    cdb[8] = regs[2];   // lba low
    cdb[10] = regs[3];  // lba mid
    cdb[12] = regs[4];  // lba high
    cdb[13] = regs[5];  // device (drive/head)
    cdb[14] = regs[6];  // command
    return true;
}

struct LinuxStoragePort::OpenDevice {
    int fd = -1;
    std::string disk;       // whole-disk kernel name, for the rescan
    std::string partition;  // volume handles: device holding the filesystem
    bool volume = false;
    bool wholeDisk = false;  // volume handle on a filesystem without partition table

    ~OpenDevice() {
        if (fd >= 0) ::close(fd);
    }
};

LinuxStoragePort::LinuxStoragePort(std::shared_ptr<LinuxDiskTable> table) : table_(std::move(table)) {}

LinuxStoragePort::~LinuxStoragePort() = default;

DriveHandle LinuxStoragePort::open(std::uint8_t target) {
    auto device = std::make_shared<OpenDevice>();
    if (target <= 'B') {
        // Physical drive numbers follow the live disk list: an enclosure plugged in
        // a moment ago must be reachable by the very next probe.
        table_->refreshDisks();
        auto disk = table_->disk(target);
        if (!disk) return kInvalidHandle;
        device->disk = disk->name;
    } else {
        const char letter = static_cast<char>(std::toupper(target));
        if (letter < kFirstVolumeLetter || letter > 'Z') return kInvalidHandle;
        // Use the letters the caller last saw in the drive mask; only a letter
        // unknown so far makes us look again.
        auto volume = table_->volume(letter);
        if (!volume) {
            table_->refresh();
            volume = table_->volume(letter);
        }
        if (!volume) return kInvalidHandle;
        device->disk = volume->diskName;
        device->partition = volume->device;
        device->volume = true;
        device->wholeDisk = volume->wholeDisk;
    }

    const std::string path = table_->devRoot() + "/" + (device->volume ? device->partition : device->disk);
    device->fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    // Read-only still carries SG_IO for a privileged caller (and for the commands
    // the kernel lets through on a read-only open).
    if (device->fd < 0) device->fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device->fd < 0) {
        noteRefusal(errno);
        return kInvalidHandle;
    }

    std::lock_guard lock(mutex_);
    const DriveHandle handle = nextHandle_++;
    handles_.emplace(handle, std::move(device));
    return handle;
}

void LinuxStoragePort::close(DriveHandle handle) {
    std::shared_ptr<OpenDevice> device;
    {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return;
        device = std::move(it->second);
        handles_.erase(it);
    }
    // The descriptor closes when the last command still running on it returns.
}

std::shared_ptr<LinuxStoragePort::OpenDevice> LinuxStoragePort::find(DriveHandle handle) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

bool LinuxStoragePort::scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) {
    if (!request) return false;
    auto device = find(handle);
    if (!device) return false;

    const std::uint8_t cdbLength = request[spt::kCdbLength];
    const std::uint8_t dataIn = request[spt::kDataIn];
    const std::uint32_t length = readLe32(request + spt::kDataTransferLength);
    const std::uint32_t timeoutSeconds = readLe32(request + spt::kTimeOutValue);
    if (cdbLength < 1 || cdbLength > 16) return false;
    if (length > 0 && (!data || dataIn > 1)) return false;

    std::uint8_t cdb[16];
    std::memcpy(cdb, request + spt::kCdb, cdbLength);
    std::uint8_t sense[kSenseBytes] = {};

    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = cdbLength;
    hdr.cmdp = cdb;
    hdr.mx_sb_len = sizeof sense;
    hdr.sbp = sense;
    hdr.dxfer_len = length;
    hdr.dxferp = length ? data : nullptr;
    hdr.dxfer_direction = length == 0 ? SG_DXFER_NONE : dataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    // 0 leaves the choice to the kernel (its SG_IO default of one minute).
    hdr.timeout = timeoutSeconds >= UINT_MAX / 1000 ? UINT_MAX : timeoutSeconds * 1000;

    const int rc = sgIo(device->fd, hdr);
    if (rc != 0) noteRefusal(errno);

    std::memset(request + spt::kSense, 0, kSenseBytes);
    if (rc == 0) {
        std::memcpy(request + spt::kSense, sense, std::min<std::size_t>(hdr.sb_len_wr, kSenseBytes));
        request[spt::kScsiStatus] = hdr.status;
    }
    // A delivered command counts as done whatever the device's status says; the
    // caller reads ScsiStatus and the sense bytes, as on Windows.
    return rc == 0 && delivered(hdr);
}

bool LinuxStoragePort::idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) {
    if (!block || size < ide::kHeader) return false;
    const std::uint32_t dataSize = readLe32(block + ide::kDataSize);
    if (dataSize % kSectorBytes != 0 || dataSize / kSectorBytes > 1) return false;
    if (size != ide::kHeader + dataSize) return false;
    const int sectors = static_cast<int>(dataSize / kSectorBytes);
    auto device = find(handle);
    if (!device) return false;

    std::uint8_t cdb[16];
    if (!buildSatPassThrough16(block + ide::kRegisters, sectors, cdb)) return false;
    std::uint8_t sense[kSenseBytes] = {};
    std::uint8_t sector[kSectorBytes] = {};

    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = sizeof cdb;
    hdr.cmdp = cdb;
    hdr.mx_sb_len = sizeof sense;
    hdr.sbp = sense;
    hdr.dxfer_direction = sectors ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    hdr.dxfer_len = sectors ? sizeof sector : 0;
    hdr.dxferp = sectors ? sector : nullptr;
    hdr.timeout = kIdeTimeoutMs;

    if (sgIo(device->fd, hdr) != 0) {
        noteRefusal(errno);
        return false;
    }
    if (!delivered(hdr) || !ataCompleted(hdr, sense)) return false;
    if (sectors) std::memcpy(block + ide::kData, sector, sizeof sector);
    return true;
}

bool LinuxStoragePort::rescanBus(DriveHandle handle) {
    auto device = find(handle);
    if (!device) return false;
    const std::string path = table_->sysRoot() + "/block/" + device->disk + "/device/rescan";
    // No O_CREAT: the attribute exists or this disk cannot be rescanned.
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    ssize_t n;
    do {
        n = ::write(fd, "1", 1);
    } while (n < 0 && errno == EINTR);
    const bool ok = n == 1;
    return ::close(fd) == 0 && ok;
}

bool LinuxStoragePort::volumeDiskExtents(DriveHandle handle, DiskExtent& first) {
    auto device = find(handle);
    if (!device || !device->volume) return false;
    table_->refreshDisks();
    auto number = table_->diskNumber(device->disk);
    if (!number) return false;

    const std::string dir = table_->sysRoot() + "/class/block/" + device->partition;
    std::uint64_t start = 0;
    if (!device->wholeDisk) {
        auto value = readU64Attribute(dir + "/start");
        if (!value) return false;
        start = *value;
    }
    auto sectors = readU64Attribute(dir + "/size");
    if (!sectors) return false;
    constexpr std::uint64_t kMaxSectors = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 512;
    if (start > kMaxSectors || *sectors > kMaxSectors) return false;

    first.diskNumber = static_cast<std::uint32_t>(*number);
    first.startingOffset = static_cast<std::int64_t>(start * 512);
    first.extentLength = static_cast<std::int64_t>(*sectors * 512);
    return true;
}

}  // namespace raid::linuxport

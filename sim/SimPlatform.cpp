#include "sim/SimPlatform.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "sim/Opcodes.h"

namespace raid::sim {

namespace {
std::size_t faultIndex(FaultKind k) { return static_cast<std::size_t>(k); }

FaultKind flashFault(FlashRequest r) {
    switch (r) {
    case FlashRequest::Read: return FaultKind::FlashRead;
    case FlashRequest::Erase: return FaultKind::FlashErase;
    case FlashRequest::Program: return FaultKind::FlashProgram;
    case FlashRequest::Mode: return FaultKind::FlashMode;
    case FlashRequest::None: break;
    }
    return FaultKind::Any;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

const char* faultName(FaultKind kind) {
    switch (kind) {
    case FaultKind::Read: return "read";
    case FaultKind::Write: return "write";
    case FaultKind::Inquiry: return "inquiry";
    case FaultKind::Ata: return "ata";
    case FaultKind::Vu: return "vu";
    case FaultKind::Any: return "any";
    case FaultKind::FlashRead: return "flashread";
    case FaultKind::FlashErase: return "flasherase";
    case FaultKind::FlashProgram: return "flashprogram";
    case FaultKind::FlashMode: return "flashmode";
    }
    return "?";
}

SimPlatform::SimPlatform(std::function<void(std::int64_t)> sleeper) : sleeper_(std::move(sleeper)) {}

void SimPlatform::setLatencyUs(std::int64_t us) {
    std::lock_guard<std::mutex> lock(mu_);
    latencyUs_ = std::max<std::int64_t>(us, 0);
}

std::int64_t SimPlatform::latencyUs() const {
    std::lock_guard<std::mutex> lock(mu_);
    return latencyUs_;
}

void SimPlatform::checkDrive(int n) {
    if (n < 0 || n >= kMaxDrives) throw std::out_of_range("drive number " + std::to_string(n) + " is outside 0..9");
}

void SimPlatform::unplugLocked(int n) {
    Slot& s = slots_[static_cast<std::size_t>(n)];
    s.device.reset();
    s.enclosure = nullptr;
    s.faults = {};
    ++s.generation;
}

void SimPlatform::installLocked(int n, std::shared_ptr<SimDisk> device, SimEnclosure* enclosure) {
    Slot& s = slots_[static_cast<std::size_t>(n)];
    // Faults queued while the number was empty stay: they hit the arriving drive.
    const auto faults = s.faults;
    unplugLocked(n);
    s.device = std::move(device);
    s.enclosure = enclosure;
    s.faults = faults;
}

void SimPlatform::addPlainDisk(int n) {
    checkDrive(n);
    auto d = std::make_shared<SimDisk>("SIM PLAIN DISK " + std::to_string(n), "SIMDISK000000000000" + std::to_string(n));
    std::lock_guard<std::mutex> lock(mu_);
    installLocked(n, std::move(d), nullptr);
}

SimEnclosure& SimPlatform::attach(int n, Path path, const Block& identity, const Block& status) {
    checkDrive(n);
    auto e = std::make_shared<SimEnclosure>(path, identity, status);
    SimEnclosure* raw = e.get();
    std::lock_guard<std::mutex> lock(mu_);
    installLocked(n, std::move(e), raw);
    return *raw;
}

void SimPlatform::addMember(int n, int of) {
    checkDrive(n);
    checkDrive(of);
    std::lock_guard<std::mutex> lock(mu_);
    const Slot& host = slots_[static_cast<std::size_t>(of)];
    if (!host.enclosure || n == of)
        throw std::invalid_argument("drive " + std::to_string(of) + " is not an enclosure");
    std::shared_ptr<SimDisk> shared = host.device;
    SimEnclosure* enc = host.enclosure;
    installLocked(n, std::move(shared), enc);
}

void SimPlatform::addVolume(char letter, int n, std::uint8_t driveType) {
    checkDrive(n);
    letter = upper(letter);
    if (letter < 'C' || letter > 'Z') throw std::invalid_argument(std::string("bad volume letter ") + letter);
    std::lock_guard<std::mutex> lock(mu_);
    volumes_[letter] = Volume{n, driveType};
}

void SimPlatform::detach(int n) {
    checkDrive(n);
    std::lock_guard<std::mutex> lock(mu_);
    unplugLocked(n);
}

void SimPlatform::setStatus(int n, const Block& status) {
    if (SimEnclosure* e = enclosure(n)) e->setStatus(status);
}

void SimPlatform::failNext(int n, FaultKind kind, int count) {
    checkDrive(n);
    std::lock_guard<std::mutex> lock(mu_);
    int& c = slots_[static_cast<std::size_t>(n)].faults[faultIndex(kind)];
    c = std::max(count, 0);
}

SimEnclosure* SimPlatform::enclosure(int n) {
    if (n < 0 || n >= kMaxDrives) return nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    return slots_[static_cast<std::size_t>(n)].enclosure;
}

SimDisk* SimPlatform::disk(int n) {
    if (n < 0 || n >= kMaxDrives) return nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    return slots_[static_cast<std::size_t>(n)].device.get();
}

bool SimPlatform::present(int n) const {
    if (n < 0 || n >= kMaxDrives) return false;
    std::lock_guard<std::mutex> lock(mu_);
    return slots_[static_cast<std::size_t>(n)].device != nullptr;
}

int SimPlatform::openHandles() const {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(handles_.size());
}

int SimPlatform::maxOpenHandles() const {
    std::lock_guard<std::mutex> lock(mu_);
    return maxOpen_;
}

bool SimPlatform::volumeUsableLocked(char letter) const {
    const auto it = volumes_.find(letter);
    return it != volumes_.end() && slots_[static_cast<std::size_t>(it->second.disk)].device != nullptr;
}

DriveHandle SimPlatform::open(std::uint8_t target) {
    std::lock_guard<std::mutex> lock(mu_);
    Handle h;
    if (target > 'B') {
        const char letter = static_cast<char>(target);
        if (letter < 'C' || letter > 'Z' || !volumeUsableLocked(letter)) return kInvalidHandle;
        h.letter = letter;
        h.drive = volumes_.at(letter).disk;
    } else {
        if (target >= kMaxDrives || !slots_[target].device || accessDenied_) return kInvalidHandle;
        h.drive = target;
    }
    h.generation = slots_[static_cast<std::size_t>(h.drive)].generation;
    const DriveHandle id = nextHandle_++;
    handles_.emplace(id, h);
    maxOpen_ = std::max(maxOpen_, static_cast<int>(handles_.size()));
    return id;
}

void SimPlatform::setAccessDenied(bool denied) {
    std::lock_guard<std::mutex> lock(mu_);
    accessDenied_ = denied;
}

bool SimPlatform::accessDenied() const {
    std::lock_guard<std::mutex> lock(mu_);
    return accessDenied_;
}

void SimPlatform::close(DriveHandle handle) {
    std::lock_guard<std::mutex> lock(mu_);
    handles_.erase(handle);
}

std::shared_ptr<SimDisk> SimPlatform::resolveLocked(DriveHandle h, const Handle** info) const {
    const auto it = handles_.find(h);
    if (it == handles_.end()) return nullptr;
    const Slot& s = slots_[static_cast<std::size_t>(it->second.drive)];
    if (!s.device || s.generation != it->second.generation) return nullptr;  // unplugged since open
    if (info) *info = &it->second;
    return s.device;
}

bool SimPlatform::takeFaultLocked(int drive, FaultKind kind, FaultKind flash) {
    auto& f = slots_[static_cast<std::size_t>(drive)].faults;
    if (flash != FaultKind::Any && f[faultIndex(flash)] > 0) {
        --f[faultIndex(flash)];
        return true;
    }
    if (kind != FaultKind::Any && f[faultIndex(kind)] > 0) {
        --f[faultIndex(kind)];
        return true;
    }
    if (f[faultIndex(FaultKind::Any)] > 0) {
        --f[faultIndex(FaultKind::Any)];
        return true;
    }
    return false;
}

bool SimPlatform::reachDrive(DriveHandle h) {
    std::int64_t latency = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!resolveLocked(h, nullptr)) return false;
        latency = latencyUs_;
    }
    // Outside the lock: a real-time sleeper must not hold up other threads' look-ups.
    if (sleeper_) sleeper_(latency);
    return true;
}

bool SimPlatform::scsiPassThrough(DriveHandle handle, std::uint8_t* request, std::uint8_t* data) {
    if (!request || !reachDrive(handle)) return false;

    ScsiRequest req;
    const std::uint8_t cdbLength = request[spt::kCdbLength];
    if (cdbLength == 0 || cdbLength > req.cdb.size()) return false;
    std::memcpy(req.cdb.data(), request + spt::kCdb, cdbLength);  // the device sees only CdbLength bytes
    const std::uint8_t dir = request[spt::kDataIn];
    if (dir > 1) return false;
    req.dataIn = dir == 1;
    req.length = getLe32(request + spt::kDataTransferLength);
    req.data = data;
    if (req.length > 0 && !data) return false;

    FaultKind kind = FaultKind::Any;
    switch (req.cdb[0]) {
    case kScsiRead10: kind = FaultKind::Read; break;
    case kScsiWrite10: kind = FaultKind::Write; break;
    case kScsiInquiry: kind = FaultKind::Inquiry; break;
    case kScsiVendorPrefix: kind = FaultKind::Vu; break;
    default: break;
    }

    std::shared_ptr<SimDisk> dev;
    {
        std::lock_guard<std::mutex> lock(mu_);
        const Handle* info = nullptr;
        dev = resolveLocked(handle, &info);
        if (!dev) return false;
        // Through a volume handle only data transfers reach the disk.
        if (info->letter && kind != FaultKind::Read && kind != FaultKind::Write) return false;
        const Slot& slot = slots_[static_cast<std::size_t>(info->drive)];
        const FaultKind flash = slot.enclosure ? flashFault(slot.enclosure->classify(req)) : FaultKind::Any;
        if (takeFaultLocked(info->drive, kind, flash)) return false;
    }
    // The drive has its own lock; it is kept alive by `dev` even if unplugged meanwhile.
    return dev->scsi(req);
}

bool SimPlatform::idePassThrough(DriveHandle handle, std::uint8_t* block, std::size_t size) {
    if (!block || size < ide::kHeader || !reachDrive(handle)) return false;
    const std::uint32_t dataSize = getLe32(block + ide::kDataSize);
    if (dataSize > size - ide::kData) return false;  // would run past the caller's block

    std::shared_ptr<SimDisk> dev;
    {
        std::lock_guard<std::mutex> lock(mu_);
        const Handle* info = nullptr;
        dev = resolveLocked(handle, &info);
        if (!dev || info->letter) return false;
        const Slot& slot = slots_[static_cast<std::size_t>(info->drive)];
        const FaultKind flash =
            slot.enclosure ? flashFault(slot.enclosure->classifyAta(block + ide::kRegisters)) : FaultKind::Any;
        if (takeFaultLocked(info->drive, FaultKind::Ata, flash)) return false;
    }
    return dev->ata(block + ide::kRegisters, block + ide::kData, dataSize);
}

bool SimPlatform::rescanBus(DriveHandle handle) {
    if (!reachDrive(handle)) return false;
    std::lock_guard<std::mutex> lock(mu_);
    const Handle* info = nullptr;
    if (!resolveLocked(handle, &info)) return false;
    return !takeFaultLocked(info->drive, FaultKind::Any);
}

bool SimPlatform::volumeDiskExtents(DriveHandle handle, DiskExtent& first) {
    if (!reachDrive(handle)) return false;
    std::lock_guard<std::mutex> lock(mu_);
    const Handle* info = nullptr;
    if (!resolveLocked(handle, &info) || !info->letter) return false;
    if (takeFaultLocked(info->drive, FaultKind::Any)) return false;
    first.diskNumber = static_cast<std::uint32_t>(info->drive);
    first.startingOffset = kVolumeOffset;
    first.extentLength = kVolumeLength;
    return true;
}

std::uint32_t SimPlatform::logicalDriveMask() {
    std::lock_guard<std::mutex> lock(mu_);
    std::uint32_t mask = 0;
    for (const auto& [letter, vol] : volumes_)
        if (volumeUsableLocked(letter)) mask |= 1u << (letter - 'A');
    return mask;
}

std::uint8_t SimPlatform::driveType(char letter) {
    letter = upper(letter);
    std::lock_guard<std::mutex> lock(mu_);
    if (!volumeUsableLocked(letter)) return kDriveNoRootDir;
    return volumes_.at(letter).type;
}

}  // namespace raid::sim

#include "sim/SimDisk.h"

#include <algorithm>
#include <cstring>

#include "sim/Opcodes.h"

namespace raid::sim {

namespace {
constexpr std::size_t kInquiryLength = 36;
}  // namespace

SimDisk::SimDisk(std::string model, std::string serial)
    : model_(std::move(model)), serial_(std::move(serial)) {}

bool SimDisk::scsi(const ScsiRequest& req) {
    std::lock_guard<std::mutex> lock(mu_);
    const bool ok = doScsi(req);
    log(RequestRecord::Kind::Scsi, req.cdb.data(), req.cdb.size(), req.dataIn, req.length, ok);
    return ok;
}

bool SimDisk::ata(const std::uint8_t* regs, std::uint8_t* data, std::uint32_t length) {
    std::lock_guard<std::mutex> lock(mu_);
    const bool ok = doAta(regs, data, length);
    log(RequestRecord::Kind::Ata, regs, 7, true, length, ok);
    return ok;
}

std::vector<RequestRecord> SimDisk::requestLog() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {requests_.begin(), requests_.end()};
}

std::uint64_t SimDisk::requestCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requestCount_;
}

Block SimDisk::storedSector(std::uint64_t lba) const {
    std::lock_guard<std::mutex> lock(mu_);
    Block b{};
    loadSector(lba, b.data());
    return b;
}

void SimDisk::log(RequestRecord::Kind kind, const std::uint8_t* bytes, std::size_t n, bool dataIn,
                  std::uint32_t length, bool ok) {
    RequestRecord r;
    r.kind = kind;
    std::copy_n(bytes, std::min(n, r.cdb.size()), r.cdb.begin());
    r.dataIn = dataIn;
    r.length = length;
    r.ok = ok;
    requests_.push_back(r);
    if (requests_.size() > kRequestLogLimit) requests_.pop_front();
    ++requestCount_;
}

bool SimDisk::doScsi(const ScsiRequest& req) {
    const std::uint8_t* cdb = req.cdb.data();
    switch (cdb[0]) {
    case kScsiRead10:
    case kScsiWrite10: {
        const bool isRead = cdb[0] == kScsiRead10;
        if (req.dataIn != isRead) return false;
        const std::uint64_t lba = getBe32(cdb + 2);
        const std::uint32_t count = getBe16(cdb + 7);
        // The buffer must hold every sector asked for; a shorter one would be overrun.
        if (std::uint64_t{count} * kSectorSize > req.length) return false;
        if (lba + count > kDiskSectors) return false;
        if (isRead) {
            for (std::uint32_t i = 0; i < count; ++i) readSector(lba + i, req.data + i * kSectorSize);
            return true;
        }
        return count == 0 || writeSectors(lba, count, req.data);
    }
    case kScsiInquiry:
        return inquiry(req);
    case kScsiVendorPrefix:
        return doVendor(req);
    default:
        return false;
    }
}

bool SimDisk::doAta(const std::uint8_t* regs, std::uint8_t* data, std::uint32_t length) {
    if (regs[6] != kAtaIdentifyDevice) return false;
    if (length < kSectorSize) return false;
    const Block page = ordinaryIdentify();
    std::memcpy(data, page.data(), kSectorSize);
    return true;
}

void SimDisk::readSector(std::uint64_t lba, std::uint8_t* out) { loadSector(lba, out); }

bool SimDisk::writeSectors(std::uint64_t lba, std::uint32_t count, const std::uint8_t* data) {
    for (std::uint32_t i = 0; i < count; ++i) storeSector(lba + i, data + i * kSectorSize);
    return true;
}

bool SimDisk::doVendor(const ScsiRequest&) { return false; }

void SimDisk::storeSector(std::uint64_t lba, const std::uint8_t* data) {
    const bool zero = std::all_of(data, data + kSectorSize, [](std::uint8_t b) { return b == 0; });
    if (zero) {
        sectors_.erase(lba);  // reads as zeros anyway; keeps long runs small
        return;
    }
    std::memcpy(sectors_[lba].data(), data, kSectorSize);
}

void SimDisk::loadSector(std::uint64_t lba, std::uint8_t* out) const {
    const auto it = sectors_.find(lba);
    if (it == sectors_.end())
        std::memset(out, 0, kSectorSize);
    else
        std::memcpy(out, it->second.data(), kSectorSize);
}

bool SimDisk::inquiry(const ScsiRequest& req) {
    if (!req.dataIn) return false;
    std::array<std::uint8_t, kInquiryLength> a{};
    a[0] = 0x00;  // direct-access block device
    a[2] = 0x06;  // SPC-4
    a[3] = 0x02;  // response data format
    a[4] = 0x1F;  // additional length: 36-byte standard answer
    std::memcpy(a.data() + 8, inquiryVendor(), 8);
    std::memcpy(a.data() + 16, inquiryProduct(), 16);
    std::memcpy(a.data() + 32, "0100", 4);
    const std::size_t n = std::min<std::size_t>({a.size(), req.cdb[4], req.length});
    std::memcpy(req.data, a.data(), n);
    return true;
}

Block SimDisk::ordinaryIdentify() const {
    Block p{};
    putLe16(p.data() + 0, 0x0040);  // fixed device
    putAtaString(p.data() + 20, 20, serial_);
    putAtaString(p.data() + 46, 8, "SIM01.00");
    putAtaString(p.data() + 54, 40, model_);
    putLe16(p.data() + 98, 0x0200);  // LBA supported
    const std::uint64_t sectors = kDiskSectors;
    putLe32(p.data() + 120, 0x0FFFFFFF);                 // words 60-61: LBA28 limit
    putLe16(p.data() + 166, 0x0400);                     // word 83: 48-bit addressing
    putLe32(p.data() + 200, static_cast<std::uint32_t>(sectors));
    putLe32(p.data() + 204, static_cast<std::uint32_t>(sectors >> 32));
    return p;
}

}  // namespace raid::sim

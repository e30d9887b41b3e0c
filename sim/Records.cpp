#include "sim/Records.h"

#include "platform/FileStore.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace raid::sim {

Block makeIdentityPage(const IdentityOptions& o) {
    Block p{};
    putLe16(p.data(), 0x0040);  // reads as a fixed device when answered to IDENTIFY
    putAtaString(p.data() + identity::kSerial, 20, o.serial);
    putAtaString(p.data() + identity::kFirmware, 8, o.firmware);
    putAtaString(p.data() + identity::kModel, 40, o.model);
    p[identity::kMark] = '3';
    p[identity::kMark + 1] = 'X';
    p[identity::kProductClass] = o.productClass;
    return p;
}

std::uint8_t driveFlags(std::uint8_t drive1State, std::uint8_t drive2State) {
    return static_cast<std::uint8_t>((drive1State & 0x0F) | ((drive2State & 0x0F) << 4));
}

std::uint64_t configuredCapacity(const StatusOptions& o) {
    if (o.capacity) return *o.capacity;
    const std::uint64_t a = o.drives[0].sectors;
    const std::uint64_t b = o.drives[1].sectors;
    if (o.kind != kKindRaid) return std::min(a, b);
    switch (o.mode) {
    case kStriping: return 2 * std::min(a, b);
    case kMirroring: return std::min(a, b);
    case kNraid:
    case kJbod: return a + b;
    default: return 0;  // bypass: each drive stands alone, nothing is configured
    }
}

Block makeStatusRecord(const StatusOptions& o) {
    Block r{};
    r[0] = 0x00;  // anything but 0xFF: a record slot starting 0xFF reads as unused
    r[1] = o.kind;
    const std::uint64_t capacity = configuredCapacity(o);
    const std::uint8_t flags = driveFlags(o.drives[0].state, o.drives[1].state);
    const std::uint8_t speeds =
        static_cast<std::uint8_t>((o.drives[0].sataSpeed & 0x0F) | ((o.drives[1].sataSpeed & 0x0F) << 4));
    std::uint8_t* p = r.data();

    if (o.kind == kKindRaid) {
        using namespace raidrec;
        p[kMode] = o.mode;
        putAtaString(p + kSerial1, 20, o.drives[0].serial);
        putAtaString(p + kSerial2, 20, o.drives[1].serial);
        putLe40(p + kCapacity, capacity);
        p[kDriveFlags] = flags;
        p[kActivity] = o.activity;
        p[kProgress] = o.progress;
        p[kMonitorMarker] = o.monitorMarker;
        for (std::size_t i = 0; i < 3; ++i) p[kSubCode + i] = static_cast<std::uint8_t>(i < o.subCode.size() ? o.subCode[i] : ' ');
        putAtaString(p + kModel1, 40, o.drives[0].model);
        putLe40(p + kCapacity1, o.drives[0].sectors);
        putAtaString(p + kModel2, 40, o.drives[1].model);
        putLe40(p + kCapacity2, o.drives[1].sectors);
        p[kFanTempAlarms] = o.fanTempAlarms;
        putLe16(p + kFanSpeed, o.fanSpeed);
        p[kTemperature] = o.temperature;
        p[kSataSpeeds] = speeds;
        p[kBadSectors] = o.badSectors;
        for (std::size_t i = 0; i < o.ring.size(); ++i) putLe32(p + kRing + 4 * i, o.ring[i]);
        return r;
    }

    using namespace hybridrec;
    if (o.kind != kKindHybridNoMode) p[kMode] = o.mode;
    putAtaString(p + kSerial1, 20, o.drives[0].serial);
    putAtaString(p + kModel1, 40, o.drives[0].model);
    putLe40(p + kCapacity1, o.drives[0].sectors);
    putAtaString(p + kSerial2, 20, o.drives[1].serial);
    putAtaString(p + kModel2, 40, o.drives[1].model);
    putLe40(p + kCapacity2, o.drives[1].sectors);
    putLe40(p + kCapacity, capacity);
    p[kDriveFlags] = flags;
    p[kActivity] = o.activity;
    p[kCacheDisableRequest] = o.cacheDisableRequest;
    putLe32(p + kFlushPosition, o.flushPosition);
    putLe40(p + kFlushPosition2, o.flushPosition2);
    p[kSataSpeeds] = speeds;
    return r;
}

bool writeBlockFile(const std::string& path, const Block& block) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    f.close();
    return static_cast<bool>(f);
}

bool readBlockFile(const std::string& path, Block& out, std::string& error) {
    std::error_code ec;
    std::ifstream f;
    if (std::filesystem::is_regular_file(path, ec)) f.open(path, std::ios::binary);
    if (!f.is_open()) {
        error = "cannot read '" + path + "'";
        return false;
    }
    // Read one byte more than a block so an oversized file is noticed without
    // reading all of it.
    char buf[kSectorSize + 1];
    f.read(buf, sizeof buf);
    const std::streamsize n = f.gcount();
    if (f.bad()) {
        error = "cannot read '" + path + "'";
        return false;
    }
    if (n != static_cast<std::streamsize>(kSectorSize)) {
        error = "'" + path + "' is " + (n > static_cast<std::streamsize>(kSectorSize) ? std::string("more than 512") : std::to_string(n)) +
                " bytes, not 512";
        return false;
    }
    std::memcpy(out.data(), buf, kSectorSize);
    return true;
}

bool writeFlashFile(const std::string& path, const std::vector<std::uint8_t>& content) {
    // Only a regular file or nothing: opening a FIFO or a named pipe to write waits for a
    // reader that may never come, and a device is no place for a dump. The file store
    // tells them apart on both systems (std::filesystem sees no Windows pipe).
    const std::unique_ptr<FileStore> files = makeStdFileStore();
    if (files->exists(path) && !files->size(path)) return false;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    f.close();
    return static_cast<bool>(f);
}

bool readFlashFile(const std::string& path, std::size_t size, std::vector<std::uint8_t>& out, std::string& error) {
    std::error_code ec;
    std::ifstream f;
    if (std::filesystem::is_regular_file(path, ec)) f.open(path, std::ios::binary);
    if (!f.is_open()) {
        error = "cannot read '" + path + "' (a regular file is needed)";
        return false;
    }
    std::vector<std::uint8_t> buf(size + 1);
    f.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
    const std::streamsize n = f.gcount();
    if (f.bad()) {
        error = "cannot read '" + path + "'";
        return false;
    }
    if (n != static_cast<std::streamsize>(size)) {
        error = "'" + path + "' is " + (n > static_cast<std::streamsize>(size) ? "more than " + std::to_string(size) : std::to_string(n)) +
                " bytes, not " + std::to_string(size);
        return false;
    }
    buf.resize(size);
    out = std::move(buf);
    return true;
}

}  // namespace raid::sim

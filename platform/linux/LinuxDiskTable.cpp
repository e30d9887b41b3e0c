#include "platform/linux/LinuxDiskTable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxVolumes.h"

namespace raid::linuxport {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// Families whose disks are named prefix + letters (sda ... sdz, sdaa ...).
bool letterSuffix(std::string_view name, std::string_view& suffix) {
    for (std::string_view family : {"xvd", "sd", "vd", "hd"}) {
        if (!startsWith(name, family)) continue;
        std::string_view rest = name.substr(family.size());
        if (rest.empty() || !std::all_of(rest.begin(), rest.end(), isLower)) return false;
        suffix = rest;
        return true;
    }
    return false;
}

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && isDigit(a[ie])) ++ie;
            while (je < b.size() && isDigit(b[je])) ++je;
            std::string_view da = a.substr(i, ie - i), db = b.substr(j, je - j);
            while (da.size() > 1 && da.front() == '0') da.remove_prefix(1);
            while (db.size() > 1 && db.front() == '0') db.remove_prefix(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (da != db) return da < db;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;  // equal under the natural rule ("01" vs "1"): keep the order strict
}

}  // namespace

bool isPhysicalDiskName(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) return false;
    for (std::string_view skipped : {"loop", "ram", "zram", "nbd", "rbd", "dm-", "md", "zd", "sr", "fd"}) {
        if (startsWith(name, skipped)) return false;
    }
    if (startsWith(name, "mmcblk")) {
        std::string_view rest = name.substr(6);
        std::size_t digits = 0;
        while (digits < rest.size() && isDigit(rest[digits])) ++digits;
        std::string_view tail = rest.substr(digits);
        if (tail == "rpmb" || (startsWith(tail, "boot") && allDigits(tail.substr(4)))) return false;
    }
    return true;
}

bool diskNameLess(std::string_view a, std::string_view b) {
    std::string_view sa, sb;
    if (letterSuffix(a, sa) && letterSuffix(b, sb) &&
        a.substr(0, a.size() - sa.size()) == b.substr(0, b.size() - sb.size())) {
        if (sa.size() != sb.size()) return sa.size() < sb.size();
        return sa < sb;
    }
    return naturalLess(a, b);
}

std::vector<PhysicalDisk> scanPhysicalDisks(const std::string& sysRoot) {
    const std::string blockDir = sysRoot + "/block";
    std::vector<PhysicalDisk> disks;
    for (auto& name : listDirectory(blockDir)) {
        if (!isPhysicalDiskName(name)) continue;
        const std::string dir = blockDir + "/" + name;
        if (readU64Attribute(dir + "/hidden").value_or(0) != 0) continue;
        PhysicalDisk disk;
        disk.removable = readU64Attribute(dir + "/removable").value_or(0) != 0;
        disk.sizeSectors = readU64Attribute(dir + "/size").value_or(0);
        disk.devNumber = readAttribute(dir + "/dev").value_or("");
        disk.name = std::move(name);
        disks.push_back(std::move(disk));
    }
    std::sort(disks.begin(), disks.end(),
              [](const PhysicalDisk& x, const PhysicalDisk& y) { return diskNameLess(x.name, y.name); });
    return disks;
}

std::vector<PartitionInfo> scanPartitions(const std::string& sysRoot,
                                          const std::vector<PhysicalDisk>& disks) {
    std::vector<PartitionInfo> partitions;
    for (std::size_t index = 0; index < disks.size(); ++index) {
        const std::string diskDir = sysRoot + "/block/" + disks[index].name;
        for (auto& name : listDirectory(diskDir)) {
            const std::string dir = diskDir + "/" + name;
            struct stat st {};
            if (::stat((dir + "/partition").c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            PartitionInfo part;
            part.disk = index;
            part.startSector = readU64Attribute(dir + "/start").value_or(0);
            part.devNumber = readAttribute(dir + "/dev").value_or("");
            part.name = std::move(name);
            partitions.push_back(std::move(part));
        }
    }
    return partitions;
}

std::string resolveDeviceName(const std::string& devRoot, std::string_view source) {
    namespace fs = std::filesystem;
    if (!startsWith(source, "/dev/") || source.size() <= 5) return {};
    const fs::path root = fs::path(devRoot).lexically_normal();
    fs::path path = (root / fs::path(std::string(source.substr(5))).relative_path()).lexically_normal();
    // A handful of hops covers by-uuid/by-id/by-path and mapper links; a loop of
    // links just stops at the last name seen.
    for (int hop = 0; hop < 8; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec)) || ec) break;
        fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        if (target.is_absolute()) {
            // Links written against the real /dev are re-rooted in devRoot.
            auto text = target.string();
            if (startsWith(text, "/dev/"))
                target = root / fs::path(text.substr(5)).relative_path();
            path = target.lexically_normal();
        } else {
            path = (path.parent_path() / target).lexically_normal();
        }
    }
    return path.filename().string();
}

std::vector<VolumeInfo> assignLetters(std::vector<VolumeCandidate> candidates) {
    std::sort(candidates.begin(), candidates.end(), [](const VolumeCandidate& x, const VolumeCandidate& y) {
        return std::tie(x.disk, x.startSector, x.device) < std::tie(y.disk, y.startSector, y.device);
    });
    std::vector<VolumeInfo> volumes;
    for (auto& candidate : candidates) {
        if (!volumes.empty() && volumes.back().device == candidate.device) continue;
        if (volumes.size() == kMaxVolumes) break;
        VolumeInfo volume;
        volume.letter = static_cast<char>(kFirstVolumeLetter + volumes.size());
        volume.device = std::move(candidate.device);
        volume.disk = candidate.disk;
        volume.diskName = std::move(candidate.diskName);
        volume.wholeDisk = candidate.wholeDisk;
        volume.startSector = candidate.wholeDisk ? 0 : candidate.startSector;
        volume.removable = candidate.removable;
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

LinuxDiskTable::LinuxDiskTable(std::string sysRoot, std::string devRoot, std::string mountInfoPath)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)), mountInfoPath_(std::move(mountInfoPath)) {}

void LinuxDiskTable::refreshDisks() {
    auto disks = scanPhysicalDisks(sysRoot_);
    std::lock_guard lock(mutex_);
    disks_ = std::move(disks);
}

void LinuxDiskTable::refresh() {
    auto disks = scanPhysicalDisks(sysRoot_);
    auto partitions = scanPartitions(sysRoot_, disks);
    std::vector<MountEntry> mounts;
    if (auto text = readFile(mountInfoPath_)) mounts = parseMountInfo(*text);
    auto volumes = assignLetters(selectVolumes(mounts, disks, partitions, devRoot_));
    std::lock_guard lock(mutex_);
    disks_ = std::move(disks);
    volumes_ = std::move(volumes);
    volumesLoaded_ = true;
}

void LinuxDiskTable::ensureVolumes() {
    {
        std::lock_guard lock(mutex_);
        if (volumesLoaded_) return;
    }
    refresh();
}

std::vector<PhysicalDisk> LinuxDiskTable::disks() const {
    std::lock_guard lock(mutex_);
    return disks_;
}

std::optional<PhysicalDisk> LinuxDiskTable::disk(std::size_t number) const {
    std::lock_guard lock(mutex_);
    if (number >= disks_.size()) return std::nullopt;
    return disks_[number];
}

std::optional<std::size_t> LinuxDiskTable::diskNumber(std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < disks_.size(); ++i)
        if (disks_[i].name == name) return i;
    return std::nullopt;
}

std::vector<VolumeInfo> LinuxDiskTable::volumes() const {
    std::lock_guard lock(mutex_);
    return volumes_;
}

std::optional<VolumeInfo> LinuxDiskTable::volume(char letter) const {
    std::lock_guard lock(mutex_);
    for (const auto& v : volumes_)
        if (v.letter == letter) return v;
    return std::nullopt;
}

}  // namespace raid::linuxport

#include "platform/linux/LinuxVolumes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <unordered_map>

namespace raid::linuxport {
namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescape(std::string_view field) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xff) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size()) break;
        std::size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

bool parseDevNumber(std::string_view text, unsigned& major, unsigned& minor) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    auto a = text.substr(0, colon), b = text.substr(colon + 1);
    auto [ea, ca] = std::from_chars(a.data(), a.data() + a.size(), major);
    auto [eb, cb] = std::from_chars(b.data(), b.data() + b.size(), minor);
    return ca == std::errc() && cb == std::errc() && ea == a.data() + a.size() && eb == b.data() + b.size() &&
           !a.empty() && !b.empty();
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        auto fields = splitFields(line);
        // id parent major:minor root mount-point options [optional...] - type source super-options
        // The separator is searched after the six fixed fields: a mount point
        // may itself be called "-".
        if (fields.size() < 9) continue;
        auto sep = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
        if (sep == fields.end() || fields.end() - sep < 3) continue;
        MountEntry entry;
        if (!parseDevNumber(fields[2], entry.major, entry.minor)) continue;
        entry.root = unescape(fields[3]);
        entry.mountPoint = unescape(fields[4]);
        entry.fsType = unescape(sep[1]);
        entry.source = unescape(sep[2]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isVirtualFilesystem(std::string_view fsType) {
    static constexpr std::string_view kVirtual[] = {
        "proc",    "sysfs",      "tmpfs",   "devtmpfs", "ramfs",       "devpts",   "overlay",
        "cgroup",  "cgroup2",    "mqueue",  "debugfs",  "tracefs",     "securityfs", "pstore",
        "bpf",     "autofs",     "fusectl", "configfs", "hugetlbfs",   "efivarfs", "binfmt_misc",
        "nsfs",    "rpc_pipefs", "nfsd",    "selinuxfs", "nfs",        "nfs4",     "cifs",
        "smb3",    "9p",         "virtiofs"};
    // Subtypes such as "fuse.sshfs" are network or user-space filesystems.
    if (fsType.substr(0, 5) == "fuse." || fsType == "fuse") return true;
    return std::find(std::begin(kVirtual), std::end(kVirtual), fsType) != std::end(kVirtual);
}

std::vector<VolumeCandidate> selectVolumes(const std::vector<MountEntry>& mounts,
                                           const std::vector<PhysicalDisk>& disks,
                                           const std::vector<PartitionInfo>& partitions,
                                           const std::string& devRoot) {
    std::unordered_map<std::string, VolumeCandidate> byName;
    std::unordered_map<std::string, std::string> nameByDev;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        VolumeCandidate c;
        c.device = disks[i].name;
        c.disk = i;
        c.diskName = disks[i].name;
        c.wholeDisk = true;
        c.removable = disks[i].removable;
        byName.emplace(c.device, c);
        if (!disks[i].devNumber.empty()) nameByDev.emplace(disks[i].devNumber, c.device);
    }
    for (const auto& part : partitions) {
        if (part.disk >= disks.size()) continue;
        VolumeCandidate c;
        c.device = part.name;
        c.disk = part.disk;
        c.diskName = disks[part.disk].name;
        c.startSector = part.startSector;
        c.removable = disks[part.disk].removable;
        byName.emplace(c.device, c);
        if (!part.devNumber.empty()) nameByDev.emplace(part.devNumber, c.device);
    }

    std::vector<VolumeCandidate> found;
    for (const auto& mount : mounts) {
        if (isVirtualFilesystem(mount.fsType)) continue;
        std::string name = resolveDeviceName(devRoot, mount.source);
        if (name.empty()) continue;
        auto it = byName.find(name);
        if (it == byName.end()) {
            auto dev = nameByDev.find(std::to_string(mount.major) + ":" + std::to_string(mount.minor));
            if (dev == nameByDev.end()) continue;
            it = byName.find(dev->second);
            if (it == byName.end()) continue;
        }
        found.push_back(it->second);
    }
    return found;
}

LinuxVolumePort::LinuxVolumePort(std::shared_ptr<LinuxDiskTable> table) : table_(std::move(table)) {}

std::uint32_t LinuxVolumePort::logicalDriveMask() {
    table_->refresh();
    std::uint32_t mask = 0;
    for (const auto& v : table_->volumes()) mask |= 1u << (v.letter - 'A');
    return mask;
}

std::uint8_t LinuxVolumePort::driveType(char letter) {
    table_->ensureVolumes();
    auto v = table_->volume(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    if (!v) return kDriveNoRootDir;
    return v->removable ? kDriveRemovable : kDriveFixed;
}

}  // namespace raid::linuxport

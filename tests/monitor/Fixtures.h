// Byte-built status records and identity pages, an in-memory file store that fails on
// demand, and the pass times the tests use.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/Transport.h"
#include "monitor/TimeFormat.h"
#include "platform/FileStore.h"

namespace raid::testing {

// An absolute path as the system writes it: "/logs" on Linux, "C:\\logs" on Windows.
inline std::string rooted(std::string unixPath) {
#ifdef _WIN32
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "C:" + unixPath;
#else
    return unixPath;
#endif
}

// `name` in `folder` as the program joins them (with "\\" on Windows).
inline std::string joined(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

inline void putAta(Sector& s, std::size_t offset, std::size_t length, std::string_view text) {
    for (std::size_t k = 0; k < length; ++k) s[offset + (k ^ 1u)] = static_cast<std::uint8_t>(k < text.size() ? text[k] : ' ');
}

inline void putLe(Sector& s, std::size_t offset, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) s[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::uint64_t k4Tb = 7814037168ull;  // 3726 GB
constexpr const char* kModel = "WDC WD40EFRX-68N32N0";
constexpr const char* kSerial1 = "WD-WCC7K1AAAAA1";
constexpr const char* kSerial2 = "WD-WCC7K2BBBBB2";

// Kind 0xA0, mirroring, both drives as given by `flags`, speeds drive 1 gen 2, drive 2 gen 3.
inline Sector raidRecord(std::uint8_t flags) {
    Sector s{};
    s[1] = 0xA0;
    s[57] = 1;
    putAta(s, 58, 20, kSerial1);
    putAta(s, 78, 20, kSerial2);
    putLe(s, 98, k4Tb, 5);
    s[104] = flags;
    s[108] = 17;
    s[187] = 'A';
    s[188] = '0';
    s[189] = '1';
    putAta(s, 256, 40, kModel);
    putLe(s, 296, k4Tb, 5);
    putAta(s, 302, 40, kModel);
    putLe(s, 342, k4Tb, 5);
    s[348] = 0xA0;
    s[357] = 0x32;
    return s;
}

// Kinds 0xB0 / 0xC0: the shared positions.
inline Sector hybridRecord(std::uint8_t kind, std::uint8_t flags, std::uint8_t mode = 'd') {
    Sector s{};
    s[1] = kind;
    if (kind == 0xC0) s[55] = mode;
    putAta(s, 56, 20, "SSDSERIAL0001");
    putAta(s, 76, 40, "Samsung SSD 860 EVO 250GB");
    putLe(s, 116, 488397168ull, 5);
    putAta(s, 123, 20, "HDDSERIAL0002");
    putAta(s, 143, 40, kModel);
    putLe(s, 183, k4Tb, 5);
    putLe(s, 197, 488397168ull, 5);
    s[202] = flags;
    putLe(s, 217, 0xFFFFFFFFu, 4);
    s[187] = 'C';
    s[188] = '0';
    s[189] = '3';
    s[263] = 0x21;
    s[357] = 0x33;
    return s;
}

inline Sector identityPage(std::string_view firmware = "101208.0", std::string_view model = "QX DUAL BAY RAID",
                           std::uint8_t productClass = 16) {
    Sector s{};
    putAta(s, 46, 8, firmware);
    putAta(s, 54, 40, model);
    s[260] = productClass;
    return s;
}

// Local wall time as the decoder's clock reports it.
inline double wallAt(int year, int month, int day, int hour, int minute, int second) {
    return localWallSeconds(year, month, day, hour, minute, second).value();
}

// Files in a map. `spaceLeft` models a filling disk: a write that does not fit writes
// what fits and fails, like a real one. Replace goes through a temp file as the real
// store does, so a failed replace never touches the target.
class FakeFileStore final : public FileStore {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> readOnlyFolders;
    std::set<std::string> unreadable;
    std::optional<std::size_t> spaceLeft;
    std::uint64_t bytesWritten = 0;

    bool exists(const std::string& path) override { return files.count(path) != 0; }
    std::optional<std::uint64_t> size(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second.size();
    }
    std::optional<std::string> readAll(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end() || unreadable.count(path)) return std::nullopt;
        return it->second;
    }
    bool append(const std::string& path, std::string_view data) override {
        if (!folderOpen(path)) return false;
        return put(files[path], data);
    }
    bool replace(const std::string& path, std::string_view data) override {
        if (!folderOpen(path)) return false;
        std::string temp;
        if (!put(temp, data)) return false;
        files[path] = std::move(temp);
        return true;
    }
    bool remove(const std::string& path) override {
        if (!folderOpen(path)) return false;
        files.erase(path);
        return true;
    }
    bool folderWritable(const std::string& folder) override {
        return !readOnlyFolders.count(folder) && (!spaceLeft || *spaceLeft > 0);
    }

private:
    bool folderOpen(const std::string& path) const {
        return !readOnlyFolders.count(std::filesystem::path(path).parent_path().string());
    }
    bool put(std::string& target, std::string_view data) {
        const std::size_t fit = spaceLeft ? std::min(*spaceLeft, data.size()) : data.size();
        target.append(data.substr(0, fit));
        bytesWritten += fit;
        if (spaceLeft) *spaceLeft -= fit;
        return fit == data.size();
    }
};

inline std::string crlf(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

}  // namespace raid::testing

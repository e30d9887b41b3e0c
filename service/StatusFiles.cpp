#include "service/StatusFiles.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace raid::service {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kLargestFile = 1 << 20;

bool replaceFile(const fs::path& path, const std::string& text) {
    const fs::path temp = path.string() + ".new";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f || !(f << text) || !f.flush()) return false;
    }
    std::error_code ec;
    // The summary holds nothing secret (no password, no address): readable by every
    // user, whatever the service's umask, so `--status` works without root.
    fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                    ec);
    fs::rename(temp, path, ec);
    return !ec;
}

std::optional<std::string> readSmall(const fs::path& path, double maxAgeSeconds) {
    std::error_code ec;
    // Only a regular file of ours: a FIFO or a device planted there is never opened.
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(st)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kLargestFile) return std::nullopt;
    const auto written = fs::last_write_time(path, ec);
    if (ec) return std::nullopt;
    const double age = std::chrono::duration<double>(fs::file_time_type::clock::now() - written).count();
    if (age > maxAgeSeconds || age < -5) return std::nullopt;
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    if (!f && !f.eof()) return std::nullopt;
    return s.str();
}

}  // namespace

bool writeStatusFiles(const std::string& folder, const StatusSummary& summary) {
    if (folder.empty()) return false;
    // The text first: a reader that finds the new JSON finds its text beside it.
    return replaceFile(fs::path(folder) / "status.txt", statusText(summary)) &&
           replaceFile(fs::path(folder) / "status.json", statusJson(summary));
}

void removeStatusFiles(const std::string& folder) {
    if (folder.empty()) return;
    std::error_code ec;
    fs::remove(fs::path(folder) / "status.json", ec);
    fs::remove(fs::path(folder) / "status.txt", ec);
}

std::optional<SavedStatus> readStatusFiles(const std::string& folder, double maxAgeSeconds) {
    if (folder.empty()) return std::nullopt;
    const auto json = readSmall(fs::path(folder) / "status.json", maxAgeSeconds);
    const auto text = readSmall(fs::path(folder) / "status.txt", maxAgeSeconds);
    if (!json || !text) return std::nullopt;
    // The exit status as the service's summary gave it (our own format: the first
    // "exitCode" of the document).
    const std::string key = "\"exitCode\":";
    const std::size_t at = json->find(key);
    if (at == std::string::npos || at + key.size() >= json->size()) return std::nullopt;
    const char digit = (*json)[at + key.size()];
    if (digit < '0' || digit > '2') return std::nullopt;
    return SavedStatus{*json, *text, digit - '0'};
}

}  // namespace raid::service

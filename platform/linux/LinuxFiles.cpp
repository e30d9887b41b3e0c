#include "platform/linux/LinuxFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace raid::linuxport {

std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    bool ok = true;
    while (text.size() < limit) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    if (text.size() > limit) text.resize(limit);
    return text;
}

std::string_view trim(std::string_view text) {
    const char* ws = " \t\r\n\v\f";
    auto first = text.find_first_not_of(ws);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(ws);
    return text.substr(first, last - first + 1);
}

std::optional<std::string> readAttribute(const std::string& path) {
    auto text = readFile(path, 64 * 1024);
    if (!text) return std::nullopt;
    return std::string(trim(*text));
}

std::optional<std::uint64_t> parseU64(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> readU64Attribute(const std::string& path) {
    auto text = readAttribute(path);
    if (!text) return std::nullopt;
    return parseU64(*text);
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace raid::linuxport

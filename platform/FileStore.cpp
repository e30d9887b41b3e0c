#include "platform/FileStore.h"

#include <filesystem>

namespace raid {

namespace fs = std::filesystem;

BoundedRead FileStore::readBounded(const std::string& path, std::size_t limit) {
    BoundedRead r;
    if (!exists(path)) return r;
    const auto n = size(path);
    if (!n) {
        r.status = ReadStatus::notRegular;
        return r;
    }
    if (*n > limit) {
        r.status = ReadStatus::tooLarge;
        return r;
    }
    auto text = readAll(path);
    if (!text) {
        r.status = ReadStatus::unreadable;
        return r;
    }
    if (text->size() > limit) {
        r.status = ReadStatus::tooLarge;
        return r;
    }
    r.status = ReadStatus::ok;
    r.text = std::move(*text);
    return r;
}

std::string fallbackLogFolder(std::string_view xdgStateHome, std::string_view home) {
    if (!xdgStateHome.empty() && fs::path(xdgStateHome).is_absolute()) {
        return (fs::path(xdgStateHome) / "raid-gui").string();
    }
    if (!home.empty()) return (fs::path(home) / ".local" / "state" / "raid-gui").string();
    return {};
}

}  // namespace raid

#include "platform/FileStore.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/Paths.h"

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

namespace {

class TextReader final : public FileReader {
public:
    explicit TextReader(std::string text) : text_(std::move(text)) {}
    std::uint64_t length() const override { return text_.size(); }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
        if (offset >= text_.size()) return 0;
        const std::size_t at = static_cast<std::size_t>(offset);
        const std::size_t n = std::min(count, text_.size() - at);
        std::memcpy(dest, text_.data() + at, n);
        return n;
    }

private:
    std::string text_;
};

}  // namespace

OpenedFile FileStore::openForRead(const std::string& path, std::size_t limit) {
    BoundedRead whole = readBounded(path, limit);
    OpenedFile f;
    f.status = whole.status;
    if (whole.status == ReadStatus::ok) f.reader = std::make_unique<TextReader>(std::move(whole.text));
    return f;
}

CreateResult FileStore::createNew(const std::string& path, std::string_view data, unsigned) {
    if (exists(path)) return CreateResult::exists;
    return replace(path, data) ? CreateResult::created : CreateResult::failed;
}

// Two separators first start at a root too: a share (\\server\share) or a device
// (\\.\NUL) on Windows, where the standard library of mingw-w64 finds no root in them.
bool isAbsolutePath(std::string_view path) {
    if (path.size() >= 2 && paths::isSeparator(path[0]) && paths::isSeparator(path[1])) return true;
    return !path.empty() && fs::path(path).is_absolute();
}

std::string fallbackLogFolder(std::string_view stateDirectory, std::string_view xdgStateHome, std::string_view home) {
    const std::string_view service = stateDirectory.substr(0, stateDirectory.find(':'));
    if (!service.empty() && fs::path(service).is_absolute()) return fs::path(service).lexically_normal().string();
    if (!xdgStateHome.empty() && fs::path(xdgStateHome).is_absolute()) {
        return paths::join(xdgStateHome, "raid-gui");
    }
    if (!home.empty()) return paths::join(paths::join(paths::join(home, ".local"), "state"), "raid-gui");
    return {};
}

std::optional<std::vector<std::string>> FileStore::listFolder(const std::string&) {
    return std::vector<std::string>{};
}

}  // namespace raid

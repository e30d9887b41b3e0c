#include "platform/Paths.h"

#include <filesystem>

#include "platform/FileStore.h"

namespace raid::paths {

namespace {

std::size_t lastSeparator(std::string_view path) {
    for (std::size_t i = path.size(); i-- > 0;)
        if (isSeparator(path[i])) return i;
    return std::string_view::npos;
}

}  // namespace

char separator() { return static_cast<char>(std::filesystem::path::preferred_separator); }

bool isSeparator(char c) { return c == '/' || c == separator(); }

std::string join(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out(folder);
    if (isSeparator(out.back())) return out.append(name);
    const std::size_t last = lastSeparator(folder);
    out += last == std::string_view::npos ? separator() : folder[last];
    return out.append(name);
}

std::string folderOf(std::string_view path) {
    const std::size_t last = lastSeparator(path);
    return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string fileNameOf(std::string_view path) {
    const std::size_t last = lastSeparator(path);
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string withSeparator(std::string_view folder) {
    if (folder.empty()) return std::string(".") + separator();
    std::string out(folder);
    if (!isSeparator(out.back())) {
        const std::size_t last = lastSeparator(folder);
        out += last == std::string_view::npos ? separator() : folder[last];
    }
    return out;
}

std::string withoutTrailingSeparators(std::string_view folder) {
    // The root's own separator stays: "/" and "C:\" name the root, "" and "C:" do not.
    std::size_t keep = 1;
    if (folder.size() >= 3 && folder[1] == ':' && separator() != '/') keep = 3;
    while (folder.size() > keep && isSeparator(folder.back())) folder.remove_suffix(1);
    return std::string(folder);
}

std::string besideFile(std::string_view file, std::string_view name) {
    if (name.empty() || isAbsolutePath(name)) return std::string(name);
    return join(folderOf(file), name);
}

}  // namespace raid::paths

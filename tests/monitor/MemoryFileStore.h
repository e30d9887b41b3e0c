// An in-memory file store for the day log's tests and fuzz target: files in a map,
// folders that refuse writes (with everything below them), files that cannot be read,
// paths that hold a FIFO or a device, and a disk that fills up.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/FileStore.h"

namespace raid::testing {

class MemoryFileStore final : public FileStore {
public:
    std::map<std::string, std::string> files;
    // Nothing can be written in these folders or below them.
    std::set<std::string> readOnlyTrees;
    std::set<std::string> unreadable;
    // Paths where a FIFO or a device stands: they exist but are never regular files.
    std::set<std::string> special;
    // A write that does not fit writes what fits and fails, like a real disk's.
    std::optional<std::size_t> spaceLeft;
    std::uint64_t bytesWritten = 0;
    int replaces = 0;

    bool exists(const std::string& path) override { return files.count(path) != 0 || special.count(path) != 0; }
    std::optional<std::uint64_t> size(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end() || special.count(path)) return std::nullopt;
        return it->second.size();
    }
    std::optional<std::string> readAll(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end() || unreadable.count(path) || special.count(path)) return std::nullopt;
        return it->second;
    }
    // readBounded: the port's default, built from the three above.
    bool append(const std::string& path, std::string_view data) override {
        if (!writable(parentOf(path)) || special.count(path)) return false;
        return put(files[path], data);
    }
    bool replace(const std::string& path, std::string_view data) override {
        if (!writable(parentOf(path)) || special.count(path)) return false;
        std::string temp;
        if (!put(temp, data)) return false;
        files[path] = std::move(temp);
        ++replaces;
        return true;
    }
    bool remove(const std::string& path) override {
        if (!writable(parentOf(path)) || special.count(path)) return false;
        files.erase(path);
        return true;
    }
    bool folderWritable(const std::string& folder) override {
        return writable(folder) && (!spaceLeft || *spaceLeft > 0);
    }

    static std::string parentOf(const std::string& path) {
        const auto slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

private:
    bool writable(const std::string& folder) const {
        return std::none_of(readOnlyTrees.begin(), readOnlyTrees.end(), [&](const std::string& ro) {
            return folder == ro || (folder.size() > ro.size() && folder.compare(0, ro.size(), ro) == 0 &&
                                    folder[ro.size()] == '/');
        });
    }
    bool put(std::string& target, std::string_view data) {
        const std::size_t fit = spaceLeft ? std::min(*spaceLeft, data.size()) : data.size();
        target.append(data.substr(0, fit));
        bytesWritten += fit;
        if (spaceLeft) *spaceLeft -= fit;
        return fit == data.size();
    }
};

}  // namespace raid::testing

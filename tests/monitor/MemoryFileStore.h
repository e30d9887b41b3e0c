// An in-memory file store for the day log's tests and fuzz target: files in a map,
// folders that refuse writes (with everything below them), files that cannot be read,
// paths that hold a FIFO or a device, a disk that fills up, and bytes that fail to read
// a number of times before they come back (for readers that go piece by piece).
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileStore.h"

namespace raid::testing {

class MemoryFileStore final : public FileStore {
#ifdef _WIN32
    static constexpr bool kBackslashToo = true;  // Windows' own separator
#else
    static constexpr bool kBackslashToo = false;
#endif
public:
    std::map<std::string, std::string> files;
    // Nothing can be written in these folders or below them.
    std::set<std::string> readOnlyTrees;
    std::set<std::string> unreadable;
    // Paths where a FIFO or a device stands: they exist but are never regular files.
    std::set<std::string> special;
    // A write that does not fit writes what fits and fails, like a real disk's.
    std::optional<std::size_t> spaceLeft;
    // path -> byte index -> how many more reads of that byte fail. A piecewise read that
    // runs into such a byte stops short before it and one that starts at it fails; only
    // a read of that byte alone uses up one of its failures.
    std::map<std::string, std::map<std::uint64_t, int>> readFaults;
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
    OpenedFile openForRead(const std::string& path, std::size_t limit) override {
        OpenedFile f = FileStore::openForRead(path, limit);
        const auto faults = readFaults.find(path);
        if (f.reader && faults != readFaults.end())
            f.reader = std::make_unique<FaultyReader>(std::move(f.reader), faults->second);
        return f;
    }
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
    // Folders come with their files here: one can be made wherever files can be written.
    bool makeFolder(const std::string& folder) override { return writable(folder); }
    std::optional<std::vector<std::string>> listFolder(const std::string& folder) override {
        std::string prefix = folder;
        if (!prefix.empty() && prefix.back() != '/') prefix.push_back('/');
        std::vector<std::string> names;
        auto add = [&](const std::string& path) {
            if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return;
            const std::string rest = path.substr(prefix.size());
            if (rest.find('/') == std::string::npos) names.push_back(rest);
        };
        for (const auto& [path, text] : files) add(path);
        for (const auto& path : special) add(path);
        return names;
    }

    static std::string parentOf(const std::string& path) {
#ifdef _WIN32
        const auto slash = path.find_last_of("/\\");
#else
        const auto slash = path.rfind('/');
#endif
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

private:
    class FaultyReader final : public FileReader {
    public:
        FaultyReader(std::unique_ptr<FileReader> inner, std::map<std::uint64_t, int>& faults)
            : inner_(std::move(inner)), faults_(faults) {}
        std::uint64_t length() const override { return inner_->length(); }
        std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
            for (auto& [at, left] : faults_) {
                if (left <= 0 || at < offset || at - offset >= count) continue;
                if (at == offset) {
                    if (count == 1) --left;
                    return std::nullopt;
                }
                count = static_cast<std::size_t>(at - offset);
                break;
            }
            return inner_->readAt(offset, dest, count);
        }

    private:
        std::unique_ptr<FileReader> inner_;
        std::map<std::uint64_t, int>& faults_;
    };

    bool writable(const std::string& folder) const {
        return std::none_of(readOnlyTrees.begin(), readOnlyTrees.end(), [&](const std::string& ro) {
            return folder == ro || (folder.size() > ro.size() && folder.compare(0, ro.size(), ro) == 0 &&
                                    (folder[ro.size()] == '/' || (kBackslashToo && folder[ro.size()] == '\\')));
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

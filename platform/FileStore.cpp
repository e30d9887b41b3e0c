#include "platform/FileStore.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace raid {
namespace {

namespace fs = std::filesystem;

void makeParent(const fs::path& p) {
    std::error_code ec;
    if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
}

bool writeWhole(const fs::path& p, std::string_view data, std::ios::openmode mode) {
    std::ofstream out(p, std::ios::binary | mode);
    if (!out) return false;
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.flush();
    const bool ok = static_cast<bool>(out);
    out.close();
    return ok && !out.fail();
}

class StdFileStore final : public FileStore {
public:
    bool exists(const std::string& path) override {
        std::error_code ec;
        return fs::exists(fs::path(path), ec);
    }

    std::optional<std::uint64_t> size(const std::string& path) override {
        std::error_code ec;
        const fs::path p(path);
        if (!fs::is_regular_file(p, ec)) return std::nullopt;
        const auto n = fs::file_size(p, ec);
        if (ec) return std::nullopt;
        return static_cast<std::uint64_t>(n);
    }

    std::optional<std::string> readAll(const std::string& path) override {
        std::ifstream in(fs::path(path), std::ios::binary);
        if (!in) return std::nullopt;
        std::string text;
        char buffer[16384];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            text.append(buffer, static_cast<std::size_t>(in.gcount()));
        }
        if (in.bad()) return std::nullopt;
        return text;
    }

    bool append(const std::string& path, std::string_view data) override {
        const fs::path p(path);
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        if (ec && st.type() != fs::file_type::not_found) return false;
        const bool existed = fs::is_regular_file(st);
        std::uintmax_t before = 0;
        if (existed) {
            before = fs::file_size(p, ec);
            if (ec) return false;
        }
        if (!existed) makeParent(p);
        if (writeWhole(p, data, std::ios::app)) return true;
        // A full disk can leave part of the data behind. Cut it off again so the file
        // keeps exactly what it held: the next save can then still just append.
        if (existed) {
            fs::resize_file(p, before, ec);
        } else {
            fs::remove(p, ec);
        }
        return false;
    }

    bool replace(const std::string& path, std::string_view data) override {
        const fs::path p(path);
        makeParent(p);
        fs::path temp = p;
        temp += ".tmp";
        std::error_code ec;
        if (!writeWhole(temp, data, std::ios::trunc)) {
            fs::remove(temp, ec);
            return false;
        }
        fs::rename(temp, p, ec);
        if (ec) {
            fs::remove(temp, ec);
            return false;
        }
        return true;
    }

    bool folderWritable(const std::string& folder) override {
        std::error_code ec;
        const fs::path dir(folder);
        if (!fs::is_directory(dir, ec)) return false;
        // Permission bits say little (ACLs, read-only mounts, a full disk's reserve):
        // creating a file is the only question that gets a true answer.
        const fs::path probe = dir / ".raid-gui-write-probe.tmp";
        bool ok = false;
        {
            std::ofstream out(probe, std::ios::binary | std::ios::trunc);
            ok = static_cast<bool>(out);
        }
        fs::remove(probe, ec);
        return ok;
    }
};

}  // namespace

std::unique_ptr<FileStore> makeStdFileStore() { return std::make_unique<StdFileStore>(); }

std::string fallbackLogFolder(std::string_view xdgStateHome, std::string_view home) {
    if (!xdgStateHome.empty() && fs::path(xdgStateHome).is_absolute()) {
        return (fs::path(xdgStateHome) / "raid-gui").string();
    }
    if (!home.empty()) return (fs::path(home) / ".local" / "state" / "raid-gui").string();
    return {};
}

}  // namespace raid

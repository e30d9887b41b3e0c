// Placeholders until the Windows system ports land.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <windows.h>

#include "platform/FileStore.h"
#include "platform/win32/WinPlatform.h"

namespace fs = std::filesystem;

namespace raid {

namespace {

class NoLock final : public InstanceLock {
public:
    bool acquire(const std::string&) override { return true; }
    void release() override {}
};

class NoHost final : public HostInfoPort {
public:
    std::string query(const std::string&, const std::string&) override { return {}; }
};

class NoDriveLocks final : public DriveLockPort {
public:
    DriveLockResult take(int) override { return {DriveLockState::Unavailable, "no drive locks on this build", {}}; }
    void release(int) override {}
    void releaseAll() override {}
    bool held(int) const override { return false; }
};

class PlainFiles final : public FileStore {
public:
    bool exists(const std::string& path) override {
        std::error_code ec;
        return fs::exists(path, ec);
    }
    std::optional<std::uint64_t> size(const std::string& path) override {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) return std::nullopt;
        const auto n = fs::file_size(path, ec);
        if (ec) return std::nullopt;
        return n;
    }
    std::optional<std::string> readAll(const std::string& path) override {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) return std::nullopt;
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool append(const std::string& path, std::string_view data) override {
        std::error_code ec;
        const fs::path p(path);
        if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        return static_cast<bool>(out.flush());
    }
    bool replace(const std::string& path, std::string_view data) override {
        std::error_code ec;
        const fs::path p(path);
        if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
        const std::string temp = path + ".new";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out.write(data.data(), static_cast<std::streamsize>(data.size()));
            if (!out.flush()) return false;
        }
        return MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    bool remove(const std::string& path) override {
        std::error_code ec;
        fs::remove(path, ec);
        return !ec;
    }
    bool folderWritable(const std::string& folder) override {
        std::error_code ec;
        return fs::is_directory(folder, ec);
    }
    bool makeFolder(const std::string& folder) override {
        std::error_code ec;
        fs::create_directories(folder, ec);
        return fs::is_directory(folder, ec);
    }
};

}  // namespace

std::unique_ptr<FileStore> makeStdFileStore() { return std::make_unique<PlainFiles>(); }

LogFolders defaultLogFolders(const char*) {
    LogFolders folders;
    folders.log = win32::programFolder();
    const char* local = std::getenv("LOCALAPPDATA");
    if (local && *local) folders.fallback = std::string(local) + "\\raid-gui";
    return folders;
}

std::unique_ptr<DriveLockPort> makeNamedDriveLocks(std::string, std::function<std::optional<std::string>(int)>) {
    return std::make_unique<NoDriveLocks>();
}

std::unique_ptr<EndWatch> watchEndSignals(std::function<void(EndSignal)>) { return nullptr; }

namespace win32 {

std::unique_ptr<InstanceLock> makeInstanceLock() { return std::make_unique<NoLock>(); }
std::unique_ptr<HostInfoPort> makeHostInfo() { return std::make_unique<NoHost>(); }
std::unique_ptr<RandomPort> makeRandom() { return std::make_unique<XorShiftRandom>(GetTickCount()); }
std::unique_ptr<DriveLockPort> makeDriveLocks() { return std::make_unique<NoDriveLocks>(); }
std::unique_ptr<SettingsPort> makeRegistrySettings() { return std::make_unique<MemorySettings>(); }
std::unique_ptr<SettingsPort> makeSettingsFile(const std::string&) { return std::make_unique<MemorySettings>(); }

std::string programFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    const std::size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".\\") : p.substr(0, cut + 1);
}

}  // namespace win32

}  // namespace raid

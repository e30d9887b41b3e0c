#include "platform/win32/WinSettingsFile.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/FileStore.h"
#include "platform/Fnv1a.h"
#include "platform/RegistryTextFile.h"
#include "platform/win32/WinFileStore.h"
#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {

std::string lowerName(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class SettingsFile final : public RegistryTextFile {
public:
    explicit SettingsFile(std::string path) : RegistryTextFile(nativePath(path)) {}

private:
    std::shared_ptr<void> lockForSave() override {
        return std::make_shared<MachineLock>("settings file " + lowerName(path()));
    }

    std::string store(const std::string& text) override {
        const std::size_t cut = path().find_last_of('\\');
        if (cut != std::string::npos && cut > 0 && !makeFolders(path().substr(0, cut)))
            return path() + ": its folder cannot be made; nothing was saved";
        return replaceFile(path(), text, true);
    }
};

// FNV-1a: a kernel object's name has no room for a whole path, nor any '\'.
std::string objectName(const std::string& what) {
    // FNV's own offset basis here: these names were always made with it.
    const std::uint64_t h = fnv1a(what, 14695981039346656037ull);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return std::string("Global\\raid-gui-lock-") + hex;
}

}  // namespace

MachineLock::MachineLock(const std::string& what) {
    HANDLE m = ::CreateMutexA(nullptr, FALSE, objectName(what).c_str());
    if (!m) return;
    mutex_ = m;
    const DWORD w = ::WaitForSingleObject(m, 5000);
    // An owner that died mid-save left the file whole (the move is atomic): take it.
    owned_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
}

MachineLock::~MachineLock() {
    if (owned_) ::ReleaseMutex(static_cast<HANDLE>(mutex_));
    if (mutex_) ::CloseHandle(static_cast<HANDLE>(mutex_));
}

std::unique_ptr<SettingsPort> makeSettingsFile(const std::string& path) { return std::make_unique<SettingsFile>(path); }

}  // namespace raid::win32

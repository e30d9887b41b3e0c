#include "platform/win32/WinPlatform.h"

#include <cstdlib>

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace raid {

std::unique_ptr<Platform> makePlatform() {
    auto platform = std::make_unique<Platform>();
    platform->storage = win32::makeStorage();
    platform->volumes = win32::makeVolumes();
    platform->deviceChange = win32::makeDeviceChange();
    platform->instanceLock = win32::makeInstanceLock();
    platform->hostInfo = win32::makeHostInfo();
    platform->random = win32::makeRandom();
    platform->tcp = win32::makeTcpPort();
    platform->driveLocks = win32::makeDriveLocks();
    return platform;
}

std::unique_ptr<TcpPort> makeTcpPort() { return win32::makeTcpPort(); }
std::unique_ptr<HostInfoPort> makeHostInfo() { return win32::makeHostInfo(); }
std::unique_ptr<InstanceLock> makeInstanceLock() { return win32::makeInstanceLock(); }

// No lock folder on Windows: the locks are named kernel objects, and no service leaves
// a summary beside them.
std::string machineLockFolder() { return {}; }

// Pass-through needs an elevated program; raid-gui.exe asks for it in its manifest, the
// console monitor runs with what its console has.
std::string driveAccessAdvice() { return "run it as administrator"; }

std::string machineLogFolder() { return win32::programFolder(); }

std::string machineSettingsName() { return win32::kRegistrySettingsName; }

std::unique_ptr<SettingsPort> openSettings(const std::string& where) {
    if (where == win32::kRegistrySettingsName) return win32::makeRegistrySettings();
    return win32::makeSettingsFile(where);
}

// The alert texts lie beside the program for the registry, beside the file otherwise.
std::string settingsTextFolder(const std::string& where) {
    if (where == win32::kRegistrySettingsName) return win32::programFolder();
    const std::size_t cut = where.find_last_of("\\/");
    return cut == std::string::npos ? ".\\" : where.substr(0, cut + 1);
}

std::string userSettingsFile(const std::string& program) {
    const char* appData = std::getenv("APPDATA");
    if (!appData || !*appData) return {};
    return std::string(appData) + "\\" + program + "\\settings.reg";
}

std::vector<std::string> programArguments(int argc, char** argv) {
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string a(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, a.data(), bytes, nullptr, nullptr);
        a.resize(a.size() - 1);  // the terminating zero
        args.push_back(a);
    }
    LocalFree(wide);
    return args;
}

}  // namespace raid

// What tests need from the system that Linux and Windows spell differently: a fresh
// folder of the test's own, the environment, and a path as UTF-8 text.
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace raid::test {

// A path as the UTF-8 text the programs under test take (on Windows a path's own
// characters are wide).
inline std::string pathText(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// A new empty folder under the system's temporary folder, created by this call only.
inline std::string makeTempDir() {
#ifdef _WIN32
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring name = std::wstring(base) + L"raidgui-test-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(name.c_str(), nullptr)) return pathText(std::filesystem::path(name));
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary folder");
#else
    char pattern[] = "/tmp/raidgui-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("cannot create a temporary folder");
    return pattern;
#endif
}

// Sets (or with an empty value on Windows, removes) an environment variable of this
// process.
inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

// Makes the C library read TZ again.
inline void readTimeZone() {
#ifdef _WIN32
    ::_tzset();
#else
    ::tzset();
#endif
}

// Time zones as the C library reads them from TZ. Windows' runtime knows only
// "NAME offset [SUMMER NAME]" with the United States' summer rule, so a summer time
// there is told by a day well inside both rules (late June), never near a change.
#ifdef _WIN32
inline constexpr const char* kCentralEuropeTz = "CET-1CEST";
#else
inline constexpr const char* kCentralEuropeTz = "CET-1CEST,M3.5.0,M10.5.0/3";
#endif
inline constexpr const char* kUtcTz = "UTC0";

// A pipe nobody ever writes to where a file is expected: a FIFO `name` in `dir` on
// Linux; on Windows, where a folder holds no pipe, a named pipe \\.\pipe\... kept open
// until this ends. `path` is empty when it could not be made.
class PlantedPipe {
public:
    PlantedPipe(const std::string& dir, const std::string& name) {
#ifdef _WIN32
        (void)dir;
        const std::string full = "\\\\.\\pipe\\raidgui-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount64()) + "-" + name;
        pipe_ = CreateNamedPipeA(full.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                 PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        if (pipe_ != INVALID_HANDLE_VALUE) path = full;
#else
        const std::string full = dir + "/" + name;
        if (::mkfifo(full.c_str(), 0600) == 0) path = full;
#endif
    }
    ~PlantedPipe() {
#ifdef _WIN32
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
#endif
    }
    PlantedPipe(const PlantedPipe&) = delete;
    PlantedPipe& operator=(const PlantedPipe&) = delete;
    std::string path;

private:
#ifdef _WIN32
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
#endif
};

// A device that reads as endless zeros on Linux; on Windows the null device.
#ifdef _WIN32
inline constexpr const char* kEndlessDevice = "\\\\.\\NUL";
#else
inline constexpr const char* kEndlessDevice = "/dev/zero";
#endif

// A test that can pass on Windows only once the named Windows port (a placeholder in
// platform/win32/WinStubs*.cpp) is real.
#ifdef _WIN32
#define RAID_NEEDS_WINDOWS_PORT(port) GTEST_SKIP() << "needs the Windows " port " port, a placeholder yet"
#else
#define RAID_NEEDS_WINDOWS_PORT(port) static_cast<void>(0)
#endif

// The current user is the system's administrator (root on Linux); some refusals only
// show for a user who could otherwise write anywhere.
inline bool isRoot() {
#ifdef _WIN32
    return false;
#else
    return ::geteuid() == 0;
#endif
}

}  // namespace raid::test

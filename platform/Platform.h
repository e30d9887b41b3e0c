// The platform the program runs on, made by one factory: the Linux ports on Linux, the
// Windows ports on Windows (the build picks platform/linux or platform/win32). No
// program entry names either folder; everything a `main` needs of the system is here.
#pragma once

#include <functional>
#include <vector>
#include <memory>
#include <optional>
#include <string>

#include "platform/DeviceChangePort.h"
#include "platform/DriveLockPort.h"
#include "platform/HostInfo.h"
#include "platform/InstanceLock.h"
#include "platform/Random.h"
#include "platform/SettingsPort.h"
#include "platform/StoragePort.h"
#include "platform/TcpPort.h"
#include "platform/VolumePort.h"

namespace raid {

struct Platform {
    virtual ~Platform() = default;
    std::unique_ptr<StoragePort> storage;
    std::unique_ptr<VolumePort> volumes;
    std::unique_ptr<DeviceChangePort> deviceChange;
    std::unique_ptr<InstanceLock> instanceLock;
    std::unique_ptr<HostInfoPort> hostInfo;
    std::unique_ptr<RandomPort> random;
    std::unique_ptr<TcpPort> tcp;
    // One lock per disk, shared by every RAID GUI program on the machine.
    std::unique_ptr<DriveLockPort> driveLocks;
    // Physical drive n as people know it ("/dev/sdb" on Linux, "PhysicalDrive1" on
    // Windows).
    virtual std::string driveName(int n) const { return "PhysicalDrive" + std::to_string(n); }
};

// The real platform of the machine the program runs on.
std::unique_ptr<Platform> makePlatform();

// Single ports, for programs that need only one of them (the simulator, the window).
std::unique_ptr<TcpPort> makeTcpPort();
std::unique_ptr<HostInfoPort> makeHostInfo();
std::unique_ptr<InstanceLock> makeInstanceLock();

// Drive locks named by the caller's own idea of a drive's id (the simulated enclosures
// use their drive number), kept in `folder` on Linux and under names of their own on
// Windows; idOf gives nullopt for no such drive.
std::unique_ptr<DriveLockPort> makeNamedDriveLocks(std::string folder,
                                                   std::function<std::optional<std::string>(int)> idOf);

// The folder the programs share their drive locks and the service's last summary in
// ("" where there is none).
std::string machineLockFolder();

// What a user with no access to the drives is told to do, in this system's terms.
std::string driveAccessAdvice();

// Where the monitor keeps its day logs unless told otherwise: /var/log/raid-gui on Linux,
// the program's own folder on Windows (as the window does there).
std::string machineLogFolder();

// The settings store at `where`: the machine's own store when `where` is
// machineSettingsName() (the registry key on Windows, /etc/qx-raid-gui/settings.reg on
// Linux), otherwise a file in the text form of a registry export.
std::unique_ptr<SettingsPort> openSettings(const std::string& where);
std::string machineSettingsName();
// The folder the alert text files of the store at `where` are looked for in.
std::string settingsTextFolder(const std::string& where);
// A settings file of the user's own for `program` (the simulator's), "" when none can be
// named: $XDG_CONFIG_HOME/program/settings.reg on Linux, %APPDATA%\program\settings.reg
// on Windows.
std::string userSettingsFile(const std::string& program);

// What ends or refreshes a program without a window: SIGTERM/SIGINT (end) and SIGHUP
// (reload) on Linux; Ctrl-C, closing the console, log-off and shutdown (end) on Windows.
enum class EndSignal { end, reload };
class EndWatch {
public:
    virtual ~EndWatch() = default;
};
// Calls `onSignal` on a thread of the watch's own until the watch is destroyed. Call it
// before any other thread starts. Null when it cannot be set up.
std::unique_ptr<EndWatch> watchEndSignals(std::function<void(EndSignal)> onSignal);

// The program's arguments as UTF-8, its name first: argv itself on Linux; on Windows
// the wide command line (argv there is in the ANSI code page, which loses what it
// cannot spell: a non-ASCII password or path would arrive as question marks).
std::vector<std::string> programArguments(int argc, char** argv);

// Runs `main` with programArguments() in place of argc and argv.
template <class Main>
int withProgramArguments(int argc, char** argv, Main main) {
    std::vector<std::string> args = programArguments(argc, argv);
    std::vector<char*> pointers;
    for (auto& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return main(static_cast<int>(args.size()), pointers.data());
}

}  // namespace raid

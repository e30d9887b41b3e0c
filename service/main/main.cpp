// raid-gui-monitor: the engine on the real drives, without a window (see service/Monitor.h).
#include <iostream>
#include <string>
#include <vector>

#include "platform/FileStore.h"
#include "platform/linux/LinuxDriveLocks.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxSettingsFile.h"
#include "service/MonitorMain.h"

namespace {

class RealMachine final : public raid::service::MonitorMachine {
public:
    RealMachine() : platform_(raid::linuxport::makeLinuxPlatform()) {}

    std::unique_ptr<raid::MainForm> makeForm(raid::Scheduler& scheduler, raid::Controls& controls,
                                             raid::DialogPort& dialogs, const raid::service::MonitorOptions& options,
                                             std::string&) override {
        const std::string path = options.settingsPath.empty() ? defaultSettingsPath() : options.settingsPath;
        settings_ = raid::makeSettingsFile(path);
        raid::Ports ports{scheduler, *platform_->storage, *platform_->volumes, dialogs, nullptr, nullptr, nullptr, {}, {}};
        ports.deviceChanges = platform_->deviceChange.get();
        ports.hostInfo = platform_->hostInfo.get();
        ports.logFolder = options.logDir;
        // A log folder that cannot be written (no rights, a full disk) sends the day
        // logs to the user's state folder, as in the window.
        ports.fallbackLogFolder = raid::defaultLogFolders(nullptr).fallback;
        ports.random = platform_->random.get();
        ports.settings = settings_.get();
        ports.tcp = platform_->tcp.get();
        // One talker per enclosure: the window in any session and this service share
        // the locks under /run/raid-gui.
        ports.locks = platform_->driveLocks.get();
        ports.settingsFolder = path.substr(0, path.rfind('/') + 1);
        if (ports.settingsFolder.empty()) ports.settingsFolder = "./";
        return std::make_unique<raid::MainForm>(ports, controls);
    }

    std::string driveName(int n) const override {
        const auto disk = platform_->disks->disk(static_cast<std::size_t>(n));
        return disk ? "/dev/" + disk->name : "PhysicalDrive" + std::to_string(n);
    }
    std::string defaultSettingsPath() const override { return raid::kSystemSettingsPath; }
    raid::TcpPort* tcp() override { return platform_->tcp.get(); }
    raid::HostInfoPort* hostInfo() override { return platform_->hostInfo.get(); }
    std::string statusFolder() const override { return raid::linuxport::kDefaultLockFolder; }
    bool publishesOnSystemBus() const override { return true; }

private:
    std::unique_ptr<raid::linuxport::LinuxPlatform> platform_;
    std::unique_ptr<raid::SettingsPort> settings_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return raid::service::monitorMain("raid-gui-monitor", args, [] { return std::make_unique<RealMachine>(); });
}

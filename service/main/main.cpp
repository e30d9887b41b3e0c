// raid-gui-monitor: the engine on the real drives, without a window (see service/Monitor.h).
#include <iostream>
#include <string>
#include <vector>

#include "platform/FileStore.h"
#include "platform/Platform.h"
#include "service/MetricsSetting.h"
#include "service/MonitorMain.h"

namespace {

class RealMachine final : public raid::service::MonitorMachine {
public:
    RealMachine() : platform_(raid::makePlatform()) {}

    std::unique_ptr<raid::MainForm> makeForm(raid::Scheduler& scheduler, raid::Controls& controls,
                                             raid::DialogPort& dialogs, const raid::service::MonitorOptions& options,
                                             std::string&) override {
        const std::string path = options.settingsPath.empty() ? defaultSettingsPath() : options.settingsPath;
        settings_ = raid::openSettings(path);
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
        // the machine's drive locks.
        ports.locks = platform_->driveLocks.get();
        ports.settingsFolder = raid::settingsTextFolder(path);
        return std::make_unique<raid::MainForm>(ports, controls);
    }

    std::string driveName(int n) const override { return platform_->driveName(n); }
    std::string defaultSettingsPath() const override { return raid::machineSettingsName(); }
    raid::TcpPort* tcp() override { return platform_->tcp.get(); }
    raid::HostInfoPort* hostInfo() override { return platform_->hostInfo.get(); }
    std::string statusFolder() const override { return raid::machineLockFolder(); }
    bool publishesOnSystemBus() const override { return RAID_HAVE_BUS != 0; }
#ifndef _WIN32
    // Debian's node exporter reads *.prom files there; a missing folder is said once.
    std::string defaultMetricsFolder() const override { return raid::service::kNodeExporterFolder; }
#endif

private:
    std::unique_ptr<raid::Platform> platform_;
    std::unique_ptr<raid::SettingsPort> settings_;
};

}  // namespace

namespace {
int programMain(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return raid::service::monitorMain("raid-gui-monitor", args, [] { return std::make_unique<RealMachine>(); });
}
}  // namespace

int main(int argc, char** argv) { return raid::withProgramArguments(argc, argv, programMain); }

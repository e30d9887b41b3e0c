// raid-gui.exe: the window on the real drives of this PC (Windows). The engine runs in
// this process beside the window, on the Windows ports: pass-through needs the
// administrator rights the manifest asks for. Day logs go beside the program, the
// settings into the registry key, as they always have.
#include <memory>
#include <string>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui-win32/WinApp.h"
#include "platform/FileStore.h"
#include "platform/Platform.h"

namespace {
int programMain(int argc, char** argv) {
    (void)argc;
    const std::unique_ptr<raid::Platform> platform = raid::makePlatform();
    // One instance per desktop session: a second start ends at once, without a window
    // and without disturbing the running one.
    if (!platform->instanceLock || !platform->instanceLock->acquire("QX_GUI")) return 0;
    const std::string settingsWhere = raid::machineSettingsName();
    const std::unique_ptr<raid::SettingsPort> settings = raid::openSettings(settingsWhere);
    const raid::LogFolders folders = raid::defaultLogFolders(argc > 0 ? argv[0] : nullptr);
    int rc = 0;
    {
        raid::EngineHost host(raid::makeRealScheduler(), [&](raid::Scheduler& scheduler, raid::Controls& controls,
                                                             raid::DialogPort& dialogs) {
            raid::Ports ports{scheduler, *platform->storage, *platform->volumes, dialogs, nullptr, nullptr, nullptr, {}, {}};
            ports.deviceChanges = platform->deviceChange.get();
            ports.hostInfo = platform->hostInfo.get();
            ports.logFolder = folders.log;
            ports.fallbackLogFolder = folders.fallback;
            ports.random = platform->random.get();
            ports.settings = settings.get();
            ports.tcp = platform->tcp.get();
            ports.locks = platform->driveLocks.get();
            ports.settingsFolder = raid::settingsTextFolder(settingsWhere);
            return std::make_unique<raid::MainForm>(ports, controls);
        });
        rc = raid::win::runWindow(host);
        host.stop();
    }
    platform->instanceLock->release();
    return rc;
}
}  // namespace

int main(int argc, char** argv) { return raid::withProgramArguments(argc, argv, programMain); }

// raid-gui: the program on real drives, with its window.
#include <iostream>
#include <memory>
#include <string>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui/GuiApp.h"
#include "platform/FileStore.h"
#include "platform/InstanceLock.h"
#include "platform/Scheduler.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxSettingsFile.h"

int main(int argc, char** argv) {
    std::unique_ptr<raid::linuxport::LinuxPlatform> platform = raid::linuxport::makeLinuxPlatform();
    // One instance per desktop session: a second start ends at once, without a window
    // and without disturbing the running one.
    if (!platform->instanceLock || !platform->instanceLock->acquire("QX_GUI")) return 0;

    // The day logs go beside the executable, where users of the program look for them;
    // when that folder is read-only (an installed program) they go to the user's state
    // folder instead.
    const raid::LogFolders logFolders = raid::defaultLogFolders(argc > 0 ? argv[0] : nullptr);

    // The mail settings are the machine's: one file for every user, as the registry key
    // under HKEY_LOCAL_MACHINE is on Windows. `--settings FILE` names another.
    std::string settingsPath = raid::kSystemSettingsPath;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--settings") settingsPath = argv[i + 1];
    const std::unique_ptr<raid::SettingsPort> settings = raid::makeSettingsFile(settingsPath);
    const std::string settingsFolder = settingsPath.substr(0, settingsPath.rfind('/') + 1);

    int rc = 0;
    {
        raid::EngineHost host(raid::makeRealScheduler(), [&](raid::Scheduler& scheduler, raid::Controls& controls,
                                                             raid::DialogPort& dialogs) {
            return std::make_unique<raid::MainForm>(raid::Ports{.scheduler = scheduler,
                                                                .storage = *platform->storage,
                                                                .volumes = *platform->volumes,
                                                                .dialogs = dialogs,
                                                                .deviceChanges = platform->deviceChange.get(),
                                                                .hostInfo = platform->hostInfo.get(),
                                                                .files = nullptr,
                                                                .logFolder = logFolders.log,
                                                                .fallbackLogFolder = logFolders.fallback,
                                                                .random = platform->random.get(),
                                                                .settings = settings.get(),
                                                                .tcp = platform->tcp.get(),
                                                                .settingsFolder = settingsFolder.empty() ? "./" : settingsFolder,
                                                                .locks = platform->driveLocks.get()},
                                                    controls);
        });
        rc = raid::gui::runWindow(argc, argv, host);
        // The engine uses the platform's ports until it has stopped.
        host.stop();
        if (!host.eventLogLoss().empty()) {
            std::cerr << "raid-gui: " << host.eventLogLoss() << '\n';
            rc = 2;
        }
    }
    platform->instanceLock->release();
    return rc;
}

// raid-gui: the window on Linux, a client of the raid-gui-monitor service.
//
// The service is the one program on the machine that talks to the enclosures; this
// window runs as the user, with no privilege, and shows what the service publishes on
// the system bus. It opens no drive, takes no drive lock, reads no settings file,
// writes no day log and mails nothing.
//
//   raid-gui [--bus ADDRESS] [--lines]
//     --bus ADDRESS  find the service on that bus instead of the system bus
//     --lines        also print what the window shows, one line per change, as
//                    raid-gui-sim --headless does (support, tests)
#include <iostream>
#include <memory>
#include <string>

#include "app/EngineHost.h"
#include "app/HeadlessOutput.h"
#include "app/MainForm.h"
#include "app/ServiceFeed.h"
#include "gui/GuiApp.h"
#include "gui/ServiceClient.h"
#include "platform/InstanceLock.h"
#include "platform/Scheduler.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    std::string busAddress;
    bool lines = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--bus" && i + 1 < argc)
            busAddress = argv[++i];
        else if (a == "--lines")
            lines = true;
    }
    // One instance per desktop session: a second start ends at once, without a window
    // and without disturbing the running one.
    const std::unique_ptr<raid::InstanceLock> instance = raid::makeInstanceLock();
    if (!instance || !instance->acquire("QX_GUI")) return 0;
    const std::unique_ptr<raid::HostInfoPort> hostInfo = raid::makeHostInfo();

    raid::NoDevices noDevices;
    raid::gui::ServiceLink link;
    int rc = 0;
    {
        raid::EngineHost host(raid::makeRealScheduler(), [&](raid::Scheduler& scheduler, raid::Controls& controls,
                                                             raid::DialogPort& dialogs) {
            return std::make_unique<raid::MainForm>(raid::Ports{.scheduler = scheduler,
                                                                .storage = noDevices,
                                                                .volumes = noDevices,
                                                                .dialogs = dialogs,
                                                                .hostInfo = hostInfo.get(),
                                                                .logFolder = {},
                                                                .fallbackLogFolder = {},
                                                                .service = &link},
                                                    controls);
        });
        std::unique_ptr<raid::HeadlessOutput> printer;
        if (lines) {
            printer = std::make_unique<raid::HeadlessOutput>(host.scheduler(), &std::cout, nullptr, false);
            printer->watchControls(host.controls());
        }
        rc = raid::gui::runWindow(argc, argv, host,
                                  raid::gui::ServiceOptions{.link = &link, .busAddress = QString::fromStdString(busAddress)});
        host.stop();
    }
    instance->release();
    return rc;
}

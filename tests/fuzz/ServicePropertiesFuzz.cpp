// A client window's view of the service's enclosure objects: properties of any name,
// type and size are checked, and whatever passes is published and drawn by a client
// form (device tables, identity pages, the Status page) without reading outside a
// table or a page.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "app/MainForm.h"
#include "app/ServiceFeed.h"
#include "support/QuietDialogs.h"

namespace {

// Calls to the service are never answered here.
struct NoService final : raid::ServicePort {
    void getMailSettings(raid::ServiceMailDone) override {}
    void saveMailSettings(const raid::SettingsEdits&, bool, raid::ServiceMailDone) override {}
    void sendTestMail(raid::ServiceMailDone) override {}
    void watchDayLog(raid::ServiceDayLogDone) override {}
    void unwatchDayLog() override {}
    void getDayLog(raid::ServiceDayLogDone) override {}
    void getOlderDayLog(const std::string&, raid::ServiceDayLogDone) override {}
    void startUpgrade(const std::string&, int, raid::ServiceUpgradeDone) override {}
};

struct Client {
    std::unique_ptr<raid::Scheduler> scheduler = raid::makeVirtualScheduler(1796601600.0);
    raid::Controls controls;
    raid::test::QuietDialogs dialogs;
    raid::NoDevices none;
    NoService service;
    std::unique_ptr<raid::MainForm> form;
    Client() {
        scheduler->adoptCurrentThread();
        form = std::make_unique<raid::MainForm>(raid::Ports{.scheduler = *scheduler,
                                                            .storage = none,
                                                            .volumes = none,
                                                            .dialogs = dialogs,
                                                            .logFolder = {},
                                                            .fallbackLogFolder = {},
                                                            .service = &service},
                                                controls);
        form->FormCreate();
    }
};

const char* const kNames[] = {"Device", "Slot", "Poll", "Source", "Volumes", "Access", "StatusRecord", "IdentityPage",
                              // an upgrade job's
                              "Enclosure", "Running", "Title", "PanelText", "ProgressValue", "ProgressMaximum",
                              "Succeeded", "Outcome"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Client client;
    std::vector<raid::ServiceEnclosure> list;
    raid::BusProperties props;
    std::size_t at = 0;
    unsigned poll = 0;
    // Each property: name, type, length (two bytes), bytes. A name byte of 0xFF ends an
    // object, so one input can list several.
    while (at + 4 <= size) {
        const std::uint8_t n = data[at], type = data[at + 1];
        const std::size_t len = std::min<std::size_t>(static_cast<std::size_t>(data[at + 2] | (data[at + 3] << 8)), size - at - 4);
        const std::uint8_t* bytes = data + at + 4;
        at += 4 + len;
        if (n == 0xFF) {
            if (auto e = raid::enclosureFromProperties("/o/" + std::to_string(list.size()), props)) list.push_back(*e);
            props.clear();
            continue;
        }
        raid::BusValue value;
        std::int64_t number = 0;
        for (std::size_t i = 0; i < len && i < 8; ++i) number = (number << 8) | bytes[i];
        switch (type % 5) {
            case 0: value = number; break;
            case 1: value = std::string(reinterpret_cast<const char*>(bytes), len); break;
            case 2: value = std::vector<std::uint8_t>(bytes, bytes + len); break;
            case 3: value = (number & 1) != 0; break;
            default: {
                // A page of 512 bytes, repeating what the input gives.
                std::vector<std::uint8_t> page(512, 0);
                for (std::size_t i = 0; len && i < page.size(); ++i) page[i] = bytes[i % len];
                value = page;
                break;
            }
        }
        props[kNames[n % (sizeof kNames / sizeof kNames[0])]] = value;
        poll += n;
    }
    if (auto e = raid::enclosureFromProperties("/o/last", props)) list.push_back(*e);
    raid::ServiceFeed& feed = *client.form->serviceFeed();
    if (poll % 7 == 0) feed.absent(poll % 2 == 0, "gone");
    feed.update(list, {});
    // The same values as a job's: one that runs, changes, ends or goes.
    if (auto j = raid::jobFromProperties("/org/qxraidgui/Monitor1/job/1", props)) {
        feed.job(*j);
        if (poll % 3 == 0) feed.jobFinished(j->path, j->succeeded, j->outcome);
        if (poll % 5 == 0) feed.jobGone(j->path);
    }
    return 0;
}

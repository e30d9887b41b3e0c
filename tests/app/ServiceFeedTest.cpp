// A window that is a client of the service, on the virtual clock: the records and
// identity pages the service publishes go in, and the Status page must come out as
// raid-gui-sim draws it for the same records; the enclosure leaving, the service going
// and coming back, and its alerts reach the window as the user should see them. No
// drive is opened and no file is written.
#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <limits>
#include <mutex>
#include <thread>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "app/ServiceFeed.h"
#include "sim/Records.h"
#include "support/QuietDialogs.h"
#include "support/ScenarioKit.h"
#include "support/UpgradeRig.h"
#include "app/ViewOperations.h"

#include <sys/stat.h>
#include <tuple>

namespace raid {
namespace {

// What the Status page shows, control by control.
struct PageView {
    std::map<std::string, std::string> texts;
    BaysView bays;
    friend bool operator==(const PageView&, const PageView&) = default;
};

PageView pageOf(const Controls& c) {
    PageView v;
    for (const char* name : {names::TForm1, names::Label48, names::Label45, names::Label46, names::Label5, names::Label7,
                             names::Label17, names::Label25, names::Label51, names::Label26, names::Label52,
                             names::Label27, names::Label18, names::Label20, names::Label21}) {
        v.texts[name] = c.text(name);
        v.texts[std::string(name) + ".color"] = c.get(name).color;
    }
    v.texts["Panel11"] = c.visible(names::Panel11) ? "shown" : "hidden";
    v.bays = c.get(names::Image0_Bays).bays;
    return v;
}

// raid-gui-sim on the enclosure itself up to `until`: what the page shows then, and
// the record and identity page the engine holds for the enclosure's slot (what the
// service publishes after that poll).
struct Reference {
    PageView page;
    Sector record{}, identity{};
};

Reference reference(double until) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("0 volume E 1");
    kit.line("9 status 1 " +
             kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent))));
    sim::SimRunner& r = kit.run(until);
    EXPECT_EQ(kit.loadError, "");
    Reference ref;
    ref.page = pageOf(r.controls());
    ref.record = r.form().dev.EnclosureStatus[1];
    ref.identity = r.form().dev.EnclosureIdentity[1];
    return ref;
}

ServiceEnclosure enclosure(const Reference& ref, unsigned poll) {
    BusProperties p;
    p["Device"] = std::int64_t{1};
    p["Slot"] = std::int64_t{1};
    p["Poll"] = std::int64_t{poll};
    p["Source"] = std::string("poll");
    p["Volumes"] = std::string("E");
    p["Access"] = std::string("mailbox");
    p["StatusRecord"] = std::vector<std::uint8_t>(ref.record.begin(), ref.record.end());
    p["IdentityPage"] = std::vector<std::uint8_t>(ref.identity.begin(), ref.identity.end());
    auto e = enclosureFromProperties("/org/qxraidgui/Monitor1/enclosure/drive1", p);
    EXPECT_TRUE(e.has_value());
    return e.value_or(ServiceEnclosure{});
}

// The service as the window's engine sees it: mail calls are kept, and answered from
// the engine's loop (as the bus's answers are posted to it) with what the test says.
struct FakeService final : ServicePort {
    Scheduler* scheduler = nullptr;
    ServiceMailAnswer next;  // the next answer
    std::vector<std::string> calls;
    std::vector<SettingsEdits> saved;
    std::vector<bool> newPasswords;
    void answer(const ServiceMailDone& done) {
        scheduler->post([done, a = next] { done(a); });
    }
    void getMailSettings(ServiceMailDone done) override {
        calls.push_back("GetMailSettings");
        answer(done);
    }
    void saveMailSettings(const SettingsEdits& values, bool newPassword, ServiceMailDone done) override {
        calls.push_back("SaveMailSettings");
        saved.push_back(values);
        newPasswords.push_back(newPassword);
        answer(done);
    }
    void sendTestMail(ServiceMailDone done) override {
        calls.push_back("SendTestMail");
        answer(done);
    }
    // The day log: `watchable` false is a service that cannot send lines one by one.
    bool watchable = true;
    ServiceDayLogAnswer today;
    void watchDayLog(ServiceDayLogDone done) override {
        calls.push_back("WatchDayLog");
        ServiceDayLogAnswer a = today;
        if (!watchable) a = {"org.freedesktop.DBus.Error.UnknownMethod", "No such method", "", {}};
        scheduler->post([done, a] { done(a); });
    }
    void unwatchDayLog() override { calls.push_back("UnwatchDayLog"); }
    void getDayLog(ServiceDayLogDone done) override {
        calls.push_back("GetDayLog");
        scheduler->post([done, a = today] { done(a); });
    }
    void getOlderDayLog(const std::string& day, ServiceDayLogDone done) override {
        calls.push_back("GetOlderDayLog " + day);
        ServiceDayLogAnswer a{"", "", day, {"old line"}};
        if (day != "261201") a = {"org.qxraidgui.Monitor1.Error.NoSuchDay", "No day log for " + day, "", {}};
        scheduler->post([done, a] { done(a); });
    }
    // StartUpgrade: the descriptor is kept (a copy, as the bus makes one) and the call
    // answered when the test says.
    std::vector<std::string> upgrades;
    std::vector<int> images;
    ServiceUpgradeDone upgradeDone;
    void startUpgrade(const std::string& enclosure, int imageFd, ServiceUpgradeDone done) override {
        upgrades.push_back(enclosure);
#ifdef _WIN32
        images.push_back(imageFd >= 0 ? ::_dup(imageFd) : -1);
#else
        images.push_back(imageFd >= 0 ? ::fcntl(imageFd, F_DUPFD_CLOEXEC, 3) : -1);
#endif
        upgradeDone = std::move(done);
    }
    void answerUpgrade(const ServiceUpgradeAnswer& a) {
        scheduler->post([done = upgradeDone, a] { done(a); });
    }
    ~FakeService() override {
        for (int fd : images)
            if (fd >= 0) ::close(fd);
    }
};

TEST(ServiceFeed, AClientDrawsTheServicesRecordsAsTheEngineItselfAndFollowsTheServiceComingAndGoing) {
    const Reference healthy = reference(6), pulled = reference(14);
    ASSERT_NE(healthy.page, pulled.page);

    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    sched->adoptCurrentThread();
    Controls controls;
    test::QuietDialogs dialogs;
    NoDevices none;
    FakeService service;
    service.scheduler = sched.get();
    MainForm form(Ports{.scheduler = *sched, .storage = none, .volumes = none, .dialogs = dialogs, .logFolder = {},
                        .fallbackLogFolder = {}, .service = &service},
                  controls);
    std::vector<std::vector<std::string>> alerts;
    ServiceFeed& feed = *form.serviceFeed();
    feed.onAlert = [&](const std::vector<std::string>& lines) { alerts.push_back(lines); };
    form.FormCreate();
    sched->run(2'000'000);

    // No service yet: the window says so where its enclosures would be, and how to start it.
    feed.absent(true, "");
    EXPECT_EQ(controls.text(names::StaticText1), kServiceMissingBanner);
    EXPECT_TRUE(controls.visible(names::StaticText1));
    EXPECT_EQ(controls.text(panelName(4)), kServiceMissingHelp);
    EXPECT_EQ(controls.get(names::StaticText1).hint, kServiceMissingHint);
    EXPECT_FALSE(controls.enabled(names::Image_Email));

    // The service comes with one enclosure, then a poll reads the pulled drive.
    feed.update({enclosure(healthy, 1)}, {});
    sched->run(6'000'000);
    EXPECT_EQ(pageOf(controls), healthy.page);
    EXPECT_EQ(controls.text(names::TForm1), kAppTitle + " - " + "SIM DUAL BAY RAID ENCLOSURE [E]");
    EXPECT_FALSE(controls.visible(names::StaticText1));
    EXPECT_TRUE(controls.enabled(names::Image_Email));
    EXPECT_TRUE(controls.enabled(names::Image2_Upgrade));
    // A repeated signal of the same poll draws nothing new; the next poll's does.
    feed.update({enclosure(healthy, 1)}, {});
    feed.update({enclosure(pulled, 2)}, {"PhysicalDrive3 is in use by another RAID GUI"});
    sched->run(10'000'000);
    EXPECT_EQ(pageOf(controls), pulled.page);
    EXPECT_EQ(controls.text(panelName(4)), "PhysicalDrive3 is in use by another RAID GUI");
    feed.alert({"HDD2 removed", "detail"});
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0][0], "HDD2 removed");

    // The E-mail page opens with the service's values: a stored password shows as
    // eight asterisks and is sent again only when the user types a new one.
    service.next.values.fields = {"587", "mail.example.org", "nas", "nas@example.org", "30", "stored"};
    service.next.values.loginOn = true;
    service.next.values.working = {"me@example.org"};
    service.next.values.subject = {"Disk trouble", "Gone"};
    service.next.values.contents = {"line 1\nline 2", ""};
    form.Click(names::Image_Email);
    sched->run(11'000'000);
    EXPECT_EQ(controls.text(names::Edit2), "mail.example.org");
    EXPECT_EQ(controls.text(names::Edit8), kStoredPasswordShown);
    EXPECT_TRUE(controls.visible(names::Edit8));
    EXPECT_EQ(controls.text(names::Memo6), "line 1\nline 2");
    service.next.saved = true;
    form.EditChange(names::Edit2, "smtp.example.org");
    form.Click(names::Image3_OK);
    sched->run(12'000'000);
    ASSERT_EQ(service.saved.size(), 1u);
    EXPECT_FALSE(service.newPasswords[0]);
    EXPECT_EQ(service.saved[0].fields[kPassword], "");
    EXPECT_EQ(service.saved[0].fields[kHost], "smtp.example.org");
    EXPECT_EQ(service.saved[0].working, std::vector<std::string>{"me@example.org"});
    form.EditChange(names::Edit8, "new secret");
    // polkit says no: a plain box with its words, nothing else changes.
    service.next = ServiceMailAnswer{};
    service.next.errorName = "org.qxraidgui.Monitor1.Error.NotAuthorized";
    service.next.errorText = "Not authorized";
    form.Click(names::Image3_OK);
    sched->run(13'000'000);
    ASSERT_EQ(service.saved.size(), 2u);
    EXPECT_TRUE(service.newPasswords[1]);
    EXPECT_EQ(service.saved[1].fields[kPassword], "new secret");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0], "E-Mail Message:Not authorized");
    dialogs.shown.clear();
    // A save answered after the page was opened anew: the new page shows what is saved.
    service.next = ServiceMailAnswer{};
    service.next.values.fields = {"587", "mail.example.org", "nas", "nas@example.org", "30", "none"};
    form.Click(names::Image_Sts);
    form.Click(names::Image_Email);
    sched->run(13'500'000);
    EXPECT_EQ(controls.text(names::Edit8), "");
    form.EditChange(names::Edit8, "another");
    service.next.saved = true;
    service.next.values.fields[kPassword] = "stored";
    form.Click(names::Image3_OK);
    form.Click(names::Image_Sts);
    form.Click(names::Image_Email);
    sched->run(13'800'000);
    EXPECT_EQ(controls.text(names::Edit8), kStoredPasswordShown);
    // The test mail's outcome shows where the page shows it.
    service.next = ServiceMailAnswer{};
    service.next.sent = true;
    service.next.refused = {"you@example.org: 550 no such user"};
    form.Click(names::Image3_TestMail);
    EXPECT_EQ(controls.text(panelName(3)), "Mail is Sending...");
    sched->run(14'000'000);
    EXPECT_EQ(controls.text(panelName(3)), "Send mail Success!");
    EXPECT_EQ(controls.text(panelName(4)), "Not delivered to you@example.org (no such user)");
    service.next = ServiceMailAnswer{};
    service.next.errorName = "org.qxraidgui.Monitor1.Error.NotSent";
    service.next.errorText = "No recipient";
    form.Click(names::Image3_TestMail);
    sched->run(15'000'000);
    EXPECT_EQ(controls.text(panelName(3)), "Send mail Fail!");
    EXPECT_EQ(controls.text(panelName(4)), "No recipient");
    form.Click(names::Image_Sts);

    // The event log window shows the service's day log, then each line it sends.
    service.today = {"", "", "261207", {"line 1", "line 2"}};
    service.calls.clear();
    int logWindows = 0;
    form.logWindow().onShow = [&] { ++logWindows; };
    form.Click(names::Image0_Log);
    sched->run(16'000'000);
    EXPECT_EQ(logWindows, 1);
    EXPECT_EQ(form.logSnapshot(0).lines, (std::vector<std::string>{"line 1", "line 2"}));
    EXPECT_TRUE(form.logSnapshot(0).live);
    form.serviceFeed()->dayLogLine("261207", "line 3");
    EXPECT_EQ(form.logSnapshot(2).lines, std::vector<std::string>{"line 3"});
    // A new day begins a new log: the window starts over.
    form.serviceFeed()->dayLogLine("261208", "first of the day");
    EXPECT_TRUE(form.logSnapshot(3).restart);
    EXPECT_EQ(form.logSnapshot(0).lines, std::vector<std::string>{"first of the day"});
    form.LogWindowClosed();
    EXPECT_EQ(service.calls, (std::vector<std::string>{"WatchDayLog", "UnwatchDayLog"}));
    // An older day is the service's to read, whatever folder the user picked it in.
    EXPECT_EQ(form.readLogFile("/home/me/261201.log").lines, std::vector<std::string>{"old line"});
    EXPECT_EQ(form.readLogFile("/var/log/raid-gui/261202.log").problem, "No day log for 261202");
    // A service that cannot send lines one by one is asked again while the window is open.
    service.watchable = false;
    service.calls.clear();
    form.Click(names::Image0_Log);
    service.today.lines.push_back("line 3");
    sched->run(19'000'000);
    EXPECT_EQ(form.logSnapshot(0).lines.size(), 3u);
    form.LogWindowClosed();
    const std::size_t asked = service.calls.size();
    EXPECT_GE(asked, 2u);
    sched->run(21'000'000);
    EXPECT_EQ(service.calls.size(), asked);

    // The enclosure unplugged: its object goes, the window has no device to show.
    feed.update({}, {});
    EXPECT_EQ(controls.text(names::StaticText1), "No Drive found! ");
    EXPECT_FALSE(controls.visible(names::CheckBox1));
    // The service stops and comes back with the enclosure: the page is drawn anew.
    feed.absent(true, "");
    EXPECT_EQ(controls.text(names::StaticText1), kServiceMissingBanner);
    feed.update({enclosure(pulled, 1)}, {});
    sched->run(30'000'000);
    EXPECT_EQ(pageOf(controls), pulled.page);
    EXPECT_TRUE(controls.visible(names::CheckBox1));
    // A rebuild: the window decodes nothing, so the page shows the service's estimate
    // of the time left, and "unknown" when the service has none (yet).
    Reference rebuilding = pulled;
    rebuilding.record = sim::makeStatusRecord(sim::StatusOptions().setActivity(0x01, 40));
    ServiceEnclosure r = enclosure(rebuilding, 2);
    r.work = WorkKind::Rebuild;
    r.timeLeft = {true, 7980, 27};
    feed.update({r}, {});
    sched->run(31'000'000);
    EXPECT_EQ(controls.text(names::WorkTimeLeft), "about 2 h 13 min left (27 %/h)");
    r = enclosure(rebuilding, 3);
    r.work = WorkKind::Rebuild;
    feed.update({r}, {});
    sched->run(32'000'000);
    EXPECT_EQ(controls.text(names::WorkTimeLeft), "time left unknown");
    // A bus that cannot be reached at all says so too.
    feed.absent(false, "Connection refused");
    EXPECT_EQ(controls.text(names::StaticText1), kBusMissingBanner);
    EXPECT_EQ(controls.text(panelName(4)), "Connection refused");

    // The window said nothing to an enclosure, and kept no day log of its own.
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front();
    EXPECT_EQ(form.eventLog().saveAtExit(), "");
    EXPECT_TRUE(form.FormClose());
}

// The bus side posts from its own thread while the engine runs on another, and the
// port's answers come back through the engine's queue: the way the window runs it.
TEST(ServiceFeed, UpdatesPostedFromAnotherThreadReachTheRunningEngine) {
    const Reference healthy = reference(6), pulled = reference(14);
    test::QuietDialogs dialogs;
    NoDevices none;
    FakeService service;
    std::atomic<int> alerts{0};
    EngineHost host(makeRealScheduler(), [&](Scheduler& s, Controls& c, DialogPort& d) {
        service.scheduler = &s;
        return std::make_unique<MainForm>(Ports{.scheduler = s, .storage = none, .volumes = none, .dialogs = d,
                                                .logFolder = {}, .fallbackLogFolder = {}, .service = &service},
                                          c);
    });
    host.onAlert = [&](const std::vector<std::string>&) { ++alerts; };
    std::mutex mu;
    std::string caption, bays, panel;
    // Listeners are registered before the engine runs (it calls them on its thread).
    host.controls().addListener([&](const ControlChange& change) {
        std::lock_guard<std::mutex> lock(mu);
        if (change.control == names::TForm1) caption = change.state.text;
        if (change.control == names::Image0_Bays) bays = change.state.bays.bay[1] == BayLook::Present ? "present" : "not";
        if (change.control == names::UpgradePanel && change.prop == Prop::Text) panel = change.state.text;
        if (change.control == names::UpgradePanel && change.prop == Prop::Visible && !change.state.visible)
            panel = "hidden";
    });
    host.start(dialogs);
    std::thread bus([&] {
        for (unsigned poll = 1; poll <= 200; ++poll) {
            const Reference& r = poll < 150 ? healthy : pulled;
            host.post([e = enclosure(r, poll), poll](MainForm& f) {
                if (poll % 50 == 0) f.serviceFeed()->absent(true, "");
                f.serviceFeed()->update({e}, {});
                if (poll == 150) f.serviceFeed()->alert({"HDD2 removed"});
            });
        }
    });
    bus.join();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    auto done = [&] {
        std::lock_guard<std::mutex> lock(mu);
        return caption == kAppTitle + " - SIM DUAL BAY RAID ENCLOSURE [E]" && bays == "not" && alerts == 1;
    };
    while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done()) << caption << " " << bays << " " << alerts;
    // Another window's upgrade job, its changes posted from the bus thread as they come.
    std::thread jobs([&] {
        ServiceJob j{"/org/qxraidgui/Monitor1/job/1", "/org/qxraidgui/Monitor1/enclosure/drive1", true,
                     "Firmware Update...", "Process 1 / 4", 0, 4000, false, ""};
        for (std::uint32_t v = 0; v <= 4000; v += 40) {
            j.value = v;
            j.panelText = "Process " + std::to_string(1 + v / 1001) + " / 4";
            host.post([j](MainForm& f) { f.serviceFeed()->job(j); });
        }
    });
    jobs.join();
    auto panelIs = [&](const std::string& want) {
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mu);
                if (panel == want) return true;
            }
            if (std::chrono::steady_clock::now() > bound) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    EXPECT_TRUE(panelIs("Process 4 / 4")) << panel;
    host.post([](MainForm& f) { f.serviceFeed()->jobFinished("/org/qxraidgui/Monitor1/job/1", true, "done"); });
    EXPECT_TRUE(panelIs("hidden")) << panel;
    EXPECT_TRUE(dialogs.shown.empty());
    host.stop();
}

TEST(ServiceFeed, PropertiesThatAreMissingOfAnotherTypeOrOutOfRangeShowNoEnclosure) {
    const std::vector<std::uint8_t> page(512, 0);
    BusProperties good{{"Device", std::int64_t{2}},  {"Slot", std::int64_t{9}},     {"Poll", std::int64_t{7}},
                       {"Source", std::string("")}, {"Volumes", std::string("E\nF:e")}, {"Access", std::string("vu")},
                       {"StatusRecord", page},        {"IdentityPage", page}};
    const auto e = enclosureFromProperties("/p", good);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->volumes, "EF");
    EXPECT_FALSE(e->polled);
    EXPECT_EQ(e->access, kCodeVu);
    for (const auto& [name, bad] : std::vector<std::pair<std::string, BusValue>>{
             {"Slot", std::int64_t{10}},
             {"Slot", std::int64_t{-1}},
             {"Device", std::int64_t{0}},
             {"Device", std::string("1")},
             {"Poll", std::int64_t{1} << 40},
             {"StatusRecord", std::vector<std::uint8_t>(511, 0)},
             {"IdentityPage", std::vector<std::uint8_t>(100000, 0)},
             {"Volumes", BusValue{}}}) {
        BusProperties p = good;
        p[name] = bad;
        EXPECT_FALSE(enclosureFromProperties("/p", p)) << name;
    }

    // The time left is optional (a service from before it lacks it) and bounded: a value
    // out of range or of another type leaves it unknown but the enclosure shown.
    EXPECT_FALSE(e->timeLeft.known);
    BusProperties timed = good;
    timed["Activity"] = std::string("rebuild");
    timed["SecondsLeft"] = std::int64_t{7980};
    timed["PercentPerHour"] = 2.5;
    const auto t = enclosureFromProperties("/p", timed);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->work, WorkKind::Rebuild);
    EXPECT_TRUE(t->timeLeft.known);
    EXPECT_EQ(timeLeftText(t->timeLeft, t->work), "about 2 h 13 min left (2.5 %/h)");
    for (const auto& [name, bad] : std::vector<std::pair<std::string, BusValue>>{
             {"SecondsLeft", std::int64_t{-1}},
             {"SecondsLeft", std::int64_t{1} << 60},
             {"SecondsLeft", 7980.0},
             {"PercentPerHour", 0.0},
             {"PercentPerHour", std::numeric_limits<double>::quiet_NaN()},
             {"PercentPerHour", std::numeric_limits<double>::infinity()}}) {
        BusProperties p = timed;
        p[name] = bad;
        const auto u = enclosureFromProperties("/p", p);
        ASSERT_TRUE(u) << name;
        EXPECT_FALSE(u->timeLeft.known) << name;
        EXPECT_EQ(timeLeftText(u->timeLeft, u->work), "time left unknown") << name;
    }
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

using ClientUpgrade = test::UpgradeRig;

// What the Upgrade page shows, as the page model keeps it.
std::string viewText(const UpgradePageView& v, bool withValue) {
    return v.title + "|" + (v.panelShown ? "shown" : "hidden") + "|" + v.panelText + "|" + std::to_string(v.maximum) +
           "|" + (withValue ? std::to_string(v.value) : "") + "|" + (v.timerRunning ? "timer" : "");
}

// raid-gui-sim's page upgrades the simulated enclosure (the rig's engine); a client
// window on the virtual clock gets the same steps as the service's job reports them,
// and its page must show what raid-gui-sim's showed. The image is loaded in the client
// by the same loader, from the user's own file, and handed over open.
TEST_P(ClientUpgrade, AClientsPageFollowsTheJobAsTheSimulatorsPageShowsItsOwnAndRefusesWhatItRefuses) {
    const Reference healthy = reference(6);
    // The client window, with the service as a fake port.
    std::unique_ptr<Scheduler> clock = makeVirtualScheduler(1796601600.0);
    Controls shown;
    test::QuietDialogs boxes;
    NoDevices none;
    FakeService service;
    service.scheduler = clock.get();
    MainForm client(Ports{.scheduler = *clock, .storage = none, .volumes = none, .dialogs = boxes, .logFolder = {},
                          .fallbackLogFolder = {}, .service = &service},
                    shown);
    ServiceFeed& feed = *client.serviceFeed();
    client.FormCreate();
    feed.update({raid::enclosure(healthy, 1)}, {});
    clock->run(3'000'000);
    client.Click(names::Image_FWUpg);
    EXPECT_TRUE(shown.enabled(names::Image2_Load));
    EXPECT_TRUE(shown.enabled(names::Image2_Upgrade));
    const auto clientBoxes = [&] { return std::exchange(boxes.shown, {}); };

    // Upgrade before any load: the page's own box, nothing asked of the service.
    client.Click(names::Image2_Upgrade);
    EXPECT_EQ(clientBoxes(), std::vector<std::string>{"Message:Please Load Firmware File First "});
    // Loads of what is no image: the same boxes and status-bar texts as raid-gui-sim's.
    const std::string zeros = kit.dir() + "/zeros.bin", link = kit.dir() + "/link.bin",
                      huge = kit.dir() + "/huge.bin";
    const test::PlantedPipe pipe(kit.dir(), "fifo.bin");
    ASSERT_FALSE(pipe.path.empty());
    std::ofstream(zeros, std::ios::binary) << std::string(firmware::kFlashSize, '\0');
    std::ofstream{huge}.flush();
    std::filesystem::resize_file(huge, 100 << 20);
    for (const std::string& path :
         {pipe.path, std::string(test::kEndlessDevice), zeros, huge, kit.dir(), kit.dir() + "/missing.bin"}) {
        dialogs.shown.clear();
        form->Click(names::Image_FWUpg);
        loadFirmwareImage(*form, path);
        boxes.nextFile = path;
        client.Click(names::Image2_Load);
        EXPECT_EQ(clientBoxes(), dialogs.shown) << path;
        EXPECT_EQ(shown.text(panelName(4)), controls.text(panelName(4)));
        EXPECT_EQ(shown.text(panelName(0)), controls.text(panelName(0)));
        EXPECT_EQ(shown.text(names::Edit9), path);
        client.Click(names::Image2_Upgrade);
        EXPECT_EQ(clientBoxes(), std::vector<std::string>{"Message:Please Load Firmware File First "});
    }
    EXPECT_TRUE(service.upgrades.empty());

    // The image: raid-gui-sim's page upgrades with it; each step of its bar and panel
    // is what the service's job reports.
    load(sim::makeFirmwareImage(test::fullImage()));
#ifdef _WIN32  // mingw-w64's std::filesystem makes no links: a copy under another name
    std::filesystem::copy_file(kit.dir() + "/fw.bin", link);
#else
    std::filesystem::create_symlink(kit.dir() + "/fw.bin", link);
#endif
    struct Step {
        ServiceJob job;
        UpgradePageView view;
    };
    std::vector<Step> steps;
    dialogs.shown.clear();
    UpgradeOutcome outcome;
    sched->post([&] {
        outcome = startUpgrade(*form, [&](const UpgradeProgress& p) {
            ServiceJob j;
            j.path = "/org/qxraidgui/Monitor1/job/1";
            j.enclosure = "/org/qxraidgui/Monitor1/enclosure/drive1";
            j.running = true;
            j.title = form->upgradePage().model().view().title;
            j.panelText = p.step;
            j.value = p.value;
            j.maximum = p.maximum;
            steps.push_back({j, form->upgradePage().model().view()});
        });
    });
    sched->run(sched->nowUs() + 60'000'000);
    ASSERT_TRUE(outcome.ok);
    ASSERT_GT(steps.size(), 100u);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const UpgradePageView simEnd = form->upgradePage().model().view();

    // The client loads the same file through a link (the user's path is the user's).
    boxes.nextFile = link;
    client.Click(names::Image2_Load);
    EXPECT_EQ(clientBoxes(), std::vector<std::string>{});
    EXPECT_EQ(shown.text(panelName(0)), controls.text(panelName(0)));
    EXPECT_EQ(shown.text(names::Edit9), link);
    // polkit says no, then the service refuses with its words: each in its box.
    client.Click(names::Image2_Upgrade);
    client.Click(names::Image2_Upgrade);  // while the first is asked: nothing more
    client.Click(names::Image2_Load);
    ASSERT_EQ(service.upgrades, std::vector<std::string>{"/org/qxraidgui/Monitor1/enclosure/drive1"});
    // The descriptor handed over is the very file that was loaded.
#ifndef _WIN32  // a file's identity and open mode behind a descriptor: Linux's words
    struct stat handed {}, file {};
    ASSERT_EQ(::fstat(service.images[0], &handed), 0);
    ASSERT_EQ(::stat((kit.dir() + "/fw.bin").c_str(), &file), 0);
    EXPECT_EQ(handed.st_ino, file.st_ino);
    EXPECT_EQ(::fcntl(service.images[0], F_GETFL) & O_ACCMODE, O_RDONLY);
#endif
    service.answerUpgrade({kErrorNotAuthorized, "not authorized for org.qxraidgui.monitor1.upgrade-firmware", ""});
    clock->run(clock->nowUs() + 100'000);
    EXPECT_EQ(clientBoxes(), std::vector<std::string>{"Message:The firmware upgrade was not allowed: not authorized for "
                                                      "org.qxraidgui.monitor1.upgrade-firmware"});
    for (const auto& [name, text, box] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {kErrorRefused, kNotFirmwareText, std::string("Error:") + kNotFirmwareText},
             {kErrorRefused, "Firmware is upgrading, please wait a moment.",
              "Message:Firmware is upgrading, please wait a moment."},
             {"org.qxraidgui.Monitor1.Error.Busy", "Too many upgrade requests at once; try again later",
              "Message:Too many upgrade requests at once; try again later"}}) {
        client.Click(names::Image2_Upgrade);
        service.answerUpgrade({name, text, ""});
        clock->run(clock->nowUs() + 100'000);
        EXPECT_EQ(clientBoxes(), std::vector<std::string>{box});
    }
    EXPECT_FALSE(client.MaintenanceBusy);
    EXPECT_EQ(service.upgrades.size(), 4u);

    // Started: the page follows the job step by step as raid-gui-sim's page went.
    client.Click(names::Image2_Upgrade);
    service.answerUpgrade({"", "", "/org/qxraidgui/Monitor1/job/1"});
    clock->run(clock->nowUs() + 100'000);
    ServiceJob first = steps.front().job;
    first.panelText.clear();
    first.value = first.maximum = 0;
    first.title = "Firmware Upgrade";
    feed.job(first);
    EXPECT_TRUE(client.MaintenanceBusy);
    const UpgradePageView& view = client.upgradePage().model().view();
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        feed.job(steps[i].job);
        EXPECT_EQ(viewText(view, false), viewText(steps[i].view, false)) << i;
        if (i % 500 == 0) {
            // The bar shows the job's value once the page's timer has copied it.
            clock->run(clock->nowUs() + 1'000'000);
            EXPECT_EQ(view.value, steps[i].job.value);
            EXPECT_EQ(shown.get(names::ProgressBar1).progress.value, steps[i].job.value);
            // Meanwhile the window refuses what raid-gui-sim's refuses during an upgrade.
            boxes.fileFilters.clear();
            client.Click(names::Image2_Load);
            EXPECT_TRUE(boxes.fileFilters.empty());
            client.Click(names::Image2_Upgrade);
            client.Click(names::Image_Sts);
            EXPECT_EQ(client.CurrentPage, 2);
            EXPECT_FALSE(selectShownDevice(client, DeviceTabs::upgrade, 0).selected);
            EXPECT_FALSE(shown.enabled(names::CheckBox1));
        }
    }
    EXPECT_EQ(service.upgrades.size(), 5u);
    // The end: the sim's closing box in this window, the page as the sim's page ends.
    ServiceJob last = steps.back().job;
    last.running = false;
    last.succeeded = true;
    last.outcome = outcome.closingText;
    feed.job(last);
    feed.jobFinished(last.path, true, last.outcome);
    EXPECT_EQ(viewText(view, true), viewText(simEnd, true));
    EXPECT_EQ(clientBoxes(), dialogs.shown);
    EXPECT_FALSE(client.MaintenanceBusy);
    EXPECT_TRUE(shown.enabled(names::CheckBox1));
    client.Click(names::Image_Sts);
    EXPECT_EQ(client.CurrentPage, 0);
    feed.jobGone(last.path);

    // Another window's upgrade: shown running here, its buttons and tabs refused, the
    // other pages still open; no box here at its end. Then one the service takes along
    // when it goes.
    for (const bool serviceGoes : {false, true}) {
        ServiceJob other = steps[steps.size() / 2].job;
        other.path = serviceGoes ? "/org/qxraidgui/Monitor1/job/3" : "/org/qxraidgui/Monitor1/job/2";
        feed.job(other);
        EXPECT_TRUE(view.panelShown);
        EXPECT_EQ(view.panelText, other.panelText);
        client.Click(names::Image_FWUpg);
        EXPECT_EQ(client.CurrentPage, 2);
        boxes.fileFilters.clear();
        client.Click(names::Image2_Load);
        client.Click(names::Image2_Upgrade);
        EXPECT_TRUE(boxes.fileFilters.empty());
        EXPECT_FALSE(selectShownDevice(client, DeviceTabs::upgrade, 0).selected);
        client.Click(names::Image_Sts);
        EXPECT_EQ(client.CurrentPage, 0);
        if (serviceGoes) {
            feed.absent(true, "");
        } else {
            other.running = false;
            other.outcome = "SPI Erase Fail.";
            feed.job(other);
            feed.jobFinished(other.path, false, other.outcome);
        }
        EXPECT_FALSE(view.panelShown);
        EXPECT_FALSE(client.MaintenanceBusy);
        EXPECT_EQ(clientBoxes(), std::vector<std::string>{});
    }
    EXPECT_EQ(service.upgrades.size(), 5u);
    // A window closes during its upgrade: the service's upgrade goes on without it.
    feed.update({raid::enclosure(healthy, 2)}, {});
    client.Click(names::Image_FWUpg);
    client.Click(names::Image2_Upgrade);
    service.answerUpgrade({"", "", "/org/qxraidgui/Monitor1/job/4"});
    clock->run(clock->nowUs() + 100'000);
    ServiceJob mine = steps[steps.size() / 2].job;
    mine.path = "/org/qxraidgui/Monitor1/job/4";
    feed.job(mine);
    EXPECT_TRUE(client.MaintenanceBusy);
    EXPECT_TRUE(client.FormClose());
}

INSTANTIATE_TEST_SUITE_P(Mailbox, ClientUpgrade, ::testing::Values(sim::Path::Mailbox));

}  // namespace
}  // namespace raid

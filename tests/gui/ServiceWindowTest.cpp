// raid-gui as it runs on a machine with the service: raid-gui-monitor-sim publishes a
// simulated enclosure on a private system-like bus, and real windows (offscreen, each
// a process of its own with a desktop session of its own: a session bus with a
// notification service) follow it, one of them as an ordinary user.
// sd-bus's client first: Qt makes "signals" a word of its own.
#include "tests/bus/BusClient.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <future>
#include <mutex>

#include "app/EmailStep.h"
#include "app/EngineHost.h"
#include "app/HeadlessOutput.h"
#include "app/MainForm.h"
#include "app/ServiceFeed.h"
#include "gui/GuiApp.h"
#include "gui/GuiDialogs.h"
#include "gui/LogWindow.h"
#include "gui/MainWindow.h"
#include "gui/ServiceClient.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "tests/notify/PythonSmtpServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScenarioKit.h"
#include "tests/support/ToolRun.h"

namespace raid {
namespace {

using test::PrivateBus;

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// A process of the test's own, run as the user `uid` (-1: as the test), output to files.
class Child {
public:
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env, int uid,
               const std::string& out) {
        pid_ = ::fork();
        if (pid_ != 0) return pid_ > 0;
        ::setpgid(0, 0);
        for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<std::string> all;
        if (uid >= 0)
            all = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
                   "--clear-groups"};
        all.insert(all.end(), argv.begin(), argv.end());
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) ::_exit(99);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        std::vector<char*> args;
        for (auto& a : all) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(98);
    }
    // SIGTERM and the exit status (-1 when it did not exit by itself).
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, 0);
        ::kill(-pid_, SIGKILL);
        pid_ = -1;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // SIGKILL: the process ends at once, whatever it was doing.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        ::kill(-pid_, SIGKILL);
        pid_ = -1;
    }
    ~Child() { stop(); }
    // The real user id it runs as (-1: not known).
    int uid() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string word;
        while (status >> word)
            if (word == "Uid:" && status >> word) return std::stoi(word);
        return -1;
    }

private:
    pid_t pid_ = -1;
};

// One desktop session: its folder, its session bus and dbusmock's notification
// service on it (every call logged), and the window, all run as `uid`.
class Desktop {
public:
    Desktop(const std::string& dir, int uid) : dir_(dir), uid_(uid) {
        std::filesystem::create_directories(dir_ + "/runtime");
        ::chmod(dir_.c_str(), 0755);
        ::chmod((dir_ + "/runtime").c_str(), 0700);
        if (uid_ >= 0) {
            if (::chown(dir_.c_str(), static_cast<uid_t>(uid_), static_cast<gid_t>(uid_)) != 0 ||
                ::chown((dir_ + "/runtime").c_str(), static_cast<uid_t>(uid_), static_cast<gid_t>(uid_)) != 0)
                ADD_FAILURE() << "chown " << dir_;
        }
    }
    std::string sessionAddress() const { return "unix:path=" + dir_ + "/session_bus"; }

    bool startSession() {
        std::ofstream(dir_ + "/session.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>"
            << sessionAddress()
            << "</listen><auth>EXTERNAL</auth>\n"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        if (!bus_.start({"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + dir_ + "/session.conf"},
                        {}, uid_, dir_ + "/session.out"))
            return false;
        if (!PrivateBus::waitFor([&] { return ::access((dir_ + "/session_bus").c_str(), F_OK) == 0; })) return false;
        if (!notifications_.start({"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon", "-l",
                                   dir_ + "/notify.log"},
                                  {"DBUS_SESSION_BUS_ADDRESS=" + sessionAddress()}, uid_, dir_ + "/mock.out"))
            return false;
        // Up once it serves its name on the session bus.
        return PrivateBus::waitFor(
            [&] {
                const std::string as = uid_ >= 0 ? "setpriv --reuid=" + std::to_string(uid_) + " --regid=" +
                                                       std::to_string(uid_) + " --clear-groups "
                                                 : "";
                return std::system((as + "busctl --address=" + sessionAddress() +
                                    " status org.freedesktop.Notifications >/dev/null 2>&1")
                                       .c_str()) == 0;
            },
            std::chrono::seconds(60));
    }

    bool startWindow(const std::string& systemBus) {
        return window_.start({RAID_GUI_PROGRAM, "--bus", systemBus, "--lines"},
                             {"QT_QPA_PLATFORM=offscreen", "DBUS_SESSION_BUS_ADDRESS=" + sessionAddress(),
                              "XDG_RUNTIME_DIR=" + dir_ + "/runtime", "HOME=" + dir_},
                             uid_, dir_ + "/window.out");
    }
    int stopWindow() { return window_.stop(); }
    int windowUid() const { return window_.uid(); }

    // What the window has shown so far, one line per change.
    std::string lines() const { return slurp(dir_ + "/window.out"); }
    bool shows(const std::string& control, const std::string& text) const {
        return lines().find(" " + control + " " + text + "\n") != std::string::npos;
    }
    int notifications() const { return count(slurp(dir_ + "/notify.log"), " Notify "); }

private:
    std::string dir_;
    int uid_;
    Child bus_, notifications_, window_;
};

TEST(ServiceWindow, TwoWindowsOneAsAnOrdinaryUserFollowTheServiceAndEachNotifiesItsOwnDesktop) {
    if (::access("/usr/bin/python3", X_OK) != 0 ||
        std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3-dbusmock";
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("0 volume E 1");
    kit.line("14 status 1 " +
             kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent))));
    kit.realTimeOptions(0);
    ::chmod(kit.dir().c_str(), 0755);
    PrivateBus system(kit.dir());
    if (!system.start()) GTEST_SKIP() << "no dbus-daemon";
    const bool asNobody = ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0;

    Desktop first(kit.dir() + "/first", -1), second(kit.dir() + "/second", asNobody ? 65534 : -1);
    ASSERT_TRUE(first.startSession());
    ASSERT_TRUE(second.startSession());

    // A window started before the service says that it is not there, and how to start it.
    ASSERT_TRUE(first.startWindow(system.address()));
    EXPECT_TRUE(PrivateBus::waitFor([&] { return first.shows("StaticText1", "RAID GUI service not running"); }))
        << first.lines();
    EXPECT_TRUE(first.shows("StatusBar1.Panel4", "Start it: systemctl start raid-gui-monitor")) << first.lines();

    test::BusClient client(system.address());
    ASSERT_TRUE(client.ok());
    test::BackgroundTool service;
    const std::string err = kit.dir() + "/service.err";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", kit.dir() + "/test.scenario", "--log-dir", kit.dir() + "/logs",
                               "--settings", kit.dir() + "/settings.reg", "--bus", system.address()},
                              kit.dir() + "/service.out", err));
    ASSERT_TRUE(second.startWindow(system.address()));

    if (asNobody) {
        // setpriv changes the user before it runs the window.
        EXPECT_TRUE(PrivateBus::waitFor([&] { return second.windowUid() == 65534 && second.lines().size() > 0; }))
            << second.windowUid();
    }
    // Both show the enclosure: the first picked the service up when it came.
    const std::string caption = "RAID GUI v0.23.7-3 - SIM DUAL BAY RAID ENCLOSURE [E]";
    EXPECT_TRUE(PrivateBus::waitFor([&] { return first.shows("TForm1", caption) && second.shows("TForm1", caption); }))
        << first.lines() << "\n--\n" << second.lines() << "\n--\n" << slurp(err);
    EXPECT_TRUE(first.shows("Image0_Bays", "raid present present idle"));

    // The pulled drive: both windows draw it within one poll of the service's signal.
    const std::string one = "/org/qxraidgui/Monitor1/enclosure/drive1";
    ASSERT_TRUE(client.until([&] {
        const auto bays = client.bayStates(one);
        return bays.size() == 2 && bays[1] != "present";
    }));
    const unsigned pulledAt = client.poll(one);
    const std::string pulled = "raid present absent idle";
    EXPECT_TRUE(PrivateBus::waitFor(
        [&] { return first.shows("Image0_Bays", pulled) && second.shows("Image0_Bays", pulled); }))
        << first.lines() << "\n--\n" << second.lines();
    EXPECT_LE(client.poll(one), pulledAt + 1);

    // Each desktop session shows the alert once.
    EXPECT_TRUE(PrivateBus::waitFor([&] { return first.notifications() >= 1 && second.notifications() >= 1; }));
    const unsigned seen = client.poll(one);
    ASSERT_TRUE(client.until([&] { return client.poll(one) >= seen + 2; }));
    EXPECT_EQ(first.notifications(), 1);
    EXPECT_EQ(second.notifications(), 1);

    // The service stops: the windows say so again, and keep running.
    EXPECT_EQ(service.stop(), 0) << slurp(err);
    EXPECT_TRUE(PrivateBus::waitFor([&] {
        return count(first.lines(), "StaticText1 RAID GUI service not running") >= 2 &&
               second.shows("StaticText1", "RAID GUI service not running");
    })) << second.lines();
    EXPECT_EQ(first.stopWindow(), 0);
    EXPECT_EQ(second.stopWindow(), 0);
    // Neither window wrote a day log or a settings file: those are the service's.
    for (const char* d : {"/first", "/second"})
        for (const auto& e : std::filesystem::directory_iterator(kit.dir() + d)) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name.find(".log") == std::string::npos || name == "notify.log") << name;
            EXPECT_EQ(name.find(".reg"), std::string::npos) << name;
        }
}

// A real window (offscreen, in the test's process) as a client of the service.
class ClientWindow {
public:
    // `image`: what the open-file dialog gives. `print`: every change and box also
    // printed on standard output, as raid-gui --lines prints them.
    explicit ClientWindow(const std::string& bus, const std::string& image = {}, bool print = false)
        : host_(makeRealScheduler(), [this](Scheduler& s, Controls& c, DialogPort& d) {
              return std::make_unique<MainForm>(Ports{.scheduler = s,
                                                      .storage = none_,
                                                      .volumes = none_,
                                                      .dialogs = d,
                                                      .logFolder = {},
                                                      .fallbackLogFolder = {},
                                                      .service = &link_},
                                                c);
          }) {
        if (print) {
            printer_ = std::make_unique<HeadlessOutput>(host_.scheduler(), &std::cout, nullptr, false);
            printer_->watchControls(host_.controls());
        }
        session_ = std::make_unique<gui::GuiSession>(host_);
        session_->dialogs().setTestHook([this](const std::string& text, const std::string& caption, int) {
            std::lock_guard<std::mutex> lock(mu_);
            boxes_.push_back(caption + ": " + text);
            if (printer_) printer_->messageBox(text, caption, DialogPort::OkOnly);
            return DialogPort::Ok;
        });
        if (!image.empty()) session_->dialogs().setFileHook([image](const std::string&) { return image; });
        session_->start();
        session_->attachService(link_, QString::fromStdString(bus));
    }
    ~ClientWindow() {
        session_.reset();
        host_.stop();
        printer_.reset();
    }
    // Runs `fn` with the form on the engine thread and waits for its result.
    template <class F>
    auto onEngine(F fn) {
        using R = decltype(fn(std::declval<MainForm&>()));
        auto done = std::make_shared<std::promise<R>>();
        std::future<R> result = done->get_future();
        host_.post([fn, done](MainForm& f) { done->set_value(fn(f)); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                    120000));
        return result.get();
    }
    QString caption() { return session_->window().windowTitle(); }
    // What the event log window shows ("" while it is closed).
    QString logText() {
        gui::TForm5* log = session_->logWindow();
        if (!log) return {};
        QString all;
        for (const QPlainTextEdit* text : log->findChildren<QPlainTextEdit*>()) all += text->toPlainText();
        return all;
    }
    std::vector<std::string> boxes() {
        std::lock_guard<std::mutex> lock(mu_);
        return boxes_;
    }

private:
    NoDevices none_;
    gui::ServiceLink link_;
    EngineHost host_;
    std::unique_ptr<HeadlessOutput> printer_;
    std::unique_ptr<gui::GuiSession> session_;
    std::mutex mu_;
    std::vector<std::string> boxes_;
};

TEST(ServiceWindow, AWindowsMailSettingsLandInTheServicesFileAsTheSimulatorsPageWritesThemAndItsLogIsTheServices) {
    const std::string python = testing::PythonSmtpServer::python();
    if (python.empty()) GTEST_SKIP() << "no python3 with aiosmtpd";
    testing::PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {"--auth"}));
    test::ScenarioKit kit;
    const std::string words = "host=127.0.0.1 port=" + std::to_string(smtp.port) +
                              " addr=ops@example.org login=on password=Secret123 to=a@x.org to=b@x.org "
                              "subject1=\"Disk trouble\" subject2=Gone";
    // The page of raid-gui-sim, filled by the same words.
    {
        test::ScenarioKit page;
        page.line("0 disk 0").line("1 email " + words);
        page.realTimeOptions(0);
        ASSERT_EQ(test::runSimTool("--headless --until 3 --scenario " + page.dir() + "/test.scenario --settings " +
                                       kit.dir() + "/page.reg --log-dir " + page.dir(),
                                   page.dir())
                      .status,
                  0);
    }
    EmailStep step;
    std::string error;
    ASSERT_TRUE(parseEmailStep(words, step, error)) << error;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("0 volume E 1");
    kit.realTimeOptions(0);
    PrivateBus system(kit.dir());
    if (!system.start()) GTEST_SKIP() << "no dbus-daemon";
    if (!system.startPolkit()) GTEST_SKIP() << "no python3-dbusmock";
    test::BackgroundTool service;
    const std::string settings = kit.dir() + "/service.reg", err = kit.dir() + "/service.err";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", kit.dir() + "/test.scenario", "--log-dir", kit.dir() + "/logs",
                               "--settings", settings, "--bus", system.address()},
                              kit.dir() + "/service.out", err));
    ClientWindow window(system.address());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.caption().contains(QLatin1String("[E]")); }, 60000))
        << window.caption().toStdString() << slurp(err);
    const std::string before = slurp(settings);

    // polkit says no: the page opens and saves nothing, each refusal in a plain box.
    window.onEngine([&step](MainForm& f) {
        playEmailStep(f, step);
        return 0;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.boxes().size() >= 2; }, 60000));
    for (const std::string& box : window.boxes()) EXPECT_NE(box.find("not authorized"), std::string::npos) << box;
    EXPECT_EQ(slurp(settings), before);

    // Allowed: the service's file is what raid-gui-sim's page writes, byte for byte,
    // and the test mail goes out with it.
    ASSERT_TRUE(system.allowActions({"org.qxraidgui.monitor1.configure-mail"}));
    const std::size_t boxes = window.boxes().size();
    window.onEngine([&step](MainForm& f) {
        playEmailStep(f, step);
        return 0;
    });
    const std::string page = slurp(kit.dir() + "/page.reg");
    ASSERT_FALSE(page.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return slurp(settings) == page; }, 60000)) << slurp(settings) << "\n--\n" << page;
    EXPECT_EQ(window.boxes().size(), boxes);
    // Opened again, the page shows the stored password as eight asterisks.
    window.onEngine([](MainForm& f) {
        f.Click(names::Image_Sts);
        f.Click(names::Image_Email);
        return 0;
    });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.onEngine([](MainForm& f) { return f.controls().text(names::Edit8); }) == kStoredPasswordShown; },
        60000));
    window.onEngine([](MainForm& f) {
        f.Click(names::Image3_TestMail);
        return 0;
    });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.onEngine([](MainForm& f) { return f.panelText(3); }) == "Send mail Success!"; }, 60000))
        << window.onEngine([](MainForm& f) { return f.panelText(4); });
    EXPECT_EQ(smtp.received().size(), 1u);

    // The event log window shows the service's day log (polkit allows reading it).
    ASSERT_TRUE(system.allowActions({"org.qxraidgui.monitor1.configure-mail", "org.qxraidgui.monitor1.read-logs"}));
    window.onEngine([](MainForm& f) {
        f.Click(names::Image0_Log);
        return 0;
    });
    std::vector<std::string> lines;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            lines = window.onEngine([](MainForm& f) { return f.logSnapshot(0).lines; });
            return !lines.empty();
        },
        60000));
    std::string dayFile, dayName;
    for (const auto& e : std::filesystem::directory_iterator(kit.dir() + "/logs")) {
        if (e.path().extension() != ".log") continue;  // the history has a folder of its own there
        dayFile += slurp(e.path().string());
        dayName = e.path().filename().string();
    }
    // A day file chosen by its name is read by the service: the user cannot read the folder.
    const LogFileText older = window.onEngine([&](MainForm& f) { return f.readLogFile("/nowhere/" + dayName); });
    EXPECT_TRUE(older.ok) << older.problem;
    EXPECT_FALSE(older.lines.empty());
    for (const std::string& line : lines) EXPECT_NE(dayFile.find(line), std::string::npos) << line;
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.logText().contains(QString::fromStdString(lines.front())); }, 60000));
    EXPECT_EQ(service.stop(), 0) << slurp(err);
}

// Lines of the trace with the mailbox command that starts or ends a controller's
// upgrade mode: two per upgrade that reached the enclosure.
int upgradeModeCommands(const std::string& trace) { return count(trace, "data=335810"); }

// The bar has moved: a ProgressBar1 line with a value past 0.
bool barMoved(const std::string& lines) {
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t at = line.find(" ProgressBar1 ");
        if (at != std::string::npos && line.compare(at + 14, 2, "0/") != 0) return true;
    }
    return false;
}

// An upgrade from a window: polkit refusing, the window says so and the enclosure hears
// no upgrade command; allowed, it shows in both windows (one an ordinary user's that
// started nothing), the starting window is killed half-way, and the service takes the
// upgrade to its end, which the other window's page shows.
// The chart's source in a client window: the service's history over the bus, asked
// from a thread of the window's side and answered on the engine thread.
TEST(ServiceWindow, AClientWindowsHistoryComesFromTheService) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) + " status=" +
             kit.block("hot.bin", sim::makeStatusRecord(sim::StatusOptions().setFan(0xA4, 2500, 63))));
    kit.line("0 volume E 1");
    kit.realTimeOptions(0);
    PrivateBus system(kit.dir());
    if (!system.start()) GTEST_SKIP() << "no dbus-daemon";
    test::BackgroundTool service;
    const std::string err = kit.dir() + "/service.err";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", kit.dir() + "/test.scenario", "--log-dir", kit.dir() + "/logs",
                               "--settings", kit.dir() + "/settings.reg", "--bus", system.address()},
                              kit.dir() + "/service.out", err));
    ClientWindow window(system.address());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.caption().contains(QLatin1String("[E]")); }, 60000))
        << window.caption().toStdString() << slurp(err);
    HistorySource* source = window.onEngine([](MainForm& f) { return &f.historySource(); });
    struct Answer {
        std::mutex mu;
        bool ok = false;
        HistorySeries series;
        std::string error;
        int answers = 0;
    };
    auto answer = std::make_shared<Answer>();
    const auto ask = [&](int device) {
        std::thread asker([source, answer, device] {
            source->history(device, 0, [answer](bool ok, const HistorySeries& s, const std::string& error) {
                std::lock_guard<std::mutex> lock(answer->mu);
                answer->ok = ok;
                answer->series = s;
                answer->error = error;
                ++answer->answers;
            });
        });
        asker.join();
    };
    // The service's first sample comes with its first poll: asked until it is there.
    bool got = false;
    for (int round = 0; round < 240 && !got; ++round) {
        {
            std::lock_guard<std::mutex> lock(answer->mu);
            answer->answers = 0;
        }
        ask(0);
        (void)QTest::qWaitFor([&] { std::lock_guard<std::mutex> lock(answer->mu); return answer->answers > 0; }, 30000);
        std::lock_guard<std::mutex> lock(answer->mu);
        got = answer->ok && !answer->series.samples.empty();
        if (!got) QTest::qWait(500);
    }
    ASSERT_TRUE(got) << answer->error << slurp(err);
    {
        std::lock_guard<std::mutex> lock(answer->mu);
        EXPECT_EQ(answer->series.label, "SIM DUAL BAY RAID ENCLOSURE SIMENC00000000000001");
        EXPECT_EQ(answer->series.samples.back().temperature, 63);
        EXPECT_EQ(answer->series.samples.back().fanSpeed, 2500);
        EXPECT_EQ(answer->series.samples.back().alarms, 0x04);
    }
    // A device the window does not show: the window's own answer, no call.
    {
        std::lock_guard<std::mutex> lock(answer->mu);
        answer->answers = 0;
    }
    ask(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { std::lock_guard<std::mutex> lock(answer->mu); return answer->answers > 0; }, 30000));
    {
        std::lock_guard<std::mutex> lock(answer->mu);
        EXPECT_FALSE(answer->ok);
        EXPECT_EQ(answer->error, "The service shows no such enclosure");
    }
    EXPECT_EQ(service.stop(), 0) << slurp(err);
}

TEST(ServiceWindow, AnUpgradeFromOneWindowShowsInBothAndGoesOnWhenThatWindowIsKilled) {
    if (::access("/usr/bin/python3", X_OK) != 0 ||
        std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3-dbusmock";
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("0 volume E 1");
    kit.realTimeOptions(0);
    ::chmod(kit.dir().c_str(), 0755);
    PrivateBus system(kit.dir());
    if (!system.start()) GTEST_SKIP() << "no dbus-daemon";
    if (!system.startPolkit()) GTEST_SKIP() << "no python3-dbusmock";
    const bool asNobody = ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0;
    // Five sub-codes: a full upgrade, in four steps.
    sim::FirmwareImageOptions full;
    full.subCodes = {{0x31, std::nullopt, true}, {0x32, std::nullopt, true}, {0x33, std::nullopt, true},
                     {0x34, std::nullopt, true}, {0x36, std::nullopt, true}};
    const std::vector<std::uint8_t> bytes = sim::makeFirmwareImage(full);
    const std::string image = kit.dir() + "/fw.bin";
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));

    test::BackgroundTool service;
    const std::string err = kit.dir() + "/service.err", trace = kit.dir() + "/trace.txt";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--trace", trace, "--latency-us", "1500", "--scenario", kit.dir() + "/test.scenario",
                               "--log-dir", kit.dir() + "/logs", "--settings", kit.dir() + "/settings.reg", "--bus",
                               system.address()},
                              kit.dir() + "/service.out", err));
    test::BusClient client(system.address());
    ASSERT_TRUE(client.ok());
    Desktop other(kit.dir() + "/other", asNobody ? 65534 : -1);
    ASSERT_TRUE(other.startSession());
    ASSERT_TRUE(other.startWindow(system.address()));
    const std::string caption = "RAID GUI v0.23.7-3 - SIM DUAL BAY RAID ENCLOSURE [E]";
    ASSERT_TRUE(PrivateBus::waitFor([&] { return other.shows("TForm1", caption); })) << other.lines() << slurp(err);

    // The starting window: this test program as a window of its own (it is killed).
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::vector<std::string> starter = {self, "--upgrading-window", system.address(), image};
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "HOME=" + kit.dir()};
    {
        Child refused;
        const std::string out = kit.dir() + "/refused.out";
        ASSERT_TRUE(refused.start(starter, env, asNobody ? 65534 : -1, out));
        EXPECT_TRUE(PrivateBus::waitFor([&] {
            return slurp(out).find(" MessageBox[Message] The firmware upgrade was not allowed: not authorized") !=
                   std::string::npos;
        })) << slurp(out);
        refused.kill();
    }
    EXPECT_EQ(upgradeModeCommands(slurp(trace)), 0);
    EXPECT_FALSE(client.seen("InterfacesAdded", "", "/org/qxraidgui/Monitor1/job/1"));

    ASSERT_TRUE(system.allowActions({"org.qxraidgui.monitor1.upgrade-firmware"}));
    Child window;
    const std::string out = kit.dir() + "/starter.out";
    // As an ordinary user too, when the test may: the image is the user's own file.
    ASSERT_TRUE(window.start(starter, env, asNobody ? 65534 : -1, out));
    const std::string half = " UpgradePanel Process 3 / 4\n";
    EXPECT_TRUE(PrivateBus::waitFor([&] {
        return slurp(out).find(half) != std::string::npos && other.lines().find(half) != std::string::npos;
    })) << slurp(out) << "\n--\n" << other.lines() << slurp(err);
    for (const std::string& lines : {slurp(out), other.lines()}) {
        EXPECT_NE(lines.find(" UpgradeTitle Firmware Update...\n"), std::string::npos) << lines;
        EXPECT_NE(lines.find(" UpgradePanel shown\n"), std::string::npos) << lines;
        EXPECT_TRUE(barMoved(lines)) << lines;
    }
    // The other window's page is held as during an upgrade of its own.
    EXPECT_TRUE(other.shows("CheckBox1", "disabled")) << other.lines();
    if (asNobody) {
        EXPECT_EQ(client.jobProperty("/org/qxraidgui/Monitor1/job/1", "OwnerUid", 'u'), "65534");
    }
    window.kill();
    EXPECT_EQ(upgradeModeCommands(slurp(trace)), 1);

    // The service takes the upgrade to its end; the other window follows it and its
    // page comes back (no closing box there: the upgrade was not its own).
    const std::string job = "/org/qxraidgui/Monitor1/job/1";
    EXPECT_TRUE(client.until([&] { return client.seen("Finished", job); })) << slurp(err);
    EXPECT_TRUE(client.seen("Finished", job, "true Firmware Upgrade 4/4 completed!"));
    EXPECT_EQ(upgradeModeCommands(slurp(trace)), 2);
    EXPECT_TRUE(PrivateBus::waitFor([&] {
        const std::string lines = other.lines();
        const std::size_t end = lines.find(" UpgradePanel Process 4 / 4\n");
        return end != std::string::npos && lines.find(" UpgradePanel hidden\n", end) != std::string::npos &&
               lines.find(" CheckBox1 enabled\n", end) != std::string::npos;
    })) << other.lines();
    EXPECT_EQ(other.lines().find("MessageBox["), std::string::npos);
    EXPECT_EQ(service.stop(), 0) << slurp(err);
    EXPECT_EQ(other.stopWindow(), 0);
}

}  // namespace

namespace test {

// The window that starts the upgrade above, in a process of its own:
// `test_gui --upgrading-window BUS IMAGE`. Once it shows the enclosure it loads IMAGE
// on the Upgrade page and presses Upgrade, printing what it shows, then waits to be
// ended.
int runUpgradingWindow(const std::string& bus, const std::string& image) {
    // Each line as it comes: the test reads them while the window runs, and kills it.
    std::cout << std::unitbuf;
    ClientWindow window(bus, image, true);
    if (!QTest::qWaitFor([&] { return window.caption().contains(QLatin1String("[E]")); }, 120000)) return 3;
    window.onEngine([](MainForm& f) {
        f.Click(names::Image_FWUpg);
        f.Click(names::Image2_Load);
        f.Click(names::Image2_Upgrade);
        return 0;
    });
    for (;;) QTest::qWait(1000);
}

}  // namespace test
}  // namespace raid

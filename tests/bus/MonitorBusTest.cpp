// raid-gui-monitor-sim on simulated enclosures, published on a private system-like bus,
// watched by a client as a script or a window would.
#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "bus/BusClient.h"
#include "notify/PythonSmtpServer.h"
#include "service/bus/MailClient.h"
#include "service/BusBridge.h"
#include "sim/Records.h"
#include "support/PrivateBus.h"
#include "support/ScenarioKit.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

using test::BusClient;
using test::PrivateBus;
using test::ScenarioKit;

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST(MonitorBus, ClientsSeeEnclosuresComeChangeAndGoWhileHostileCallsGetErrors) {
    ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("0 volume E 1");
    kit.line("9 status 1 " +
             kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent))));
    kit.line("24 detach 1");
    kit.realTimeOptions(0);
    PrivateBus privateBus(kit.dir());
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    // polkit as the bus offers it: every action refused until the test allows it.
    const bool polkit = privateBus.startPolkit();
    BusClient client(privateBus.address());
    ASSERT_TRUE(client.ok());

    // Only a watching run is on a bus.
    const test::ToolResult oneLook =
        test::runBuiltTool("raid-gui-monitor-sim", "--status --bus " + privateBus.address(), kit.dir());
    EXPECT_EQ(oneLook.status, 2);
    EXPECT_NE(oneLook.err.find("--bus goes with a watching run"), std::string::npos) << oneLook.err;

    test::BackgroundTool service;
    const std::string out = kit.dir() + "/watch.out", err = kit.dir() + "/watch.err";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", kit.dir() + "/test.scenario", "--log-dir", kit.dir() + "/logs",
                               "--settings", kit.dir() + "/settings.reg", "--bus", privateBus.address()},
                              out, err));
    const std::string one = "/org/qxraidgui/Monitor1/enclosure/drive1";
    ASSERT_TRUE(client.until([&] { return client.seen("InterfacesAdded", "", one); })) << slurp(err);
    EXPECT_EQ(client.bytesOf(one, "StatusRecord"), 512);
    EXPECT_EQ(client.bytesOf(one, "IdentityPage"), 512);
    EXPECT_EQ(client.bayStates(one), (std::vector<std::string>{"present", "present"}));

    // The pulled drive shows in the change signal of the poll that read it.
    EXPECT_TRUE(client.until([&] {
        return client.seen("PropertiesChanged", one) && client.bayStates(one).size() == 2 &&
               client.bayStates(one)[1] != "present";
    }));
    EXPECT_TRUE(client.until([&] { return client.seen("AlertRaised"); }));
    EXPECT_TRUE(client.until([&] { return client.seen("LogLine", "", "HDD2"); }));

    // Hostile and unauthorized calls get errors; the day logs stay closed while polkit
    // says no.
    EXPECT_EQ(client.call("GetDayLog"), "org.qxraidgui.Monitor1.Error.NotAuthorized");
    EXPECT_EQ(client.call("GetOlderDayLog", "s", "../../etc/passwd"), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_NE(privateBus.busctl("call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                                "GetOlderDayLog ay 3 1 2 3"),
              0);
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0) {
        const std::string as =
            "setpriv --reuid=65534 --regid=65534 --clear-groups busctl --address=" + privateBus.address();
        EXPECT_EQ(std::system((as + " get-property org.qxraidgui.Monitor1 " + one +
                               " org.qxraidgui.Monitor1.Enclosure Health >/dev/null 2>&1")
                                  .c_str()),
                  0);
        EXPECT_NE(std::system((as + " call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                                    "GetOlderDayLog s 261201 >/dev/null 2>&1")
                                  .c_str()),
                  0);
    }
    // A flood of calls: every one gets an error, the polls go on.
    int answered = 0;
    std::vector<sd_bus_slot*> slots;
    for (int i = 0; i < 120; ++i) {
        sd_bus_slot* slot = nullptr;
        sd_bus_call_method_async(
            client.bus(), &slot, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1", "org.qxraidgui.Monitor1",
            i % 2 ? "GetDayLog" : "ListDayLogs",
            [](sd_bus_message* m, void* data, sd_bus_error*) {
                *static_cast<int*>(data) += sd_bus_message_is_method_error(m, nullptr) ? 1 : 1000;
                return 0;
            },
            &answered, "");
        slots.push_back(slot);
    }
    EXPECT_TRUE(client.until([&] { return answered >= 120; }));
    EXPECT_EQ(answered, 120);  // under the bus daemon's own bound of waiting replies
    for (sd_bus_slot* s : slots) sd_bus_slot_unref(s);
    // polkit allows reading the logs: now the day's lines come, the pulled drive's among
    // them; taken back, the log is closed again.
    if (polkit) {
        ASSERT_TRUE(privateBus.allowActions({"org.qxraidgui.monitor1.read-logs"}));
        std::vector<std::string> lines;
        EXPECT_EQ(client.call("GetDayLog", "", nullptr, &lines), "");
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("HDD2") != std::string::npos;
        })) << lines.size();
        ASSERT_TRUE(privateBus.allowActions({}));
        EXPECT_EQ(client.call("GetDayLog"), "org.qxraidgui.Monitor1.Error.NotAuthorized");
    }
    const unsigned before = client.poll(one);
    EXPECT_TRUE(client.until([&] { return client.poll(one) > before || client.seen("InterfacesRemoved", "", one); }));

    // The enclosure unplugged: its object goes.
    EXPECT_TRUE(client.until([&] { return client.seen("InterfacesRemoved", "", one); }));
    EXPECT_EQ(client.bytesOf(one, "StatusRecord"), -1);
    EXPECT_TRUE(service.running());
    EXPECT_EQ(service.stop(), 0) << slurp(err);
    EXPECT_EQ(slurp(err).find("not on the bus"), std::string::npos) << slurp(err);
}

TEST(MonitorBus, ADayIsReadOnlyFromARegularFileOfBoundedSizeInTheLogFolders) {
    ScenarioKit kit;
    const std::string logs = kit.dir() + "/logs", fallback = kit.dir() + "/fallback";
    std::filesystem::create_directories(logs);
    std::filesystem::create_directories(fallback);
    std::ofstream(logs + "/261201.log") << "one\r\ntwo\r\n";
    std::ofstream(fallback + "/261202.log") << "kept aside\r\n";
    std::filesystem::create_symlink("/etc/passwd", logs + "/261203.log");
    ASSERT_EQ(mkfifo((logs + "/261204.log").c_str(), 0600), 0);
    {
        std::ofstream big(logs + "/261205.log");
        big << std::string(service::kMaxDayLogBytes + 1, 'x');
    }
    std::ofstream(logs + "/notes.txt") << "no day";

    bus::DayLogAnswer a = service::readDayLog(logs, fallback, "261201");
    EXPECT_EQ(a.errorName, "");
    EXPECT_EQ(a.lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(service::readDayLog(logs, fallback, "261202").lines, std::vector<std::string>{"kept aside"});
    EXPECT_EQ(service::readDayLog(logs, fallback, "261203").errorName, "org.qxraidgui.Monitor1.Error.Unreadable");
    EXPECT_EQ(service::readDayLog(logs, fallback, "261204").errorName, "org.qxraidgui.Monitor1.Error.Unreadable");
    EXPECT_EQ(service::readDayLog(logs, fallback, "261205").errorName, "org.qxraidgui.Monitor1.Error.TooBig");
    EXPECT_EQ(service::readDayLog(logs, fallback, "261206").errorName, "org.qxraidgui.Monitor1.Error.NoSuchDay");
    EXPECT_EQ(service::readDayLog(logs, fallback, "../../etc/passwd").errorName,
              "org.qxraidgui.Monitor1.Error.NoSuchDay");
    // Only regular day files are listed (the link and the FIFO are not).
    EXPECT_EQ(service::listDayLogs(logs, fallback).lines, (std::vector<std::string>{"261201", "261202", "261205"}));
}

// The mail settings through the running service: refused until polkit allows, then
// saved byte for byte as the E-mail page saves them, used by the next alert mail at
// once, and the password never given back. --set and --test-mail find the service.
TEST(MonitorBus, MailSettingsGoThroughTheRunningServiceAndItsPolkitCheck) {
    const std::string python = testing::PythonSmtpServer::python();
    if (python.empty()) GTEST_SKIP() << "no python3 with aiosmtpd";
    testing::PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {"--auth"}));
    ScenarioKit kit;
    const std::string words = "host=127.0.0.1 port=" + std::to_string(smtp.port) +
                              " addr=ops@example.org login=on password=Secret123 to=a@x.org to=b@x.org "
                              "subject1=\"Disk trouble\" subject2=Gone";
    // The page, filled by the scenario step in raid-gui-sim.
    {
        ScenarioKit page;
        page.line("0 disk 0").line("1 email " + words);
        page.realTimeOptions(0);
        ASSERT_EQ(test::runSimTool("--headless --until 3 --scenario " + page.dir() + "/test.scenario --settings " +
                                       kit.dir() + "/page.reg --log-dir " + page.dir(),
                                   page.dir())
                      .status,
                  0);
    }
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    // Late enough for the save to come first, also under a sanitizer.
    kit.line("20 detach 1");
    kit.realTimeOptions(0);
    PrivateBus privateBus(kit.dir());
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    if (!privateBus.startPolkit()) GTEST_SKIP() << "no python3-dbusmock";
    BusClient client(privateBus.address());
    ASSERT_TRUE(client.ok());
    test::BackgroundTool service;
    const std::string settings = kit.dir() + "/service.reg", err = kit.dir() + "/watch.err";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", kit.dir() + "/test.scenario", "--log-dir", kit.dir() + "/logs",
                               "--settings", settings, "--bus", privateBus.address()},
                              kit.dir() + "/watch.out", err));
    ASSERT_TRUE(PrivateBus::waitFor([&] { return privateBus.owned("org.qxraidgui.Monitor1"); })) << slurp(err);
    const std::string bus = " --bus " + privateBus.address() + " --log-dir " + kit.dir() + "/logs";
    const std::string before = slurp(settings);

    // Refused: nothing is read or saved, no mail goes out.
    test::ToolResult r = test::runBuiltTool("raid-gui-monitor-sim", "--set " + words + bus, kit.dir());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not authorized"), std::string::npos) << r.err;
    r = test::runBuiltTool("raid-gui-monitor-sim", "--test-mail" + bus, kit.dir());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not authorized"), std::string::npos) << r.err;
    EXPECT_EQ(client.call("GetMailSettings"), "org.qxraidgui.Monitor1.Error.NotAuthorized");
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0) {
        // An ordinary user against the root service: asked about, refused, nothing saved.
        r = test::runBuiltTool("raid-gui-monitor-sim", "--set " + words + bus, kit.dir(), "",
                               "setpriv --reuid=65534 --regid=65534 --clear-groups");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("not authorized"), std::string::npos) << r.err;
    }
    EXPECT_EQ(slurp(settings), before);

    // Allowed: the service's file is what the page writes; a second --set keeps the
    // password it does not name.
    ASSERT_TRUE(privateBus.allowActions({"org.qxraidgui.monitor1.configure-mail"}));
    r = test::runBuiltTool("raid-gui-monitor-sim", "--set " + words + bus, kit.dir());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Settings saved by the running service"), std::string::npos) << r.out;
    const std::string page = slurp(kit.dir() + "/page.reg");
    EXPECT_FALSE(page.empty());
    EXPECT_EQ(slurp(settings), page);
    ASSERT_EQ(test::runBuiltTool("raid-gui-monitor-sim", "--set subject1=\"Disk trouble\"" + bus, kit.dir()).status, 0);
    EXPECT_EQ(slurp(settings), page);

    bus::MailClient mail;
    ASSERT_TRUE(mail.connect(privateBus.address()));
    SettingsEdits shown;
    EXPECT_EQ(mail.get(shown), "");
    EXPECT_EQ(shown.fields[kPassword], "stored");
    EXPECT_EQ(shown.fields[kHost], "127.0.0.1");
    EXPECT_EQ(shown.working, (std::vector<std::string>{"a@x.org", "b@x.org"}));
    EXPECT_TRUE(shown.loginOn);
    // A save the page refuses gives the page's words and saves nothing.
    SettingsEdits bad = shown;
    bad.fields[kPassword].clear();
    bad.fields[kHost] = std::string(300, 'h');  // longer than a DNS name
    bus::MailAnswer refused;
    EXPECT_EQ(mail.save(bad, false, refused), "");
    EXPECT_FALSE(refused.saved);
    EXPECT_FALSE(refused.problem.empty());
    EXPECT_EQ(refused.values.fields[kPassword], "stored");
    EXPECT_EQ(slurp(settings), page);
    // Hostile values are refused before anything else.
    // (The host is too long for the page: a call of the right shape is answered, and
    // saves nothing.)
    const std::string save = "call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                             "SaveMailSettings ssssssbsbbbuasasas 25 " + std::string(300, 'h') + " '' a@x.org 0 '' ";
    EXPECT_EQ(privateBus.busctl(save + "true x false false false 0 0 2 a b 2 c d"), 0);
    EXPECT_NE(privateBus.busctl(save + "false x false false false 0 0 2 a b 2 c d"), 0);  // a password that is no new one
    EXPECT_NE(privateBus.busctl(save + "true x false false false 0 0 1 a 2 c d"), 0);  // one subject
    bad = shown;
    bad.fields[kHost] = std::string(5000, 'h');
    EXPECT_NE(mail.save(bad, true, refused), "");
    bad = shown;
    bad.working.assign(40, "a@x.org");
    EXPECT_NE(mail.save(bad, false, refused), "");
    bad = shown;
    bad.security = 7;
    EXPECT_NE(mail.save(bad, false, refused), "");
    EXPECT_EQ(slurp(settings), page);

    // The test mail through the service, then the alert mail with the new settings.
    r = test::runBuiltTool("raid-gui-monitor-sim", "--test-mail" + bus, kit.dir());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Test mail sent"), std::string::npos) << r.out;
    EXPECT_TRUE(client.until([&] { return client.seen("AlertRaised"); })) << slurp(err);
    EXPECT_TRUE(PrivateBus::waitFor([&] { return smtp.received().size() >= 2; })) << slurp(err);
    const auto mails = smtp.received();
    ASSERT_GE(mails.size(), 2u);
    for (const auto& m : mails) {
        EXPECT_EQ(m.rcptTos, (std::vector<std::string>{"a@x.org", "b@x.org"}));
        EXPECT_EQ(m.password, "Secret123");
    }
    EXPECT_NE(mails.back().subject.find("Gone"), std::string::npos) << mails.back().subject;

    // The password was never on the bus from the service: not in a signal, a property
    // or the objects' description.
    client.until([&] { return false; }, std::chrono::seconds(1));
    EXPECT_FALSE(client.signals.empty());
    for (const auto& s : client.signals) EXPECT_EQ(s.raw.find("Secret123"), std::string::npos) << s.raw;
    const std::string tree = kit.dir() + "/tree.txt";
    EXPECT_EQ(privateBus.busctl("introspect org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1", tree), 0);
    EXPECT_NE(slurp(tree).find("SaveMailSettings"), std::string::npos);
    EXPECT_EQ(slurp(tree).find("Secret123"), std::string::npos);
    EXPECT_EQ(service.stop(), 0) << slurp(err);
}

}  // namespace
}  // namespace raid

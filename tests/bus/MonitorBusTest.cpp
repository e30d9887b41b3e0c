// raid-gui-monitor-sim on simulated enclosures, published on a private system-like bus,
// watched by a client as a script or a window would.
#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <thread>
#include <fstream>

#include "bus/BusClient.h"
#include "notify/PythonSmtpServer.h"
#include "service/bus/MailClient.h"
#include "service/BusBridge.h"
#include "maintenance/ImageLoader.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "support/PrivateBus.h"
#include "support/ScenarioKit.h"
#include "support/StallingFuse.h"
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

// GetHistory: every local user reads an enclosure's samples, as the properties; the
// arguments are checked before the engine is asked.
TEST(MonitorBus, AnyUserReadsTheHistoryAndOutOfRangeArgumentsAreRefused) {
    ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) + " status=" +
             kit.block("ok.bin", sim::makeStatusRecord(sim::StatusOptions().setFan(0xA1, 900, 47))));
    kit.realTimeOptions(0);
    PrivateBus privateBus(kit.dir());
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    privateBus.startPolkit();  // refuses everything: GetHistory does not ask it
    BusClient client(privateBus.address());
    ASSERT_TRUE(client.ok());
    test::BackgroundTool service;
    const std::string err = kit.dir() + "/watch.err";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", kit.dir() + "/test.scenario", "--log-dir", kit.dir() + "/logs",
                               "--settings", kit.dir() + "/settings.reg", "--bus", privateBus.address()},
                              kit.dir() + "/watch.out", err));
    const std::string one = "/org/qxraidgui/Monitor1/enclosure/drive1";
    ASSERT_TRUE(client.until([&] { return client.poll(one) > 0; })) << slurp(err);
    const std::string who = geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0
                                ? "setpriv --reuid=65534 --regid=65534 --clear-groups "
                                : "";
    const std::string call = "timeout 60 " + who + "busctl --json=short --address=" + privateBus.address() +
                             " call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 GetHistory ou ";
    const std::string answer = kit.dir() + "/history.json";
    EXPECT_EQ(std::system((call + one + " 0 >" + answer + " 2>&1").c_str()), 0) << slurp(answer);
    const std::string json = slurp(answer);
    EXPECT_NE(json.find("\"ssina(xniyyyy)\""), std::string::npos) << json;
    EXPECT_NE(json.find("SIM DUAL BAY RAID ENCLOSURE SIMENC00000000000001"), std::string::npos) << json;
    EXPECT_NE(json.find(",47,900,1,"), std::string::npos) << json;  // temperature, fan, fan alarm
    // Later than any sample: none, and no error.
    EXPECT_EQ(std::system((call + one + " 4102444800 >" + answer + " 2>&1").c_str()), 0) << slurp(answer);
    EXPECT_NE(slurp(answer).find("[]"), std::string::npos) << slurp(answer);
    // Past the bound, another object, an enclosure that has no history.
    const std::pair<std::string, std::string> refused[] = {
        {one + " 4102444801", "the first minute is a Unix time before 2100"},
        {one + " 4294967295", "the first minute is a Unix time before 2100"},
        {"/org/x 0", "the enclosure is an object"},
        {"/org/qxraidgui/Monitor1/enclosure/drive01 0", "the enclosure is an object"},
    };
    for (const auto& [args, says] : refused) {
        EXPECT_NE(std::system((call + args + " >" + answer + " 2>&1").c_str()), 0) << args;
        EXPECT_NE(slurp(answer).find(says), std::string::npos) << args << ": " << slurp(answer);
    }
    EXPECT_NE(std::system((call + "/org/qxraidgui/Monitor1/enclosure/drive7 0 >" + answer + " 2>&1").c_str()), 0);
    EXPECT_NE(slurp(answer).find("No history is kept for this enclosure"), std::string::npos) << slurp(answer);
    EXPECT_TRUE(service.running());
    EXPECT_EQ(service.stop(), 0) << slurp(err);
}

// Lines of the trace with the mailbox command that starts or ends a controller's
// upgrade mode: two per upgrade that reached the enclosure.
int upgradeModeCommands(const std::string& trace) {
    int n = 0;
    for (std::size_t at = trace.find("data=335810"); at != std::string::npos; at = trace.find("data=335810", at + 1)) ++n;
    return n;
}

// A firmware upgrade started on the bus: hostile descriptors and arguments refused
// with the system's words before polkit is asked, nothing sent to the enclosure while
// polkit says no, a flood turned away while the polls go on; allowed, it runs as a job
// another client follows to its end, refuses a second upgrade meanwhile, outlives the
// unprivileged caller that started it and is killed half-way, and goes a minute later.
TEST(MonitorBus, AnUpgradeRunsAsAJobThatOutlivesItsCallerWhileHostileRequestsAreRefused) {
    ScenarioKit kit;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage({})) +
             " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("0 volume E 1");
    kit.realTimeOptions(0);
    PrivateBus privateBus(kit.dir());
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    if (!privateBus.startPolkit() || std::system("/usr/bin/python3 -c 'import dbus' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3-dbusmock or python3-dbus";
    BusClient client(privateBus.address());
    ASSERT_TRUE(client.ok());
    test::BackgroundTool service;
    const std::string err = kit.dir() + "/watch.err", trace = kit.dir() + "/trace.txt";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--trace", trace, "--scenario", kit.dir() + "/test.scenario", "--log-dir",
                               kit.dir() + "/logs", "--settings", kit.dir() + "/settings.reg", "--bus",
                               privateBus.address()},
                              kit.dir() + "/watch.out", err));
    const std::string one = "/org/qxraidgui/Monitor1/enclosure/drive1";
    ASSERT_TRUE(client.until([&] { return client.seen("InterfacesAdded", "", one); })) << slurp(err);

    const std::vector<std::uint8_t> bytes = sim::makeFirmwareImage();
    const std::string image = kit.dir() + "/fw.bin";
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    const auto refusedWith = [&](int fd, const std::string& enclosure = "/org/qxraidgui/Monitor1/enclosure/drive1") {
        const std::string answer = client.startUpgrade(enclosure, fd);
        if (fd >= 0) close(fd);
        return answer;
    };
    const std::string openFail = "!org.qxraidgui.Monitor1.Error.Refused: " + std::string(kOpenFailText);
    const std::string notFirmware = "!org.qxraidgui.Monitor1.Error.Refused: " + std::string(kNotFirmwareText);
    // Descriptors no image comes from, each told in the loader's words; nothing waits.
    ASSERT_EQ(mkfifo((kit.dir() + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(refusedWith(open((kit.dir() + "/fifo").c_str(), O_RDWR | O_NONBLOCK)), openFail);
    EXPECT_EQ(refusedWith(open("/dev/zero", O_RDONLY)), openFail);
    EXPECT_EQ(refusedWith(open(kit.dir().c_str(), O_RDONLY | O_DIRECTORY)), openFail);
    EXPECT_EQ(refusedWith(open(image.c_str(), O_WRONLY)), openFail);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    EXPECT_EQ(refusedWith(pair[0]), openFail);
    std::ofstream(kit.dir() + "/short.bin", std::ios::binary) << std::string(1000, 'x');
    EXPECT_EQ(refusedWith(open((kit.dir() + "/short.bin").c_str(), O_RDONLY)), notFirmware);
    int huge = open((kit.dir() + "/huge.bin").c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_EQ(ftruncate(huge, 100'000'000), 0);
    EXPECT_EQ(refusedWith(huge), openFail);
    // A file on a mount whose server never answers a read: the bus goes on serving
    // everyone while the read hangs, and the call is refused once its time is up.
    {
        test::StallingFuse stall(kit.dir() + "/stall", bytes.size());
        if (stall.ok()) {
            std::string answer;
            std::thread caller([&] {
                BusClient other(privateBus.address());
                const int fd = open(stall.file().c_str(), O_RDONLY);
                answer = other.startUpgrade(one, fd);
                if (fd >= 0) close(fd);
            });
            ASSERT_TRUE(client.until([&] { return stall.readsWaiting() > 0; }));
            const unsigned before = client.poll(one);
            EXPECT_TRUE(client.until([&] { return client.poll(one) > before; })) << "the bus stood still";
            caller.join();
            EXPECT_EQ(answer, openFail);
        }
    }
    // Enclosures that are not there, and paths that name none.
    EXPECT_EQ(refusedWith(open(image.c_str(), O_RDONLY), "/org/qxraidgui/Monitor1/enclosure/drive7"),
              "!org.qxraidgui.Monitor1.Error.Refused: No Device found !");
    for (const char* bad : {"/org/qxraidgui/Monitor1/enclosure/drive01", "/org/qxraidgui/Monitor1/enclosure/drive",
                            "/org/qxraidgui/Monitor1", "/org/qxraidgui/Monitor1/enclosure/drive1/x"})
        EXPECT_EQ(refusedWith(open(image.c_str(), O_RDONLY), bad).rfind("!org.freedesktop.DBus.Error.InvalidArgs", 0),
                  0u)
            << bad;
    EXPECT_NE(privateBus.busctl("call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                                "StartUpgrade os " + one + " x"),
              0);
    // A good image while polkit says no: refused, and nothing reaches the enclosure.
    EXPECT_EQ(refusedWith(open(image.c_str(), O_RDONLY)).rfind("!org.qxraidgui.Monitor1.Error.NotAuthorized", 0), 0u);
    // A flood: every call gets an error, the polls go on.
    int answered = 0, busy = 0;
    std::pair<int*, int*> counters{&answered, &busy};
    std::vector<sd_bus_slot*> slots;
    const int fd = open(image.c_str(), O_RDONLY);
    for (int i = 0; i < 60; ++i) {
        sd_bus_slot* slot = nullptr;
        sd_bus_call_method_async(
            client.bus(), &slot, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1", "org.qxraidgui.Monitor1",
            "StartUpgrade",
            [](sd_bus_message* m, void* data, sd_bus_error*) {
                auto* c = static_cast<std::pair<int*, int*>*>(data);
                *c->first += sd_bus_message_is_method_error(m, nullptr) ? 1 : 1000;
                *c->second += sd_bus_message_is_method_error(m, "org.qxraidgui.Monitor1.Error.Busy");
                return 0;
            },
            &counters, "oh", one.c_str(), fd);
        slots.push_back(slot);
    }
    close(fd);
    EXPECT_TRUE(client.until([&] { return answered >= 60; }));
    EXPECT_EQ(answered, 60);
    EXPECT_GT(busy, 0);
    for (sd_bus_slot* s : slots) sd_bus_slot_unref(s);
    const unsigned before = client.poll(one);
    EXPECT_TRUE(client.until([&] { return client.poll(one) > before; }));

    // Allowed: a caller starts it and stays on the bus, as nobody when the test may
    // (the image is the caller's descriptor: it need not read the file by path).
    ASSERT_TRUE(privateBus.allowActions({"org.qxraidgui.monitor1.upgrade-firmware"}));
    // An image's size but no image: the engine's loader refuses it in its own words, and
    // no job is made of it.
    std::ofstream(kit.dir() + "/zeros.bin", std::ios::binary) << std::string(bytes.size(), '\0');
    EXPECT_EQ(refusedWith(open((kit.dir() + "/zeros.bin").c_str(), O_RDONLY)), notFirmware);
    const std::string script = kit.dir() + "/start.py", started = kit.dir() + "/started.txt";
    std::ofstream(script) << "import sys, time, dbus\n"
                             "b = dbus.bus.BusConnection(sys.argv[1])\n"
                             "m = b.get_object('org.qxraidgui.Monitor1', '/org/qxraidgui/Monitor1')\n"
                             "try:\n"
                             "    out = str(m.StartUpgrade(dbus.ObjectPath(sys.argv[2]), dbus.types.UnixFd(3),\n"
                             "                             dbus_interface='org.qxraidgui.Monitor1', timeout=600))\n"
                             "except dbus.DBusException as e:\n"
                             "    out = '!' + e.get_dbus_name() + ': ' + str(e.get_dbus_message())\n"
                             "with open(sys.argv[3], 'w') as f:\n"
                             "    f.write(out + '\\n')\n"
                             "while True:\n"
                             "    time.sleep(1)\n";
    chmod(script.c_str(), 0644);
    std::ofstream(started).flush();
    chmod(started.c_str(), 0666);
    const bool asNobody = geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
    if (asNobody) chmod(image.c_str(), 0600);
    const int imageFd = open(image.c_str(), O_RDONLY);
    ASSERT_GE(imageFd, 0);
    const pid_t caller = fork();
    if (caller == 0) {
        dup2(imageFd, 3);
        const std::string address = privateBus.address();
        if (asNobody)
            execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                  "/usr/bin/python3", script.c_str(), address.c_str(), one.c_str(), started.c_str(), nullptr);
        else
            execl("/usr/bin/python3", "python3", script.c_str(), address.c_str(), one.c_str(), started.c_str(), nullptr);
        _exit(127);
    }
    close(imageFd);
    ASSERT_GT(caller, 0);
    const std::string job = "/org/qxraidgui/Monitor1/job/1";
    EXPECT_TRUE(PrivateBus::waitFor([&] { return !slurp(started).empty(); })) << slurp(err);
    EXPECT_EQ(slurp(started), job + "\n");
    EXPECT_TRUE(client.until([&] { return client.seen("InterfacesAdded", "", job); }));
    EXPECT_EQ(client.jobProperty(job, "Enclosure", 'o'), one);
    EXPECT_EQ(client.jobProperty(job, "Operation", 's'), "upgrade");
    EXPECT_EQ(client.jobProperty(job, "Owner", 's').rfind(":1.", 0), 0u);
    if (asNobody) {
        EXPECT_EQ(client.jobProperty(job, "OwnerUid", 'u'), "65534");
    }
    // A second upgrade meanwhile: the system's words.
    EXPECT_EQ(refusedWith(open(image.c_str(), O_RDONLY)),
              "!org.qxraidgui.Monitor1.Error.Refused: Firmware is upgrading, please wait a moment.");
    // Past a fifth of the way the caller is killed; the upgrade goes on to its end.
    unsigned highest = 0;
    const auto progress = [&] {
        const auto number = [&](const char* property) {
            const std::string v = client.jobProperty(job, property, 'u');
            return v == "?" ? 0u : static_cast<unsigned>(std::stoul(v));
        };
        const unsigned value = number("ProgressValue"), maximum = number("ProgressMaximum");
        EXPECT_GE(value, highest);  // never backwards
        highest = std::max(highest, value);
        return std::make_pair(value, maximum);
    };
    EXPECT_TRUE(client.until([&] {
        const auto [value, maximum] = progress();
        return maximum > 0 && value * 5 > maximum;
    }));
    EXPECT_EQ(client.jobProperty(job, "Running", 'b'), "1");
    EXPECT_EQ(client.jobProperty(job, "Title", 's'), "Firmware Update...");
    EXPECT_EQ(kill(caller, SIGKILL), 0);
    waitpid(caller, nullptr, 0);
    EXPECT_TRUE(client.until([&] { return client.seen("Finished", job); })) << slurp(err);
    EXPECT_TRUE(client.seen("Finished", job, "true Firmware Upgrade "));
    EXPECT_EQ(client.jobProperty(job, "Running", 'b'), "0");
    EXPECT_EQ(client.jobProperty(job, "Succeeded", 'b'), "1");
    EXPECT_NE(client.jobProperty(job, "Outcome", 's').find("completed!"), std::string::npos);
    const auto [value, maximum] = progress();
    EXPECT_EQ(value, maximum);
    int changes = 0;
    for (const auto& sig : client.signals) changes += sig.member == "PropertiesChanged" && sig.path == job;
    EXPECT_GE(changes, 2);
    // The polls go on after it.
    const unsigned after = client.poll(one);
    EXPECT_TRUE(client.until([&] { return client.poll(one) > after; }));
    // A minute after its end the job's object goes.
    EXPECT_TRUE(client.until([&] { return client.seen("InterfacesRemoved", "", job); }));
    EXPECT_EQ(client.jobProperty(job, "Running", 'b'), "?");
    EXPECT_EQ(service.stop(), 0) << slurp(err);
    // Only the allowed upgrade reached the enclosure: one start and one end of its
    // upgrade mode.
    EXPECT_EQ(upgradeModeCommands(slurp(trace)), 2);
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

    // The alert program is root's: allowed to configure the mail is not allowed to name
    // it; allowed, the caller still gets no relative path, link or writable file in.
    const std::string program = kit.dir() + "/alert.sh";
    std::ofstream(program) << "#!/bin/sh\nexit 0\n";
    ::chmod(program.c_str(), 0755);
    const std::string setProgram = "call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                                   "SetAlertCommand s ";
    const std::string answer = kit.dir() + "/answer.txt";
    EXPECT_NE(privateBus.busctl(setProgram + program, answer), 0);
    EXPECT_NE(slurp(answer).find("not authorized"), std::string::npos) << slurp(answer);
    ASSERT_TRUE(privateBus.allowActions(
        {"org.qxraidgui.monitor1.configure-mail", "org.qxraidgui.monitor1.configure-alert-program"}));
    EXPECT_NE(privateBus.busctl(setProgram + "alert.sh", answer), 0);
    EXPECT_NE(slurp(answer).find("absolute path"), std::string::npos) << slurp(answer);
    ::chmod(program.c_str(), 0777);
    EXPECT_EQ(privateBus.busctl(setProgram + program, answer), 0);
    EXPECT_NE(slurp(answer).find("bs false \"" + program + ": it can be written"), std::string::npos) << slurp(answer);
    EXPECT_EQ(slurp(settings).find("AlertCommand"), std::string::npos);
    ::chmod(program.c_str(), 0755);
    EXPECT_EQ(privateBus.busctl(setProgram + program, answer), 0);
    EXPECT_EQ(slurp(answer), "bs true \"\"\n");
    EXPECT_NE(slurp(settings).find("\"AlertCommand\"=\"" + program + "\""), std::string::npos) << slurp(settings);

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

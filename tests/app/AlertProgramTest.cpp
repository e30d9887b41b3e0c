// The owner's alert program, as raid-gui-monitor runs it on simulated enclosures: every
// field of the alert reaches it exactly, a hanging one is ended at its limit while
// polling and mail go on, later alerts still run it, and a program that a root service
// must not run - named by another user, missing, writable by others, a link - is not,
// and each alert says so once.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "notify/PythonSmtpServer.h"
#include "support/ScenarioKit.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

using test::ScenarioKit;
using test::slurpFile;
using test::waitFor;
using testing::PythonSmtpServer;

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct AlertProgram : ::testing::Test {
    ScenarioKit kit;
    std::string settings;
    void SetUp() override { settings = kit.dir() + "/settings.reg"; }
    test::ToolResult monitor(const std::string& args, const std::string& prefix = "") {
        return test::runBuiltTool("raid-gui-monitor-sim", args + " --log-dir " + kit.dir() + "/logs", kit.dir(), "",
                                  prefix);
    }
    // A program for root to run: root's, mode 0755.
    std::string program(const std::string& name, const std::string& body) {
        const std::string path = kit.dir() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // The enclosure (its model with control characters in it) loses drive 2 at 2 s and
    // drive 1 at `second` s: two alerts.
    std::string scenario(int second) {
        kit.line("0 disk 0").line("0 volume C 0");
        kit.line("0 attach 1 mailbox identity=" +
                 kit.block("id.bin", sim::makeIdentityPage(sim::IdentityOptions().setModel("SIM\x01RAID\x1b[2J\x7f"
                                                                                           "BOX"))) +
                 " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
        kit.line("0 volume E 1");
        kit.line("2 status 1 " + kit.block("one.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(
                                                           1, sim::kDriveAbsent))));
        kit.line(std::to_string(second) + " status 1 " +
                 kit.block("two.bin", sim::makeStatusRecord(sim::StatusOptions()
                                                                .setDriveState(0, sim::kDriveAbsent)
                                                                .setDriveState(1, sim::kDriveAbsent))));
        kit.realTimeOptions(0);
        return kit.dir() + "/test.scenario";
    }
    std::string dayLog() {
        std::string all;
        if (std::filesystem::exists(kit.dir() + "/logs"))
            for (const auto& entry : std::filesystem::directory_iterator(kit.dir() + "/logs"))
                all += slurpFile(entry.path().string());
        return all;
    }
};

// NUL-separated NAME=value pairs (env -0).
std::map<std::string, std::string> environment(const std::string& text) {
    std::map<std::string, std::string> env;
    std::size_t from = 0;
    for (std::size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', from)) {
        const std::string pair = text.substr(from, nul - from);
        env[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
        from = nul + 1;
    }
    return env;
}

TEST_F(AlertProgram, EveryFieldReachesItAHangingOneIsEndedAndPollingAndMailGoOn) {
    const std::string python = PythonSmtpServer::python();
    if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd is not installed";
    PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {}));
    ASSERT_EQ(monitor("--set host=127.0.0.1 port=" + std::to_string(smtp.port) +
                      " addr=ops@example.org to=owner@example.org --settings " + settings)
                  .status,
              0);
    // The first run hangs, deaf to SIGTERM; the second records what it was given and
    // fails with two lines of error output.
    const std::string d = kit.dir();
    const std::string script = program(
        "alert.sh", "if [ ! -e " + d + "/hung ]; then\n  : > " + d + "/hung\n  trap '' TERM\n  sleep 100000\nfi\n" +
                        "cd /\nenv -0 > " + d + "/env.bin\ncat > " + d + "/stdin.txt\n" +
                        "printf 'first \\001line\\n2nd\\n' >&2\nexit 3\n");
    test::ToolResult r = monitor("--set alert-command=" + script + " --settings " + settings);
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string file = scenario(14);
    test::BackgroundTool service;
    // Nothing of the service's own environment reaches the program.
    service.env = {"RAID_TEST_SECRET=do-not-pass"};
    const std::string trace = d + "/watch.trace";
    ASSERT_TRUE(service.start("raid-gui-monitor-sim",
                              {"--scenario", file, "--trace", trace, "--alert-limit-ms", "4000", "--settings",
                               settings, "--log-dir", d + "/logs"},
                              d + "/watch.out", d + "/watch.err"));
    // While it hangs the enclosure is still polled and the first alert's mail goes out.
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(d + "/hung"); }, 120)) << slurpFile(d + "/watch.err");
    const std::size_t tracedAtHang = slurpFile(trace).size();
    ASSERT_TRUE(waitFor([&] { return !smtp.received().empty(); }, 120));
    ASSERT_TRUE(waitFor([&] { return dayLog().find("still running after 4 s, ended") != std::string::npos; }, 120))
        << dayLog();
    EXPECT_FALSE(std::filesystem::exists(d + "/env.bin")) << "the hanging run was not the first";
    EXPECT_GT(count(slurpFile(trace), "cdb=28"), count(slurpFile(trace).substr(0, tracedAtHang), "cdb=28"));
    // The second alert, raised meanwhile, runs it again once the first run has ended.
    ASSERT_TRUE(waitFor([&] { return dayLog().find("exit status 3") != std::string::npos; }, 120)) << dayLog();
    EXPECT_EQ(service.stop(), 0);

    const std::string log = dayLog();
    EXPECT_NE(log.find("Alert program failed: [Device1 P1 Hard Disk Drive fail, event "), std::string::npos) << log;
    EXPECT_NE(log.find("] exit status 3: first  line, "), std::string::npos) << log;
    EXPECT_EQ(log.find("2nd"), std::string::npos) << log;
    // No program of the hung run's group is left behind.
    EXPECT_NE(std::system(("pgrep -f 'sleep 10000[0]' >/dev/null")), 0);

    std::map<std::string, std::string> env = environment(slurpFile(d + "/env.bin"));
    env.erase("PWD");  // the shell's own, after its cd
    env.erase("OLDPWD");
    const std::string detail = env["RAID_ALERT_DETAIL"];
    const std::string model = "SIM RAID [2J BOX";
    const std::string host = env["RAID_ALERT_HOST"];
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    const std::map<std::string, std::string> expected = {
        {"PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"},
        {"HOME", "/"},
        {"LANG", "C.UTF-8"},
        {"RAID_ALERT_KIND", "1"},
        {"RAID_ALERT_KIND_NAME", "drive-fail"},
        {"RAID_ALERT_NAME", "Device1 P0 Hard Disk Drive fail"},
        {"RAID_ALERT_DEVICE", "Device1"},
        {"RAID_ALERT_MODEL", model},
        {"RAID_ALERT_PORT", "0"},
        {"RAID_ALERT_SUBJECT", smtp.received()[0].subject},  // as the mail of the same kind has it
        {"RAID_ALERT_DETAIL", detail},
        {"RAID_ALERT_HOST", name},
        {"RAID_ALERT_TIME", env["RAID_ALERT_TIME"]},
        {"RAID_ALERT_EPOCH", env["RAID_ALERT_EPOCH"]},
    };
    EXPECT_EQ(env, expected);
    EXPECT_EQ(detail.rfind("Device1 P0 Hard Disk Drive fail.\nDevice1 information :\nModel# " + model + "\n", 0), 0u)
        << detail;
    EXPECT_NE(detail.find("HDD1 is absent."), std::string::npos) << detail;
    for (const auto& [key, value] : env)
        for (char c : value) EXPECT_FALSE((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f) << key;
    EXPECT_LE(std::abs(std::stoll(env["RAID_ALERT_EPOCH"]) - static_cast<long long>(std::time(nullptr))), 600);
    EXPECT_NE(log.find("[Device1 P0 Hard Disk Drive fail, event " + env["RAID_ALERT_TIME"] + "] exit status 3"),
              std::string::npos)
        << log;
    EXPECT_EQ(slurpFile(d + "/stdin.txt"), env["RAID_ALERT_SUBJECT"] + "\n\n" + detail + "\nTime of the event: " +
                                               env["RAID_ALERT_TIME"] + "\nHost: " + name + "\n");
}

TEST_F(AlertProgram, OnlyRootNamesItAndOneAnotherUserCouldChangeIsNotRun) {
    const std::string good = program("alert.sh", "exit 0\n");
    // Another user of the machine names no program for root to run, not even in a file of his own.
    if (::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0) {
        const std::string theirs = kit.dir() + "/theirs";
        std::filesystem::create_directory(theirs);
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
        ::chmod(kit.dir().c_str(), 0755);
        const test::ToolResult r = monitor("--set alert-command=/bin/true --settings " + theirs + "/s.reg",
                                           "setpriv --reuid=65534 --regid=65534 --clear-groups");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("only root may set alert-command"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(theirs + "/s.reg"));
    }
    // Paths and files refused when set, nothing saved.
    const std::string writable = program("writable.sh", "exit 0\n");
    ::chmod(writable.c_str(), 0775);
    const std::string link = kit.dir() + "/link.sh";
    std::filesystem::create_symlink(good, link);
    const struct {
        std::string path, says;
    } refused[] = {
        {"alert.sh", "absolute path"},
        {kit.dir() + "/../x/alert.sh", "\"..\""},
        {kit.dir() + "/a\tb", "control character"},
        {writable, "can be written by its group or other users"},
        {link, "symbolic link"},
        {kit.dir() + "/none.sh", "No such file"},
        {"/dev/zero", "not a regular file"},
    };
    for (const auto& c : refused) {
        const test::ToolResult r = monitor("--set 'alert-command=" + c.path + "' --settings " + settings);
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.path << ": " << r.err;
        EXPECT_NE(r.err.find("nothing was saved"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(settings));

    // Set while sound, then made writable by others before the first alert and gone
    // before the second: each alert says once why it was not run.
    ASSERT_EQ(monitor("--set alert-command=" + good + " --settings " + settings).status, 0);
    EXPECT_NE(slurpFile(settings).find("\"AlertCommand\"=\"" + good + "\""), std::string::npos) << slurpFile(settings);
    ::chmod(good.c_str(), 0757);
    const std::string file = scenario(14);
    test::BackgroundTool service;
    ASSERT_TRUE(service.start("raid-gui-monitor-sim", {"--scenario", file, "--settings", settings, "--log-dir",
                                                       kit.dir() + "/logs"},
                              kit.dir() + "/watch.out", kit.dir() + "/watch.err"));
    ASSERT_TRUE(waitFor([&] { return count(dayLog(), "Alert program not run") == 1; }, 120)) << dayLog();
    std::filesystem::remove(good);
    ASSERT_TRUE(waitFor([&] { return count(dayLog(), "Alert program not run") == 2; }, 120)) << dayLog();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(service.stop(), 0);
    const std::string log = dayLog();
    EXPECT_EQ(count(log, "Alert program not run"), 2u) << log;
    EXPECT_EQ(count(log, "] " + good + ": it can be written by its group or other users, "), 1u) << log;
    EXPECT_EQ(count(log, "] " + good + ": No such file or directory, "), 1u) << log;
    // alert-command= runs none.
    ASSERT_EQ(monitor("--set alert-command= --settings " + settings).status, 0);
    EXPECT_NE(slurpFile(settings).find("\"AlertCommand\"=\"\""), std::string::npos);
}

// The examples in docs/ as the service runs them (a clean environment, the alert on
// standard input) against an HTTP listener on 127.0.0.1, with values a quoting slip
// would break: quotes, backslashes, "$(...)", text outside ASCII, line breaks.
TEST_F(AlertProgram, TheExampleScriptsPostTheAlertIntact) {
    const std::string d = kit.dir();
    std::ofstream(d + "/listen.py") << R"(import http.server, sys
out = sys.argv[1]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', '0')))
        name = out + '/post' + self.path.replace('/', '-')
        with open(name + '.headers', 'wb') as f:  # as sent: the parser read them as Latin-1
            f.write(''.join(k + ': ' + v + '\n' for k, v in self.headers.items()).encode('latin-1'))
        with open(name + '.body', 'wb') as f:
            f.write(body)
        self.send_response(200)
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
with open(out + '/port.tmp', 'w') as f:
    f.write(str(server.server_port))
import os
os.rename(out + '/port.tmp', out + '/port')
server.serve_forever()
)";
    test::BackgroundTool listener;
    ASSERT_TRUE(listener.child.start("/usr/bin/python3", {d + "/listen.py", d}, d + "/listen.out", d + "/listen.err",
                                     {}));
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(d + "/port"); }, 120)) << slurpFile(d + "/listen.err");
    const std::string base = "http://127.0.0.1:" + slurpFile(d + "/port");

    const std::string detail = "Device1 P1 \"quoted\" \\back\\slash $(touch " + d + "/owned)\n  HDD2 is absent. caf\xc3\xa9";
    const std::map<std::string, std::string> env = {
        {"RAID_ALERT_KIND", "1"},          {"RAID_ALERT_KIND_NAME", "drive-fail"},
        {"RAID_ALERT_NAME", "Device1 P1 Hard Disk Drive fail"}, {"RAID_ALERT_DEVICE", "Device1"},
        {"RAID_ALERT_MODEL", "SIM 'RAID' `BOX`"}, {"RAID_ALERT_PORT", "1"},
        {"RAID_ALERT_SUBJECT", "[RAID GUI Message] \"Disk\" trouble"}, {"RAID_ALERT_DETAIL", detail},
        {"RAID_ALERT_HOST", "nas\xc3\xa9"},   {"RAID_ALERT_TIME", "12/10/26 03:40:12"},
        {"RAID_ALERT_EPOCH", "1796874012"},
    };
    std::string assignments = "PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/ LANG=C.UTF-8";
    for (const auto& [name, value] : env) {
        std::string quoted;
        for (char c : value) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        assignments += " " + name + "='" + quoted + "'";
    }
    std::ofstream(d + "/stdin.txt") << "the alert's text\nline two\n";
    for (const std::string name : {"push-ntfy", "webhook-json"}) {
        // The example with its address pointed at the listener.
        std::string script = slurpFile(std::string(RAID_SOURCE_DIR) + "/docs/alert-programs/" + name + ".sh");
        const std::size_t url = script.find("\nurl=\"");
        ASSERT_NE(url, std::string::npos) << name;
        script.replace(url + 6, script.find('"', url + 6) - url - 6, base + "/" + name);
        std::ofstream(d + "/" + name + ".sh") << script;
        const std::string run = "env -i " + assignments + " /bin/sh " + d + "/" + name + ".sh < " + d + "/stdin.txt";
        EXPECT_EQ(std::system(run.c_str()), 0) << name;
    }
    listener.child.signal(SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(d + "/owned"));

    // The push: the text as the body, the alert in the title.
    EXPECT_EQ(slurpFile(d + "/post-push-ntfy.body"), "the alert's text\nline two\n");
    const std::string headers = slurpFile(d + "/post-push-ntfy.headers");
    EXPECT_NE(headers.find("Title: nas\xc3\xa9: Device1 P1 Hard Disk Drive fail"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Priority: high"), std::string::npos) << headers;
    // The webhook: JSON that reads back to every value exactly.
    const std::string check = "/usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1], encoding=\"utf-8\")); "
                              "sys.stdout.buffer.write(\"\\0\".join(str(d[k]) for k in sys.argv[2:]).encode())' " +
                              d + "/post-webhook-json.body host kind kindName name device model port subject detail "
                                  "time epoch > " + d + "/fields.bin";
    ASSERT_EQ(std::system(check.c_str()), 0) << slurpFile(d + "/post-webhook-json.body");
    const std::string fields = slurpFile(d + "/fields.bin");
    const std::string expected = std::string("nas\xc3\xa9") + '\0' + "1" + '\0' + "drive-fail" + '\0' +
                                 "Device1 P1 Hard Disk Drive fail" + '\0' + "Device1" + '\0' + "SIM 'RAID' `BOX`" +
                                 '\0' + "1" + '\0' + "[RAID GUI Message] \"Disk\" trouble" + '\0' + detail + '\0' +
                                 "12/10/26 03:40:12" + '\0' + "1796874012";
    EXPECT_EQ(fields, expected);
}

}  // namespace
}  // namespace raid
#endif

// raid-gui-sim as a user runs it: the built-in default, refused scenarios, the trace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <functional>

#include "sim/FirmwareImages.h"
#include "sim/SimEnclosure.h"
#include "support/ScenarioKit.h"
#include "support/ToolRun.h"

namespace raid {
namespace {

using Result = test::ToolResult;

Result runTool(const std::string& args, const std::string& dir) { return test::runSimTool(args, dir); }

TEST(SimTool, TheDefaultMachineIsDetected) {
    test::ScenarioKit kit;
    const Result r = runTool("--headless --until 10 --trace " + kit.dir() + "/t.txt", kit.dir());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" StatusBar1.Panel1 Detected OK\n"), std::string::npos);
    EXPECT_NE(r.out.find(" CheckBox1 checked\n"), std::string::npos);
    std::ifstream t(kit.dir() + "/t.txt");
    std::string first;
    std::getline(t, first);
    EXPECT_EQ(first, "1 OPEN PhysicalDrive0 ok");
}

TEST(SimTool, RefusedScenariosNameFileAndLine) {
    test::ScenarioKit kit;
    kit.block("ok.bin", sim::makeIdentityPage());
    {
        std::ofstream(kit.dir() + "/short.bin") << "not 512 bytes";
    }
    struct Case {
        std::string text, expect;
    };
    for (const Case& c : std::vector<Case>{
             {"0 disk 0\n# fine\n0 frobnicate 1\n", "bad.scn:3:"},
             {"0 disk 10\n", "bad.scn:1:"},
             {"0 attach 1 mailbox identity=missing.bin status=ok.bin\n", "bad.scn:1:"},
             {"0 attach 1 mailbox identity=short.bin status=ok.bin\n", "bad.scn:1:"},
             {"5 disk 1\n2 disk 2\n", "bad.scn:2:"},
         }) {
        {
            std::ofstream f(kit.dir() + "/bad.scn");
            f << c.text;
        }
        const Result r = runTool("--headless --scenario " + kit.dir() + "/bad.scn", kit.dir());
        EXPECT_EQ(r.status, 2) << c.text;
        EXPECT_NE(r.err.find(c.expect), std::string::npos) << c.text << " -> " << r.err;
        EXPECT_EQ(r.out, "") << c.text;  // refused before the run
    }
    EXPECT_EQ(runTool("--headless --until abc", kit.dir()).status, 2);
}

}  // namespace
}  // namespace raid

// SIGTERM and Ctrl-C (SIGINT) to a running program: on Windows the end requests come
// through the end-watch port, a placeholder there yet.
#ifndef _WIN32
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace raid {
namespace {

std::string slurpFile(const std::string& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Starts raid-gui-sim in real time; stdout goes to <dir>/out.txt.
pid_t startRealTime(const std::string& dir, const std::string& scenario, std::vector<std::string> more = {"--until", "60"}) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string bin = std::string(RAID_BINARY_DIR) + "/raid-gui-sim";
        const std::string out = dir + "/out.txt", trace = dir + "/t.txt";
        if (!freopen(out.c_str(), "w", stdout)) _exit(127);
        std::vector<std::string> args = {bin, "--headless", "--real-time", "--log-dir", dir, "--trace", trace};
        args.insert(args.end(), more.begin(), more.end());
        if (!scenario.empty()) {
            args.push_back("--scenario");
            args.push_back(scenario);
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

bool waitFor(const std::function<bool()>& cond, int ms) {
    for (int i = 0; i < ms / 20; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

// Exit status, or -1 if it has not ended within `ms`.
int waitExit(pid_t pid, int ms) {
    int status = 0;
    for (int i = 0; i < ms / 20; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

TEST(SimTool, SigtermTellsTheEnclosureThenExits) {
    test::ScenarioKit kit;
    const pid_t pid = startRealTime(kit.dir(), "");
    ASSERT_GT(pid, 0);
    const std::string trace = kit.dir() + "/t.txt";
    // The found-you command (33 58 1f 01 21) shows the program is up and polling.
    ASSERT_TRUE(waitFor([&] { return slurpFile(trace).find("data=33581f0121") != std::string::npos; }, 120000));
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(pid, 60000), 0);
    const std::string t = slurpFile(trace);
    const auto bye = t.find("cdb=2a000000001400000100 data=33581f0120");
    EXPECT_NE(bye, std::string::npos);
    EXPECT_GT(bye, t.find("data=33581f0121"));
}

TEST(SimTool, SigtermDuringMaintenanceIsRefused) {
    test::ScenarioKit kit;
    kit.block("id.bin", sim::makeIdentityPage());
    kit.block("st.bin", sim::makeStatusRecord());
    const std::string scn = kit.dir() + "/m.scn";
    {
        std::ofstream f(scn);
        f << "0 disk 0\n0 volume C 0\n0 attach 1 mailbox identity=id.bin status=st.bin\n1.5 maintenance on\n";
    }
    const pid_t pid = startRealTime(kit.dir(), scn);
    ASSERT_GT(pid, 0);
    const std::string out = kit.dir() + "/out.txt";
    ASSERT_TRUE(waitFor([&] { return slurpFile(out).find("Detected OK") != std::string::npos; }, 120000));
    // The maintenance step at 1.5 s has taken the device check boxes away.
    ASSERT_TRUE(waitFor([&] { return slurpFile(out).find("CheckBox1 disabled") != std::string::npos; }, 120000));
    kill(pid, SIGTERM);
    EXPECT_TRUE(waitFor(
        [&] {
            return slurpFile(out).find("MessageBox[Message] Firmware is upgrading, please wait a moment.") !=
                   std::string::npos;
        },
        60000));
    EXPECT_EQ(waitExit(pid, 300), -1);  // still running
    kill(pid, SIGKILL);
    waitExit(pid, 5000);
    EXPECT_EQ(slurpFile(kit.dir() + "/t.txt").find("data=33581f0120"), std::string::npos);
}

// Ctrl-C in the terminal is the same request to end as SIGTERM: refused while the
// flash is being written (the upgrade goes on to the end), granted afterwards.
TEST(SimTool, CtrlCDuringAnUpgradeIsRefusedAndTheFlashIsWritten) {
    test::ScenarioKit kit;
    const std::string d = kit.dir();
    ASSERT_EQ(test::runSimTool("--write-image " + d + "/fw.bin 5", d).status, 0);
    kit.block("id.bin", sim::makeIdentityPage());
    kit.block("st.bin", sim::makeStatusRecord());
    std::ofstream(d + "/u.scn") << "0 disk 0\n0 attach 1 mailbox identity=id.bin status=st.bin\n3 upgrade fw.bin 1\n";
    const pid_t pid =
        startRealTime(d, d + "/u.scn", {"--until", "3600", "--latency-us", "1000", "--dump-flash", "1", d + "/dump.bin"});
    ASSERT_GT(pid, 0);
    const std::string out = d + "/out.txt";
    int status = -1;
    // A failed check must not leave the program running.
    struct Reaper {
        pid_t pid;
        int& status;
        ~Reaper() {
            if (status >= 0) return;
            kill(pid, SIGKILL);
            waitExit(pid, 10000);
        }
    } reaper{pid, status};
    auto tail = [&] {
        const std::string text = slurpFile(out);
        return "exit " + std::to_string(status) + ", output ends:\n" + text.substr(text.size() > 1500 ? text.size() - 1500 : 0);
    };
    // Waits for a line while the program runs; false when it ended or the bound passed.
    auto seen = [&](const std::string& line) {
        return waitFor(
            [&] {
                if (status < 0) {
                    int s = 0;
                    if (waitpid(pid, &s, WNOHANG) == pid) status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
                }
                return status >= 0 || slurpFile(out).find(line) != std::string::npos;
            },
            120000) &&
               status < 0;
    };
    ASSERT_TRUE(seen(" UpgradePanel Process 3 / 4")) << tail();
    kill(pid, SIGINT);
    ASSERT_TRUE(seen(" MessageBox[Message] Firmware is upgrading, please wait a moment.")) << tail();
    ASSERT_TRUE(seen(" MessageBox[Firmware Upgrade Message] Firmware Upgrade 4/4 completed!")) << tail();
    kill(pid, SIGINT);
    status = waitExit(pid, 120000);
    EXPECT_EQ(status, 0) << tail();
    std::vector<std::uint8_t> image, dumped;
    std::string err;
    ASSERT_TRUE(sim::readFlashFile(d + "/fw.bin", sim::kFlashSize, image, err)) << err;
    ASSERT_TRUE(sim::readFlashFile(d + "/dump.bin", sim::kFlashSize, dumped, err)) << err;
    EXPECT_TRUE(dumped == image);
    // The enclosure was told of the end only after the upgrade.
    const std::string t = slurpFile(d + "/t.txt");
    EXPECT_NE(t.find("data=33581f0120"), std::string::npos);
}

}  // namespace
}  // namespace raid
#endif

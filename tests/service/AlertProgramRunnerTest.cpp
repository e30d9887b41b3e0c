// The alert program's runner on its own thread, with real programs: a flood of alerts
// while one run is held waits in a bounded queue and the rest are reported; a program
// that closes its input early or floods its output harms neither the service nor the
// runs after it; a run still going when the service stops is ended at once.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "service/AlertProgramRunner.h"
#include "support/ScenarioKit.h"

namespace raid::service {
namespace {

struct Reports {
    std::mutex mu;
    std::vector<std::string> lines;
    void add(const std::string& l) {
        std::lock_guard<std::mutex> lock(mu);
        lines.push_back(l);
    }
    std::size_t count(const std::string& what) {
        std::lock_guard<std::mutex> lock(mu);
        std::size_t n = 0;
        for (const auto& l : lines) n += l.find(what) != std::string::npos;
        return n;
    }
    std::string all() {
        std::lock_guard<std::mutex> lock(mu);
        std::string text;
        for (const auto& l : lines) text += l + "\n";
        return text;
    }
};

template <class Done>
bool waitFor(Done done, int seconds = 120) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

AlertProgramCall call(const std::string& alert, std::string input = "text\n") {
    AlertProgramCall c;
    c.alert = alert;
    c.environment = {{"PATH", kAlertProgramPath}};
    c.input = std::move(input);
    return c;
}

TEST(AlertProgramRunner, AFloodWaitsBoundedAndHostileProgramsHarmNothing) {
    test::ScenarioKit kit;
    const std::string d = kit.dir();
    const auto program = [&d](const std::string& name, const std::string& body) {
        const std::string path = d + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
        return path;
    };
    // Held until the gate opens (bounded, should the test fail first).
    const std::string held = program("held.sh", "i=0\nwhile [ ! -e " + d + "/gate ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i+1)); done\n");
    Reports reports;
    {
        AlertProgramRunner runner([&reports](const std::string& l) { reports.add(l); }, std::chrono::seconds(600));
        const auto running = [&d] { return std::system(("pgrep -f '^/bin/sh " + d + "/held.sh' >/dev/null").c_str()) == 0; };
        runner.submit(held, call("alert 0"));
        ASSERT_TRUE(waitFor(running));
        for (int i = 1; i < 20; ++i) runner.submit(held, call("alert " + std::to_string(i)));
        // One runs, sixteen wait, three are told at once that they were not taken.
        EXPECT_TRUE(waitFor([&] { return reports.count("alerts are already waiting for it") == 3; })) << reports.all();
        std::ofstream(d + "/gate");
        EXPECT_TRUE(waitFor([&] { return reports.count("Alert program ran: ") == 17; })) << reports.all();
        EXPECT_EQ(reports.count("[alert 19] 16 alerts are already waiting for it"), 1u) << reports.all();

        // It closes its input unread (1 MiB of it), or floods its output: no SIGPIPE ends
        // the service, no run waits for ever, what is kept of the output is bounded.
        runner.submit(program("deaf.sh", "exec 0<&-\nsleep 0.2\nexit 0\n"), call("deaf", std::string(1 << 20, 'x')));
        runner.submit(program("loud.sh", "head -c 20000000 /dev/zero\nhead -c 100000 /dev/zero | tr '\\0' e >&2\nexit 4\n"),
                      call("loud"));
        EXPECT_TRUE(waitFor([&] { return reports.count("[deaf] exit status 0") == 1; })) << reports.all();
        EXPECT_TRUE(waitFor([&] { return reports.count("[loud] exit status 4: eeee") == 1; })) << reports.all();
        EXPECT_EQ(reports.count("[loud] exit status 4: " + std::string(200, 'e') + "..."), 1u) << reports.all();

        // Stopped while a run is held: ended, with its group, well inside its limit.
        std::filesystem::remove(d + "/gate");
        runner.submit(held, call("last"));
        EXPECT_TRUE(waitFor(running));
    }
    EXPECT_EQ(std::system(("pgrep -f '^/bin/sh " + d + "/held.sh' >/dev/null").c_str()) == 0, false);
    EXPECT_EQ(reports.count("[last] the service stops"), 1u) << reports.all();
}

}  // namespace
}  // namespace raid::service
#endif

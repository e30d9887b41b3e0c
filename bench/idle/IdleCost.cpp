// What watching costs while nothing happens: the unattended monitor (once alone, once
// publishing on a private system-like bus with a window's kind of client subscribed)
// and the window program side by side, each polling one simulated enclosure every 4 s
// in real time, for 60 s (or --seconds N). Prints each one's CPU share of one core and
// its resident memory. Targets for the monitor, with the bus too: under 0.1 % and under
// 12 MiB.
//
//   raid_bench_idle [--seconds N]
#include <dirent.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/BusTraffic.h"
#include "support/PrivateBus.h"

namespace {

// CPU time of every thread of `pid`, in nanoseconds (schedstat's run time).
long long cpuNs(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return -1;
    long long total = 0;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(dir + "/" + e->d_name + "/schedstat");
        long long ns = 0;
        if (f >> ns) total += ns;
    }
    ::closedir(d);
    return total;
}

// A line of /proc/<pid>/status in KiB ("VmRSS", "VmHWM").
long statusKiB(pid_t pid, const char* key) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key) + 1, nullptr, 10);
    return -1;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& log) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (!std::freopen(log.c_str(), "w", stdout) || !std::freopen(log.c_str(), "a", stderr)) ::_exit(99);
    ::execv(argv[0], argv.data());
    ::_exit(98);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--seconds") seconds = std::max(5, std::atoi(argv[i + 1]));
    char pattern[] = "/tmp/raid-bench-idle-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string bin = RAID_BINARY_DIR;
    // The window draws offscreen unless a display is there to show it.
    if (!std::getenv("DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);

    const int warmUp = 5;
    const std::string until = std::to_string(seconds + warmUp + 30);
    // The bus of the published monitor: a dbus-daemon of the bench's own, like the
    // system bus; where there is none the monitor runs without (and the row says so).
    ::mkdir((dir + "/bus").c_str(), 0755);
    raid::test::PrivateBus bus(dir + "/bus");
    const bool haveBus = bus.start();
    struct Program {
        const char* name;
        pid_t pid;
    } programs[] = {
        {"raid-gui-monitor", spawn({bin + "/raid-gui-monitor-sim", "--log-dir", dir + "/monitor", "--settings",
                                    dir + "/monitor.reg", "--until", until},
                                   dir + "/monitor.out")},
        {haveBus ? "monitor + bus" : "monitor (no bus)",
         spawn({bin + "/raid-gui-monitor-sim", "--log-dir", dir + "/busmonitor", "--settings", dir + "/busmonitor.reg",
                "--until", until, "--bus", haveBus ? bus.address() : "unix:path=" + dir + "/no-bus"},
               dir + "/busmonitor.out")},
        {"raid-gui (window)", spawn({bin + "/raid-gui-sim", "--until", until, "--log-dir", dir + "/window",
                                     "--settings", dir + "/window.reg"},
                                    dir + "/window.out")},
    };
    constexpr int count = 3;
    // One client as a window is one, subscribed to everything the service sends.
    std::unique_ptr<raid::bench::Subscriber> client;
    if (haveBus && raid::test::PrivateBus::waitFor([&] { return bus.owned("org.qxraidgui.Monitor1"); },
                                                   std::chrono::seconds(60)))
        client = std::make_unique<raid::bench::Subscriber>(bus.address());
    // Start-up (the window's fonts, the first detection) is not idling.
    std::this_thread::sleep_for(std::chrono::seconds(warmUp));
    long long before[count];
    for (int i = 0; i < count; ++i) before[i] = cpuNs(programs[i].pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("Idle cost over %.0f s of real-time polling of one simulated enclosure\n", elapsed);
    std::printf("%-20s %12s %12s %12s\n", "program", "CPU %", "RSS MiB", "peak MiB");
    int rc = 0;
    for (int i = 0; i < count; ++i) {
        const long long after = cpuNs(programs[i].pid);
        const long rss = statusKiB(programs[i].pid, "VmRSS:"), peak = statusKiB(programs[i].pid, "VmHWM:");
        if (after < 0 || before[i] < 0 || rss < 0) {
            std::printf("%-20s did not run (see %s)\n", programs[i].name, dir.c_str());
            rc = 1;
            continue;
        }
        std::printf("%-20s %12.4f %12.1f %12.1f\n", programs[i].name,
                    100.0 * static_cast<double>(after - before[i]) / (elapsed * 1e9), static_cast<double>(rss) / 1024.0,
                    static_cast<double>(peak) / 1024.0);
    }
    if (client)
        std::printf("(the bus client took %lu signals: one per poll of the published monitor)\n", client->signals());
    else
        std::printf("(no subscribed client: %s)\n", haveBus ? "the monitor did not take its bus name" : "no dbus-daemon");
    std::printf("monitor targets, with the bus too: CPU under 0.1 %%, resident under 12 MiB\n");
    client.reset();
    for (const Program& p : programs) {
        ::kill(p.pid, SIGTERM);
        int status = 0;
        ::waitpid(p.pid, &status, 0);
    }
    const std::string cleanup = "rm -rf '" + dir + "'";
    if (rc == 0 && std::system(cleanup.c_str()) != 0) rc = 1;
    return rc;
}

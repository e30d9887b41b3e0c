// Runs a program of the build (raid-gui-sim, raid-gui-monitor-sim) the way a user would, with its exit status and both
// output streams.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace raid::test {

struct ToolResult {
    int status = -1;
    std::string out, err;
};

// `program` (a file of the build folder) with `args` as typed on the command line;
// output goes to files in `dir` unless `stdoutTo` names another place (then `out`
// stays empty). `prefix` comes before the command as typed in a shell: more of the
// environment ("XDG_STATE_HOME=/x", "env -u HOME"), or another user ("setpriv ...").
inline ToolResult runBuiltTool(const std::string& program, const std::string& args, const std::string& dir,
                               const std::string& stdoutTo = "", const std::string& prefix = "") {
    const std::string out = stdoutTo.empty() ? dir + "/out.txt" : stdoutTo, err = dir + "/err.txt";
    // The tool keeps its settings under the test's folder, never in the user's own.
    const std::string cmd = "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + dir + "/config " + prefix + " timeout 120 " +
                            std::string(RAID_BINARY_DIR) + "/" + program + " " + args + " >" + out + " 2>" + err;
    const int rc = std::system(cmd.c_str());
    ToolResult r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    auto slurp = [](const std::string& p) {
        std::ifstream f(p);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    };
    if (stdoutTo.empty()) r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

inline ToolResult runSimTool(const std::string& args, const std::string& dir, const std::string& stdoutTo = "") {
    return runBuiltTool("raid-gui-sim", args, dir, stdoutTo);
}

// A program of the build in the background, as systemd runs the service, until stop().
struct BackgroundTool {
    pid_t pid = -1;
    // The environment as the service gets it: "NAME=value" is set, "NAME" taken away.
    std::vector<std::string> env;
    bool start(const std::string& program, const std::vector<std::string>& args, const std::string& out,
               const std::string& err) {
        pid = ::fork();
        if (pid != 0) return pid > 0;
        for (const std::string& e : env) {
            const std::size_t eq = e.find('=');
            if (eq == std::string::npos) ::unsetenv(e.c_str());
            else ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        const std::string bin = std::string(RAID_BINARY_DIR) + "/" + program;
        std::vector<char*> argv{const_cast<char*>(bin.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) ::_exit(99);
        ::execv(bin.c_str(), argv.data());
        ::_exit(98);
    }
    // Whether it still runs.
    bool running() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }
    // SIGTERM, then the exit status (-1 when it did not exit by itself).
    int stop() {
        if (pid <= 0) return -1;
        ::kill(pid, SIGTERM);
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, 0);
        pid = -1;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~BackgroundTool() { stop(); }
};

}  // namespace raid::test

// Runs a program of the build (raid-gui-sim, raid-gui-monitor-sim) the way a user would, with its exit status and both
// output streams.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

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

}  // namespace raid::test

// Running another program for the service (the owner's alert program): no shell, an
// environment given whole, standard input from a text, standard output and error read
// and kept up to a bound, every other file closed, a process group of its own and a
// time limit. Linux only; on Windows nothing is run and the result says so.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace raid {

struct ProgramRunRequest {
    std::string program;  // an absolute path, run as it is (argv[0] only)
    std::vector<std::pair<std::string, std::string>> environment;  // the whole environment
    std::string input;                                             // standard input, then end of file
    std::chrono::milliseconds limit{30'000};
    // After the limit: SIGTERM to the group, SIGKILL this much later.
    std::chrono::milliseconds killGrace{5'000};
    std::size_t keptOutput = 4096;  // bytes kept of standard output and of error
    // Asked now and then while it runs: true ends it as the limit does.
    std::function<bool()> cancelled;
};

struct ProgramRunResult {
    enum class End { exited, signalled, timedOut, cancelled, notStarted };
    End end = End::notStarted;
    int code = 0;            // exited: the exit status; signalled: the signal
    std::string signalName;  // signalled: "SIGSEGV", when known
    std::string problem;     // notStarted: why
    std::string out, err;    // the first keptOutput bytes of each
};

// Blocks until the program has ended (or was ended) and been reaped.
ProgramRunResult runProgram(const ProgramRunRequest& request);

// Why this process must not run the program at `path` on another's behalf ("" when it
// may): it must be a regular file, not a symbolic link, owned by root or this process's
// user, executable, writable by neither its group nor others, in folders owned by root
// or this user that others cannot change (world-writable only with the sticky bit,
// group-writable only with root's group). `path` must be absolute.
std::string trustedProgramRefusal(const std::string& path);

// Whether this process has root's rights (always false on Windows).
bool runningAsRoot();
// The machine's name ("" when unknown).
std::string machineHostName();

}  // namespace raid

// Runs the owner's alert program (notify/AlertProgram) for each raised alert, on a
// thread of its own: a program that is slow, hangs or fails never holds up polling,
// the day log or the mail.
//
// Each run: the program's file is checked first as a root program checks any path
// another user might have prepared (a regular file, not a link, owned by root - or by
// the service's own user - and writable by nobody else, in folders nobody else can
// change); then it is started without a shell, in a process group of its own, with the
// call's environment and nothing else, the alert text on standard input, standard
// output and error read (the first 4 KiB of each kept), every other file closed. A run
// that outlasts the limit gets SIGTERM, and SIGKILL a few seconds later, to its whole
// group. Every outcome is one line for the day log, handed to `report` on the
// runner's thread.
//
// Alerts wait in a queue of kQueueLimit; one beyond it is not run, and reported.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "notify/AlertProgram.h"

namespace raid {
class MainForm;
}

namespace raid::service {

class AlertProgramRunner {
public:
    using Report = std::function<void(const std::string& line)>;
    static constexpr std::size_t kQueueLimit = 16;
    static constexpr std::chrono::milliseconds kDefaultLimit{30'000};
    static constexpr std::chrono::milliseconds kKillGrace{5'000};

    AlertProgramRunner(Report report, std::chrono::milliseconds limit = kDefaultLimit);
    // A run under way is ended (its group SIGTERM, then SIGKILL); waiting ones are dropped.
    ~AlertProgramRunner();
    AlertProgramRunner(const AlertProgramRunner&) = delete;
    AlertProgramRunner& operator=(const AlertProgramRunner&) = delete;

    // Any thread: `program` run for `call` when its turn comes.
    void submit(std::string program, AlertProgramCall call);

private:
    struct Job {
        std::string program;
        AlertProgramCall call;
    };
    void loop();
    std::string run(const Job& job);
    bool stopping();

    Report report_;
    std::chrono::milliseconds limit_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    std::thread thread_;
};

// From now on each alert `form` raises (of a kind whose mail is not switched off) goes
// to `runner` with the program the settings file at `settingsPath` names at that moment
// ("AlertCommand"; none, nothing is run). A value that names no usable path is said in
// the day log instead. `host` is the machine's name the program is told.
void runProgramOnAlerts(MainForm& form, AlertProgramRunner& runner, std::string settingsPath, std::string host);

// Why the program at `path` must not be run by this process ("" when it may): the path
// as the setting takes it (alertCommandRefusal), then the file and the folders on its
// way as described above (trustedProgramRefusal).
std::string alertProgramFileRefusal(const std::string& path);

}  // namespace raid::service

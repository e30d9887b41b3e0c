#include "service/AlertProgramRunner.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <optional>

#include "notify/NotificationSettings.h"

namespace raid::service {

AlertProgramRunner::AlertProgramRunner(Report report, std::chrono::milliseconds limit)
    : report_(std::move(report)), limit_(limit), thread_([this] { loop(); }) {}

AlertProgramRunner::~AlertProgramRunner() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void AlertProgramRunner::submit(std::string program, AlertProgramCall call) {
    std::string refused;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stop_) return;
        if (jobs_.size() >= kQueueLimit) {
            refused = "Alert program not run: [" + call.alert + "] " + std::to_string(jobs_.size()) +
                      " alerts are already waiting for it";
        } else {
            jobs_.push_back({std::move(program), std::move(call)});
        }
    }
    if (!refused.empty()) {
        report_(refused);
        return;
    }
    cv_.notify_all();
}

bool AlertProgramRunner::stopping() {
    std::lock_guard<std::mutex> lock(mu_);
    return stop_;
}

void AlertProgramRunner::loop() {
#ifndef _WIN32
    // A program that closes its standard input early must not end the service: a write
    // into the pipe then fails with EPIPE on this thread instead of raising SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        const std::string line = run(job);
        if (!line.empty()) report_(line);
    }
}

#ifdef _WIN32

std::string alertProgramFileRefusal(const std::string&) { return "alert programs are not run on Windows"; }

std::string AlertProgramRunner::run(const Job& job) {
    return "Alert program not run: [" + job.call.alert + "] " + alertProgramFileRefusal(job.program);
}

#else

std::string alertProgramFileRefusal(const std::string& path) {
    std::string why = alertCommandRefusal(path);
    if (!why.empty()) return why;
    if (path.empty()) return "no program is named";
    const uid_t me = ::geteuid();
    const auto owner = [](uid_t uid) { return uid == 0 ? std::string("root") : "user " + std::to_string(uid); };
    // The folders on the way: another user who may change one could put a program of
    // his own where the checked one was, between the check and the start. A folder
    // that others may write is taken only with the sticky bit (like /tmp), where they
    // cannot remove or rename what is not theirs; one its group may write only when the
    // group is root's (Debian gives /usr/local to the group staff).
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) return "the folder " + folder + ": " + std::strerror(errno);
        if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
        if (st.st_uid != 0 && st.st_uid != me) return "the folder " + folder + " belongs to " + owner(st.st_uid);
        const bool sticky = (st.st_mode & S_ISVTX) != 0;
        if ((st.st_mode & S_IWOTH) && !sticky) return "the folder " + folder + " can be written by other users";
        if ((st.st_mode & S_IWGRP) && st.st_gid != 0 && !sticky)
            return "the folder " + folder + " can be written by its group (" + std::to_string(st.st_gid) + ")";
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link (name the program itself)";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_uid != 0 && st.st_uid != me) return "it belongs to " + owner(st.st_uid) + ", not root";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "it can be written by its group or other users";
    if (!(st.st_mode & S_IXUSR)) return "it is not executable";
    return "";
}

namespace {

constexpr std::size_t kKeptOutput = 4096;
constexpr std::size_t kReportedLine = 200;

// The first line of `text`, control characters as blanks, cut to a bounded length.
std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() > kReportedLine) line = cutToLimit(line, kReportedLine) + "...";
    for (char& c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) c = ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}


struct Pipe {
    int fd[2] = {-1, -1};
    bool open() { return ::pipe2(fd, O_CLOEXEC) == 0; }
    void close(int end) {
        if (fd[end] >= 0) ::close(fd[end]);
        fd[end] = -1;
    }
    ~Pipe() {
        close(0);
        close(1);
    }
};

// Whether the child has ended, without reaping it: its process group id cannot be
// taken by another process while it is not reaped.
bool ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

}  // namespace

std::string AlertProgramRunner::run(const Job& job) {
    const std::string head = "[" + job.call.alert + "] ";
    const std::string why = alertProgramFileRefusal(job.program);
    if (!why.empty()) return "Alert program not run: " + head + job.program + ": " + why;

    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open())
        return "Alert program not run: " + head + "no pipe: " + std::strerror(errno);
    std::vector<std::string> envText;
    for (const auto& [name, value] : job.call.environment) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = job.program;
    char* argv[] = {program.data(), nullptr};

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, in.fd[0], 0);
    posix_spawn_file_actions_adddup2(&files, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&files, err.fd[1], 2);
    // Whatever else the service holds open (the bus, the drives, the day log) stays with it.
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s = 1; s < 32; ++s)
        if (s != SIGKILL && s != SIGSTOP) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);  // a group of its own, to end it whole
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &files, &attr, argv, envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    in.close(0);
    out.close(1);
    err.close(1);
    if (spawned != 0) return "Alert program not run: " + head + job.program + ": " + std::strerror(spawned);
    for (int fd : {in.fd[1], out.fd[0], err.fd[0]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit_;
    std::optional<Clock::time_point> endedAt;
    std::string kept[2];
    std::size_t written = 0;
    bool timedOut = false, stopped = false;
    char buffer[4096];
    for (;;) {
        const auto now = Clock::now();
        if (!endedAt && ended(pid)) endedAt = now;
        // Once it has ended, what it wrote is read, but not for long: a program it left
        // running in the background may hold the pipes open.
        if (endedAt && ((out.fd[0] < 0 && err.fd[0] < 0) || now > *endedAt + std::chrono::milliseconds(500))) break;
        if (!endedAt && (now >= deadline || stopping())) {
            timedOut = now >= deadline;
            stopped = !timedOut;
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        const int reads[2] = {out.fd[0], err.fd[0]};
        for (int fd : reads)
            if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
        const bool writing = in.fd[1] >= 0;
        if (writing) fds[n++] = {in.fd[1], POLLOUT, 0};
        ::poll(fds, n, 50);
        for (int k = 0; k < 2; ++k) {
            int& fd = k == 0 ? out.fd[0] : err.fd[0];
            while (fd >= 0) {
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got > 0) {
                    kept[k].append(buffer, std::min(static_cast<std::size_t>(got), kKeptOutput - std::min(kKeptOutput, kept[k].size())));
                } else if (got == 0 || errno != EINTR) {
                    if (got == 0 || errno != EAGAIN) (k == 0 ? out : err).close(0);
                    break;
                }
            }
        }
        if (writing) {
            const std::string& text = job.call.input;
            while (written < text.size()) {
                const ssize_t put = ::write(in.fd[1], text.data() + written, text.size() - written);
                if (put > 0) {
                    written += static_cast<std::size_t>(put);
                } else if (put < 0 && errno == EINTR) {
                    continue;
                } else {
                    if (errno == EPIPE) {
                        // The program did not read it all: its choice. The blocked SIGPIPE
                        // is taken off this thread.
                        sigset_t pipe;
                        sigemptyset(&pipe);
                        sigaddset(&pipe, SIGPIPE);
                        const timespec zero{0, 0};
                        ::sigtimedwait(&pipe, nullptr, &zero);
                        written = text.size();
                    }
                    break;
                }
            }
            if (written >= text.size()) in.close(1);
        }
    }
    in.close(1);
    if (timedOut || stopped) {
        ::kill(-pid, SIGTERM);
        const auto grace = Clock::now() + kKillGrace;
        while (!ended(pid) && Clock::now() < grace) ::poll(nullptr, 0, 50);
        // What it started in its group goes too, and it, if SIGTERM did not end it.
        ::kill(-pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string errorLine = firstLine(kept[1]);
    std::string line;
    if (stopped) {
        line = "Alert program ended: " + head + "the service stops";
    } else if (timedOut) {
        line = "Alert program failed: " + head + "still running after " +
               std::to_string((limit_.count() + 999) / 1000) + " s, ended";
    } else if (WIFEXITED(status)) {
        line = std::string(WEXITSTATUS(status) == 0 ? "Alert program ran: " : "Alert program failed: ") + head +
               "exit status " + std::to_string(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        line = "Alert program failed: " + head + "ended by signal " + std::to_string(WTERMSIG(status));
        if (const char* name = ::sigabbrev_np(WTERMSIG(status))) line += std::string(" (SIG") + name + ")";
    } else {
        line = "Alert program failed: " + head + "ended with status " + std::to_string(status);
    }
    if (!errorLine.empty()) line += ": " + errorLine;
    return line;
}

#endif

}  // namespace raid::service

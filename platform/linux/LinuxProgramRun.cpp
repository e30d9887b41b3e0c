#include "platform/ProgramRun.h"

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
#include <optional>

namespace raid {

bool runningAsRoot() { return ::geteuid() == 0; }

std::string machineHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string trustedProgramRefusal(const std::string& path) {
    if (path.empty() || path[0] != '/') return "not an absolute path";
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

// SIGPIPE blocked on this thread while it lives: a program that closes its standard
// input early makes the write fail with EPIPE instead of ending the whole service.
class PipeSignalBlocked {
public:
    PipeSignalBlocked() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~PipeSignalBlocked() {
        // A SIGPIPE raised meanwhile is taken off this thread before the mask is undone.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec zero{0, 0};
        while (::sigtimedwait(&pipe, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_;
};

}  // namespace

ProgramRunResult runProgram(const ProgramRunRequest& request) {
    ProgramRunResult result;
    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open()) {
        result.problem = std::string("no pipe: ") + std::strerror(errno);
        return result;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : request.environment) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = request.program;
    char* argv[] = {program.data(), nullptr};

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, in.fd[0], 0);
    posix_spawn_file_actions_adddup2(&files, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&files, err.fd[1], 2);
    // Whatever else this process holds open (the bus, the drives, the day log) stays here.
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
    if (spawned != 0) {
        result.problem = std::strerror(spawned);
        return result;
    }
    for (int fd : {in.fd[1], out.fd[0], err.fd[0]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    PipeSignalBlocked quietPipe;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + request.limit;
    std::optional<Clock::time_point> endedAt;
    std::string* kept[2] = {&result.out, &result.err};
    std::size_t written = 0;
    bool timedOut = false, cancelled = false;
    char buffer[4096];
    for (;;) {
        const auto now = Clock::now();
        if (!endedAt && ended(pid)) endedAt = now;
        // Once it has ended, what it wrote is read, but not for long: a program it left
        // running in the background may hold the pipes open.
        if (endedAt && ((out.fd[0] < 0 && err.fd[0] < 0) || now > *endedAt + std::chrono::milliseconds(500))) break;
        if (!endedAt) {
            cancelled = request.cancelled && request.cancelled();
            timedOut = !cancelled && now >= deadline;
            if (cancelled || timedOut) break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        for (int fd : {out.fd[0], err.fd[0]})
            if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
        const bool writing = in.fd[1] >= 0;
        if (writing) fds[n++] = {in.fd[1], POLLOUT, 0};
        ::poll(fds, n, 50);
        for (int k = 0; k < 2; ++k) {
            Pipe& p = k == 0 ? out : err;
            while (p.fd[0] >= 0) {
                const ssize_t got = ::read(p.fd[0], buffer, sizeof buffer);
                if (got > 0) {
                    const std::size_t room = request.keptOutput - std::min(request.keptOutput, kept[k]->size());
                    kept[k]->append(buffer, std::min(static_cast<std::size_t>(got), room));
                } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                    p.close(0);
                } else if (errno == EAGAIN) {
                    break;
                }
            }
        }
        if (writing) {
            const std::string& text = request.input;
            while (written < text.size()) {
                const ssize_t put = ::write(in.fd[1], text.data() + written, text.size() - written);
                if (put > 0) {
                    written += static_cast<std::size_t>(put);
                } else if (put < 0 && errno == EINTR) {
                    continue;
                } else {
                    // EPIPE: it did not read it all, its choice.
                    if (put < 0 && errno != EAGAIN) written = text.size();
                    break;
                }
            }
            if (written >= text.size()) in.close(1);
        }
    }
    in.close(1);
    if (timedOut || cancelled) {
        ::kill(-pid, SIGTERM);
        const auto grace = Clock::now() + request.killGrace;
        while (!ended(pid) && Clock::now() < grace) ::poll(nullptr, 0, 50);
        // What it started in its group goes too, and it, if SIGTERM did not end it.
        ::kill(-pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (cancelled) {
        result.end = ProgramRunResult::End::cancelled;
    } else if (timedOut) {
        result.end = ProgramRunResult::End::timedOut;
    } else if (WIFEXITED(status)) {
        result.end = ProgramRunResult::End::exited;
        result.code = WEXITSTATUS(status);
    } else {
        result.end = ProgramRunResult::End::signalled;
        result.code = WIFSIGNALED(status) ? WTERMSIG(status) : status;
        if (const char* name = WIFSIGNALED(status) ? ::sigabbrev_np(WTERMSIG(status)) : nullptr)
            result.signalName = std::string("SIG") + name;
    }
    return result;
}

}  // namespace raid

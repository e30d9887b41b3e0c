// SIGTERM, SIGINT and SIGHUP taken on a thread of their own (signalfd), so the handler
// can do real work: nothing runs inside a signal handler.
#include "platform/Platform.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace raid {

namespace {

class SignalFdWatch final : public EndWatch {
public:
    SignalFdWatch(int signalFd, int stopFd, std::function<void(EndSignal)> onSignal)
        : signalFd_(signalFd), stopFd_(stopFd), onSignal_(std::move(onSignal)), thread_([this] { loop(); }) {}

    ~SignalFdWatch() override {
        const std::uint64_t one = 1;
        // The watch's thread sleeps in poll(): the event wakes it to end.
        while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
        ::close(signalFd_);
        ::close(stopFd_);
    }

private:
    void loop() {
        for (;;) {
            pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            if (!(fds[0].revents & POLLIN)) continue;
            signalfd_siginfo info{};
            const ssize_t n = ::read(signalFd_, &info, sizeof info);
            if (n == static_cast<ssize_t>(sizeof info))
                onSignal_(info.ssi_signo == SIGHUP ? EndSignal::reload : EndSignal::end);
        }
    }

    int signalFd_;
    int stopFd_;
    std::function<void(EndSignal)> onSignal_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<EndWatch> watchEndSignals(std::function<void(EndSignal)> onSignal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return nullptr;
    const int sfd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (sfd < 0) return nullptr;
    const int efd = ::eventfd(0, EFD_CLOEXEC);
    if (efd < 0) {
        ::close(sfd);
        return nullptr;
    }
    return std::make_unique<SignalFdWatch>(sfd, efd, std::move(onSignal));
}

}  // namespace raid

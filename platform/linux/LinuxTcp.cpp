#include "platform/linux/LinuxTcp.h"

#include "platform/linux/LinuxTls.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace raid::linuxport {
namespace {

using Clock = std::chrono::steady_clock;

std::string errorText(int code) { return socketErrorText(code); }

std::string timedOutText() { return errorText(ETIMEDOUT); }

int waitFor(int fd, short events, TcpDeadline deadline) { return waitForSocket(fd, events, deadline); }

// getaddrinfo() has no time limit of its own. It runs on a detached thread; if the
// deadline passes first, the thread frees its result itself when it finally returns.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    int rc = 0;
    int savedErrno = 0;
    addrinfo* result = nullptr;
};

struct AddrInfoFree {
    void operator()(addrinfo* list) const {
        if (list) ::freeaddrinfo(list);
    }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrList resolve(const std::string& host, std::uint16_t port, TcpDeadline deadline, std::string& error,
                 int extraFlags = 0) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, service = std::to_string(port), extraFlags] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV | extraFlags;
        addrinfo* result = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
        const int savedErrno = errno;
        std::lock_guard<std::mutex> lock(lookup->mutex);
        if (lookup->abandoned) {
            if (rc == 0) ::freeaddrinfo(result);
        } else {
            lookup->rc = rc;
            lookup->savedErrno = savedErrno;
            lookup->result = rc == 0 ? result : nullptr;
        }
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        error = timedOutText();
        return nullptr;
    }
    if (lookup->rc != 0) {
        error = lookup->rc == EAI_SYSTEM ? errorText(lookup->savedErrno) : ::gai_strerror(lookup->rc);
        return nullptr;
    }
    if (!lookup->result) error = ::gai_strerror(EAI_NONAME);
    return AddrList(lookup->result);
}

class LinuxTcpConnection final : public TcpConnection {
public:
    explicit LinuxTcpConnection(int fd) : fd_(fd) {}
    ~LinuxTcpConnection() override { close(); }
    LinuxTcpConnection(const LinuxTcpConnection&) = delete;
    LinuxTcpConnection& operator=(const LinuxTcpConnection&) = delete;

    bool send(std::string_view bytes, TcpDeadline deadline, std::string& error) override {
        if (!usable(error)) return false;
        while (tls_ && !bytes.empty()) {
            std::size_t written = 0;
            std::string why;
            const TlsSession::Io io = tls_->write(bytes.data(), bytes.size(), written, deadline, why);
            if (io == TlsSession::Io::done) {
                bytes.remove_prefix(written);
                continue;
            }
            return fail(io == TlsSession::Io::closed ? errorText(EPIPE) : why, error);
        }
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const int ready = waitFor(fd_, POLLOUT, deadline);
                if (ready == 1) continue;
                return fail(ready == 0 ? timedOutText() : errorText(errno), error);
            }
            return fail(errorText(n < 0 ? errno : EPIPE), error);
        }
        return true;
    }

    bool receiveLine(std::string& line, TcpDeadline deadline, std::string& error) override {
        if (!usable(error)) return false;
        for (;;) {
            const std::size_t lf = buffer_.find('\n', scanned_);
            if (lf != std::string::npos) {
                std::size_t end = lf;
                if (end > 0 && buffer_[end - 1] == '\r') --end;
                if (end > kTcpMaxLineBytes) return fail(tooLongText(), error);
                line.assign(buffer_, 0, end);
                buffer_.erase(0, lf + 1);
                scanned_ = 0;
                return true;
            }
            scanned_ = buffer_.size();
            // One byte of slack for the CR that may still come before the LF.
            if (buffer_.size() > kTcpMaxLineBytes + 1) return fail(tooLongText(), error);

            char chunk[4096];
            if (tls_) {
                // OpenSSL may hold decrypted bytes the socket no longer shows, so it
                // is asked first and says itself when it has to wait.
                std::size_t got = 0;
                std::string why;
                const TlsSession::Io io = tls_->read(chunk, sizeof chunk, got, deadline, why);
                if (io == TlsSession::Io::closed) return fail("Connection closed by the peer", error);
                if (io == TlsSession::Io::failed) return fail(why, error);
                buffer_.append(chunk, got);
                continue;
            }
            const int ready = waitFor(fd_, POLLIN, deadline);
            if (ready != 1) return fail(ready == 0 ? timedOutText() : errorText(errno), error);
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0) {
                return fail("Connection closed by the peer", error);
            } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                return fail(errorText(errno), error);
            }
        }
    }

    bool startTls(const std::string& hostName, TcpDeadline deadline, std::string& error) override {
        if (!usable(error)) return false;
        if (tls_) return fail("TLS is already on", error);
        if (!buffer_.empty())
            return fail("The server sent data in clear text before the TLS handshake", error);
        auto session = std::make_unique<TlsSession>(fd_);
        if (!session->handshake(hostName, deadline, error)) return fail(error, error);
        tls_ = std::move(session);
        return true;
    }

    bool isTls() const override { return tls_ != nullptr; }

    void close() override {
        if (tls_) {
            // A goodbye in TLS when the stream is still sound; never a wait for it.
            if (fd_ >= 0 && broken_.empty()) tls_->closeNotify();
            tls_.reset();
        }
        {
            std::lock_guard<std::mutex> lock(fdMu_);
            if (fd_ >= 0) ::close(fd_);
            fd_ = -1;
        }
        buffer_.clear();
        scanned_ = 0;
    }

    void abort() override {
        // Shutting the socket down wakes a poll() on it; the descriptor stays ours
        // until the owner closes it, so it can never be another file's by then.
        std::lock_guard<std::mutex> lock(fdMu_);
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    }

    bool isOpen() const override { return fd_ >= 0; }

    std::string localAddress() const override {
        sockaddr_storage local{};
        socklen_t size = sizeof local;
        if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return {};
        char text[INET6_ADDRSTRLEN] = {};
        if (local.ss_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&local);
            if (!::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return {};
        } else if (local.ss_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&local);
            if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
                if (!::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text)) return {};
            } else if (!::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) {
                return {};
            }
        } else {
            return {};
        }
        return text;
    }

private:
    static std::string tooLongText() {
        return "Line longer than " + std::to_string(kTcpMaxLineBytes) + " bytes";
    }

    bool usable(std::string& error) const {
        if (fd_ < 0) {
            error = errorText(ENOTCONN);
            return false;
        }
        if (!broken_.empty()) {
            error = broken_;
            return false;
        }
        return true;
    }

    // A failed read or write leaves the stream at an unknown place: nothing after it
    // may be taken for the peer's next line.
    bool fail(std::string text, std::string& error) {
        broken_ = text;
        buffer_.clear();
        scanned_ = 0;
        error = std::move(text);
        return false;
    }

    int fd_;
    std::mutex fdMu_;  // close() against abort() from another thread
    std::string buffer_;
    std::size_t scanned_ = 0;  // bytes of buffer_ known to hold no LF
    std::string broken_;
    std::unique_ptr<TlsSession> tls_;  // set once the handshake succeeded
};

}  // namespace

std::unique_ptr<TcpConnection> LinuxTcpPort::connect(const std::string& host, std::uint16_t port,
                                                     std::chrono::milliseconds timeout, std::string& error) {
    const TcpDeadline deadline = Clock::now() + timeout;
    if (host.empty() || host.find('\0') != std::string::npos) {
        error = ::gai_strerror(EAI_NONAME);
        return nullptr;
    }
    AddrList addresses = resolve(host, port, deadline, error);
    if (!addresses) return nullptr;

    error = errorText(ECONNREFUSED);
    for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = errorText(errno);
            continue;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            const int ready = waitFor(fd, POLLOUT, deadline);
            if (ready != 1) {
                error = ready == 0 ? timedOutText() : errorText(errno);
                ::close(fd);
                if (ready == 0) return nullptr;  // no time left for another address
                continue;
            }
            int soError = 0;
            socklen_t length = sizeof soError;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
            if (soError != 0) errno = soError;
            rc = soError == 0 ? 0 : -1;
        }
        if (rc == 0) {
            error.clear();
            return std::make_unique<LinuxTcpConnection>(fd);
        }
        error = errorText(errno);
        ::close(fd);
    }
    return nullptr;
}

std::string LinuxTcpPort::localHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    const std::string bare = name;
    if (bare.empty() || bare.find('.') != std::string::npos) return bare;
    // A bare name ("vm") may have a full one in /etc/hosts or the DNS. The lookup is
    // bounded: a resolver that does not answer leaves the bare name.
    std::string error;
    const AddrList list = resolve(bare, 0, Clock::now() + std::chrono::seconds(3), error, AI_CANONNAME);
    if (list && list->ai_canonname && std::strchr(list->ai_canonname, '.')) return list->ai_canonname;
    return bare;
}

std::unique_ptr<TcpPort> makeTcpPort() { return std::make_unique<LinuxTcpPort>(); }

}  // namespace raid::linuxport

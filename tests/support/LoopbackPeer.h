// A peer on the loopback interface for the TCP and TLS tests: a socket bound to a
// free port (listening unless told otherwise) that accepts one connection on a thread
// and runs a script with its descriptor.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

namespace raid::test {

class LoopbackPeer {
public:
    explicit LoopbackPeer(bool listening = true) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd_, 4), 0);
        }
    }
    ~LoopbackPeer() {
        join();
        if (conn_ >= 0) ::close(conn_);
        ::close(fd_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // Runs `script` with the accepted connection; the connection stays open until the
    // peer goes, or - with `hangUp` - is closed as soon as the script returns.
    template <class Script>
    void serve(Script script, bool hangUp = false) {
        worker_ = std::thread([this, script, hangUp] {
            const int conn = ::accept(fd_, nullptr, nullptr);
            if (conn < 0) return;
            script(conn);
            if (hangUp) ::close(conn);
            else conn_ = conn;
        });
    }
    // Waits for the served script to end.
    void join() {
        if (worker_.joinable()) worker_.join();
    }

    static void write(int fd, const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    // Reads what the client sends first, at least a byte (0 when it closed).
    static std::size_t readSome(int fd) {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    // Reads until the client closes.
    static void drain(int fd) {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }

    std::uint16_t port = 0;

private:
    int fd_ = -1;
    int conn_ = -1;
    std::thread worker_;
};

}  // namespace raid::test

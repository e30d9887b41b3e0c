// The Linux TCP port against peers on the loopback interface, including peers that
// never answer, never read, or never end a line.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/linux/LinuxTcp.h"
#include "support/LoopbackPeer.h"

namespace raid::linuxport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using Peer = test::LoopbackPeer;

TcpDeadline in(std::chrono::milliseconds ms) { return Clock::now() + ms; }

TEST(LinuxTcp, LinesArriveWholeWhateverTheChunks) {
    Peer peer;
    peer.serve([](int fd) {
        Peer::write(fd, "220 a\r\n250 b\n25");
        std::this_thread::sleep_for(50ms);
        Peer::write(fd, "0 c\r");
        std::this_thread::sleep_for(50ms);
        Peer::write(fd, "\nno end");
        ::shutdown(fd, SHUT_WR);
    });
    LinuxTcpPort tcp;
    std::string error, line;
    auto c = tcp.connect("127.0.0.1", peer.port, 5s, error);
    ASSERT_TRUE(c) << error;
    EXPECT_TRUE(c->isOpen());
    for (const char* expected : {"220 a", "250 b", "250 c"}) {
        ASSERT_TRUE(c->receiveLine(line, in(5s), error)) << error;
        EXPECT_EQ(line, expected);
    }
    // A last line without its end is no line.
    EXPECT_FALSE(c->receiveLine(line, in(5s), error));
    EXPECT_EQ(error, "Connection closed by the peer");
    // After a failure the connection stays failed.
    EXPECT_FALSE(c->send("Quit\r\n", in(1s), error));
    EXPECT_EQ(error, "Connection closed by the peer");
    c->close();
    EXPECT_FALSE(c->isOpen());
    EXPECT_FALSE(c->receiveLine(line, in(1s), error));
}

TEST(LinuxTcp, WhatWeSendArrives) {
    Peer peer;
    std::string got;
    peer.serve([&got](int fd) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) got.append(buffer, static_cast<std::size_t>(n));
    });
    LinuxTcpPort tcp;
    std::string error;
    auto c = tcp.connect("localhost", peer.port, 5s, error);  // through the resolver
    if (!c) GTEST_SKIP() << "localhost does not reach 127.0.0.1 here: " << error;
    const std::string big(1 << 20, 'm');
    EXPECT_TRUE(c->send("ehlo x\r\n", in(5s), error)) << error;
    EXPECT_TRUE(c->send(big, in(5s), error)) << error;
    c->close();
    peer.join();
    EXPECT_EQ(got, "ehlo x\r\n" + big);
}

TEST(LinuxTcp, LinesAreBounded) {
    Peer peer;
    peer.serve([](int fd) {
        Peer::write(fd, std::string(kTcpMaxLineBytes, 'x') + "\r\n");
        Peer::write(fd, std::string(kTcpMaxLineBytes + 1, 'y') + "\r\n");
    });
    LinuxTcpPort tcp;
    std::string error, line;
    auto c = tcp.connect("127.0.0.1", peer.port, 5s, error);
    ASSERT_TRUE(c) << error;
    ASSERT_TRUE(c->receiveLine(line, in(5s), error)) << error;
    EXPECT_EQ(line.size(), kTcpMaxLineBytes);
    EXPECT_FALSE(c->receiveLine(line, in(5s), error));
    EXPECT_EQ(error, "Line longer than 65536 bytes");
}

TEST(LinuxTcp, EndlessLineEndsInAnErrorNotInMemory) {
    Peer peer;
    std::atomic<bool> stop{false};
    peer.serve([&stop](int fd) {
        const std::string chunk(65536, 'z');
        while (!stop) {
            if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
        }
    });
    LinuxTcpPort tcp;
    std::string error, line;
    auto c = tcp.connect("127.0.0.1", peer.port, 5s, error);
    ASSERT_TRUE(c) << error;
    EXPECT_FALSE(c->receiveLine(line, in(10s), error));
    EXPECT_EQ(error, "Line longer than 65536 bytes");
    stop = true;
    c->close();  // the writer's next send fails and it ends
}

TEST(LinuxTcp, SilentPeerRunsIntoTheDeadline) {
    Peer peer;  // listening but never accepting: the kernel completes the handshake
    LinuxTcpPort tcp;
    std::string error, line;
    auto c = tcp.connect("127.0.0.1", peer.port, 5s, error);
    ASSERT_TRUE(c) << error;
    EXPECT_FALSE(c->receiveLine(line, in(200ms), error));
    EXPECT_EQ(error, "Connection timed out");
    // A deadline already gone does not wait at all, and still fails cleanly.
    EXPECT_FALSE(c->receiveLine(line, Clock::now() - 1s, error));
}

TEST(LinuxTcp, PeerThatNeverReadsRunsIntoTheDeadline) {
    Peer peer;
    peer.serve([](int fd) {
        int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        std::this_thread::sleep_for(1500ms);
    });
    LinuxTcpPort tcp;
    std::string error;
    auto c = tcp.connect("127.0.0.1", peer.port, 5s, error);
    ASSERT_TRUE(c) << error;
    EXPECT_FALSE(c->send(std::string(64 << 20, 'w'), in(300ms), error));
    EXPECT_EQ(error, "Connection timed out");
}

TEST(LinuxTcp, ConnectFailuresCarryTheSystemsText) {
    LinuxTcpPort tcp;
    std::string error;
    {
        Peer bound(false);  // bound, not listening: nobody takes the connection
        EXPECT_FALSE(tcp.connect("127.0.0.1", bound.port, 5s, error));
        EXPECT_EQ(error, "Connection refused");
    }
    error.clear();
    EXPECT_FALSE(tcp.connect("no-such-host.invalid", 25, 5s, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(tcp.connect("", 25, 5s, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(tcp.connect(std::string("127.0.0.1\0evil", 14), 25, 5s, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(tcp.localHostName().empty());
}

}  // namespace
}  // namespace raid::linuxport

// The Linux TCP connection's switch to TLS against hostile peers on the loopback
// interface: a peer that never answers the handshake, one that answers with
// something else, one that hangs up half-way, and clear-text bytes slipped in
// ahead of the switch. Real TLS to a real server is in tests/notify/SmtpTlsTest.cpp.
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

// The loopback peer, which hangs up as soon as its script ends.
struct Peer : test::LoopbackPeer {
    template <class Script>
    void serve(Script script) {
        LoopbackPeer::serve(script, true);
    }
};

TcpDeadline in(std::chrono::milliseconds ms) { return Clock::now() + ms; }

std::unique_ptr<TcpConnection> connectTo(const Peer& peer) {
    LinuxTcpPort tcp;
    std::string error;
    auto c = tcp.connect("127.0.0.1", peer.port, 5s, error);
    EXPECT_TRUE(c) << error;
    return c;
}

TEST(LinuxTls, HandshakeNobodyAnswersEndsAtTheDeadline) {
    Peer peer;
    std::atomic<std::size_t> hello{0};
    peer.serve([&](int fd) {
        hello = Peer::readSome(fd);
        Peer::drain(fd);
    });
    auto c = connectTo(peer);
    ASSERT_TRUE(c);
    std::string error, line;
    const auto start = Clock::now();
    EXPECT_FALSE(c->startTls("mail.example", in(300ms), error));
    EXPECT_EQ(error, "TLS handshake failed: Connection timed out");
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_FALSE(c->isTls());
    // Nothing more goes over a connection whose handshake failed.
    EXPECT_FALSE(c->send("ehlo x\r\n", in(1s), error));
    EXPECT_FALSE(c->receiveLine(line, in(1s), error));
    c->close();
    peer.join();
    EXPECT_GT(hello.load(), 0u);  // a ClientHello did go out
}

TEST(LinuxTls, AnswersThatAreNoServerHelloFailClearly) {
    struct Case {
        const char* what;
        std::string answer;
        bool hangUp;
    };
    const Case cases[] = {
        {"an SMTP greeting", "220 mail.example ESMTP ready\r\n", false},
        {"zero bytes", std::string(64, '\0'), false},
        {"a TLS alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7), false},
        {"a record header promising more than a record may hold", std::string("\x16\x03\x03\xff\xff", 5), false},
        {"half a record, then the peer hangs up", std::string("\x16\x03\x03\x00\x40\x02\x00", 7), true},
        {"nothing, the peer hangs up", "", true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Peer peer;
        peer.serve([&k](int fd) {
            Peer::readSome(fd);
            Peer::write(fd, k.answer);
            if (!k.hangUp) Peer::drain(fd);
        });
        auto c = connectTo(peer);
        ASSERT_TRUE(c);
        std::string error;
        const auto start = Clock::now();
        EXPECT_FALSE(c->startTls("mail.example", in(5s), error));
        EXPECT_EQ(error.rfind("TLS handshake failed: ", 0), 0u) << error;
        EXPECT_NE(error, "TLS handshake failed: Connection timed out");
        EXPECT_LT(Clock::now() - start, 3s);
        if (k.hangUp) {
            EXPECT_EQ(error, "TLS handshake failed: the server closed the connection");
        }
        c->close();
        peer.join();
    }
}

TEST(LinuxTls, AbortEndsAHandshakeWaitAtOnce) {
    Peer peer;
    peer.serve([](int fd) { Peer::drain(fd); });
    auto c = connectTo(peer);
    ASSERT_TRUE(c);
    std::thread closer([&] {
        std::this_thread::sleep_for(200ms);
        c->abort();
    });
    std::string error;
    const auto start = Clock::now();
    EXPECT_FALSE(c->startTls("mail.example", in(60s), error));
    closer.join();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(error.empty());
    c->close();
    peer.join();
}

TEST(LinuxTls, ClearTextBytesAheadOfTheSwitchFailIt) {
    Peer peer;
    peer.serve([](int fd) {
        // The reply to STARTTLS and a forged reply behind it, in one segment.
        Peer::write(fd, "220 go ahead\r\n250-mail.example\r\n250 AUTH LOGIN\r\n");
        Peer::drain(fd);
    });
    auto c = connectTo(peer);
    ASSERT_TRUE(c);
    std::this_thread::sleep_for(100ms);  // let the whole segment arrive
    std::string error, line;
    ASSERT_TRUE(c->receiveLine(line, in(5s), error)) << error;
    EXPECT_EQ(line, "220 go ahead");
    EXPECT_FALSE(c->startTls("mail.example", in(5s), error));
    EXPECT_EQ(error, "The server sent data in clear text before the TLS handshake");
    EXPECT_FALSE(c->isTls());
    EXPECT_FALSE(c->receiveLine(line, in(1s), error));  // the forged line is never read
    c->close();
    peer.join();
}

TEST(LinuxTls, NoServerNameNoHandshake) {
    Peer peer;
    peer.serve([](int fd) { Peer::drain(fd); });
    auto c = connectTo(peer);
    ASSERT_TRUE(c);
    std::string error;
    EXPECT_FALSE(c->startTls("", in(1s), error));
    EXPECT_EQ(error, "TLS needs the server's name");
    c->close();
    peer.join();
}

}  // namespace
}  // namespace raid::linuxport

// The mail client over the Windows TCP port (Winsock, Schannel) against a real SMTP
// server on 127.0.0.1: aiosmtpd, started on the Linux side of Wine (tests/win32/UnixPeer.h),
// with certificates of an authority made for the test and trusted through SSL_CERT_FILE.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "notify/SmtpClient.h"
#include "platform/win32/WinPlatform.h"
#include "platform/win32/WinTls.h"
#include "support/PanelLog.h"
#include "win32/UnixPeer.h"

namespace raid {
namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using testing::UnixSmtpServer;

const SmtpMessage kMessage{"[RAID GUI v0.23.7-3 Message] ", {"Device1 P1 Hard Disk Drive fail."}};

class WinSmtpTest : public ::testing::Test {
protected:
    static testing::UnixFolder* pki;
    static bool pkiMade, python;

    static void SetUpTestSuite() {
        python = testing::haveAiosmtpd();
        pki = new testing::UnixFolder;
        pkiMade = python && testing::makeTestPki(*pki);
    }
    static void TearDownTestSuite() {
        delete pki;
        pki = nullptr;
    }
    void SetUp() override {
        if (!python) GTEST_SKIP() << "/usr/bin/python3 with aiosmtpd is not installed (apt-get install python3-aiosmtpd)";
        ASSERT_TRUE(pkiMade) << pki->read("pki.log");
        trust();
    }
    void TearDown() override { ::SetEnvironmentVariableA("SSL_CERT_FILE", nullptr); }

    // The test's own authority is trusted besides the system's.
    static void trust() { ::SetEnvironmentVariableA("SSL_CERT_FILE", pki->win("ca.pem").c_str()); }

    // A server in `mode` with TLS `tls` ("none", "starttls", "implicit") and certificate `cert`.
    static bool serve(UnixSmtpServer& server, const std::string& tls, const std::string& cert,
                      std::vector<std::string> options) {
        options.insert(options.end(), {"--tls", tls, "--cert", pki->unixPath(cert + ".pem"), "--key",
                                       pki->unixPath(cert + ".key")});
        return server.start(options);
    }

    SmtpSettings settings(std::uint16_t port, std::uint8_t security, const std::string& host = "127.0.0.1") {
        SmtpSettings s;
        s.smtpHost = host;
        s.smtpPort = std::to_string(port);
        s.authState = 1;
        s.senderName = "Desk";
        s.senderAddress = "alice@example.com";
        s.password = "s3cret";
        s.timeout = "20";
        s.recipients = {"one@example.com"};
        s.security = security;
        return s;
    }

    std::unique_ptr<TcpPort> tcp = win32::makeTcpPort();
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    test::PanelLog log;
    SmtpClient client{*tcp, *sched, log};
};

testing::UnixFolder* WinSmtpTest::pki = nullptr;
bool WinSmtpTest::pkiMade = false;
bool WinSmtpTest::python = false;

TEST_F(WinSmtpTest, MailGoesOutInClearTextWithStartTlsAndWithImplicitTls) {
    {
        UnixSmtpServer server;
        ASSERT_TRUE(serve(server, "none", "good", {"--auth"}));
        const SmtpResult r = client.SendAlertMail(settings(server.port, kSmtpSecurityNone), kMessage);
        ASSERT_TRUE(r.sent) << r.error;
        EXPECT_EQ(log.panels.back(), (std::pair<int, std::string>{3, "Send mail Success!"}));
        const auto mails = server.received();
        ASSERT_EQ(mails.size(), 1u);
        EXPECT_EQ(mails[0][0], "alice@example.com");
        EXPECT_EQ(mails[0][2], "alice");
        EXPECT_EQ(mails[0][3], "s3cret");
        EXPECT_NE(mails[0][4].find("Device1 P1 Hard Disk Drive fail.\r\n"), std::string::npos);
        EXPECT_EQ(server.transcript(), (Lines{"EHLO 0", "AUTH 0", "MAIL 0", "DATA 0"}));

        // The port itself: this end's address, this machine's name, and bytes that came
        // in clear text ahead of a switch to TLS, which could pose as its first reply.
        std::string error;
        auto c = tcp->connect("127.0.0.1", server.port, std::chrono::seconds(20), error);
        ASSERT_TRUE(c) << error;
        EXPECT_EQ(c->localAddress(), "127.0.0.1");
        EXPECT_FALSE(tcp->localHostName().empty());
        const TcpDeadline deadline = Clock::now() + std::chrono::seconds(60);
        const std::size_t before = server.transcript().size();
        ASSERT_TRUE(c->send("EHLO a\r\nEHLO b\r\n", deadline, error)) << error;
        // Once the server took the second EHLO its answer to the first is on its way.
        ASSERT_TRUE(testing::waitUntil([&] { return server.transcript().size() == before + 2; }));
        std::string line;
        ASSERT_TRUE(c->receiveLine(line, deadline, error)) << error;
        EXPECT_EQ(line.substr(0, 4), "220 ");
        EXPECT_FALSE(c->startTls("127.0.0.1", deadline, error));
        EXPECT_EQ(error, "The server sent data in clear text before the TLS handshake");
        EXPECT_FALSE(c->isTls());
        c->close();
        server.stop();

        // Nobody listens there any more; a name that does not exist.
        EXPECT_FALSE(tcp->connect("127.0.0.1", server.port, std::chrono::seconds(20), error));
        EXPECT_EQ(error, win32::systemErrorText(WSAECONNREFUSED));
        for (const std::string& host : {std::string("no-such-host.invalid"), std::string(), std::string("127.0.0.1\0evil", 14)}) {
            EXPECT_FALSE(tcp->connect(host, 25, std::chrono::seconds(20), error));
            EXPECT_FALSE(error.empty());
        }
    }
    {
        UnixSmtpServer server;
        ASSERT_TRUE(serve(server, "starttls", "good", {"--auth"}));
        for (const char* host : {"127.0.0.1", "localhost"}) {  // address check, then name check with SNI
            SCOPED_TRACE(host);
            const SmtpResult r = client.SendAlertMail(settings(server.port, kSmtpSecurityStartTls, host), kMessage);
            ASSERT_TRUE(r.sent) << r.error;
        }
        const auto mails = server.received();
        ASSERT_EQ(mails.size(), 2u);
        EXPECT_EQ(mails[1][2], "alice");
        const Lines once = {"EHLO 0", "STARTTLS 0", "EHLO 1", "AUTH 1", "MAIL 1", "DATA 1"};
        Lines twice = once;
        twice.insert(twice.end(), once.begin(), once.end());
        EXPECT_EQ(server.transcript(), twice);
    }
    {
        UnixSmtpServer server;
        ASSERT_TRUE(serve(server, "implicit", "good", {"--auth"}));
        const SmtpResult r = client.SendAlertMail(settings(server.port, kSmtpSecurityTls), kMessage);
        ASSERT_TRUE(r.sent) << r.error;
        ASSERT_EQ(server.received().size(), 1u);
        EXPECT_EQ(server.transcript(), (Lines{"EHLO 1", "AUTH 1", "MAIL 1", "DATA 1"}));
    }
}

TEST_F(WinSmtpTest, UntrustedOrMisnamedCertificatesAreRefusedBeforeAnyLogin) {
    struct Case {
        const char* what;
        const char* cert;
        const char* host;
        const char* trusted;  // what SSL_CERT_FILE names
        std::uint8_t security;
    };
    const Case cases[] = {
        {"another host's name", "other", "localhost", "ca.pem", kSmtpSecurityStartTls},
        {"another host's name for an address", "other", "127.0.0.1", "ca.pem", kSmtpSecurityTls},
        {"self-signed", "self", "localhost", "ca.pem", kSmtpSecurityTls},
        {"an authority nobody trusts", "good", "localhost", nullptr, kSmtpSecurityStartTls},
        // Endless zeros where a PEM file is expected: read up to a bound, no authority.
        {"SSL_CERT_FILE of no certificate", "good", "localhost", "/dev/zero", kSmtpSecurityTls},
        {"expired", "expired", "127.0.0.1", "ca.pem", kSmtpSecurityStartTls},
    };
    std::vector<std::string> reasons;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = !c.trusted ? "" : c.trusted[0] == '/' ? "Z:\\dev\\zero" : pki->win(c.trusted);
        ::SetEnvironmentVariableA("SSL_CERT_FILE", file.empty() ? nullptr : file.c_str());
        UnixSmtpServer server;
        ASSERT_TRUE(serve(server, c.security == kSmtpSecurityTls ? "implicit" : "starttls", c.cert, {"--auth"}));
        const SmtpResult r = client.SendAlertMail(settings(server.port, c.security, c.host), kMessage);
        EXPECT_FALSE(r.sent);
        EXPECT_EQ(r.error.rfind("certificate verify failed: ", 0), 0u) << r.error;
        EXPECT_GT(r.error.size(), std::string("certificate verify failed: ").size());
        reasons.push_back(r.error);
        EXPECT_TRUE(server.received().empty());
        server.stop();
        for (const auto& line : server.transcript()) {
            EXPECT_NE(line.substr(0, 4), "AUTH");
            EXPECT_NE(line.substr(0, 4), "MAIL");
        }
    }
    // The system says what went wrong: the name, the authority or the dates.
    EXPECT_EQ(reasons[0], reasons[1]);
    EXPECT_EQ(reasons[3], reasons[4]);
    EXPECT_NE(reasons[0], reasons[3]);
    EXPECT_NE(reasons[5], reasons[0]);
    EXPECT_NE(reasons[5], reasons[3]);
}

TEST_F(WinSmtpTest, SilentOrDeafPeersAreBoundedAndAbortEndsAWaitFromAnotherThread) {
    UnixSmtpServer silent, silentInTls;
    ASSERT_TRUE(serve(silent, "none", "good", {"--mode", "silent"}));
    ASSERT_TRUE(serve(silentInTls, "implicit", "good", {"--mode", "silent"}));
    struct Case {
        const char* what;
        std::uint16_t port;
        bool handshake;  // the wait is for the answer to the handshake, else for a line
    };
    // The greeting never comes; the handshake is never answered; the greeting never
    // comes inside TLS.
    const Case cases[] = {{"line", silent.port, false}, {"handshake", silent.port, true},
                          {"line in TLS", silentInTls.port, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto connect = [&] {
            std::string error;
            auto connection = tcp->connect("127.0.0.1", c.port, std::chrono::seconds(20), error);
            EXPECT_TRUE(connection) << error;
            if (connection && c.port == silentInTls.port) {
                EXPECT_TRUE(connection->startTls("localhost", Clock::now() + std::chrono::seconds(60), error)) << error;
            }
            return connection;
        };
        const auto wait = [&](TcpConnection& connection, TcpDeadline deadline, std::string& error) {
            std::string line;
            return c.handshake ? connection.startTls("127.0.0.1", deadline, error)
                               : connection.receiveLine(line, deadline, error);
        };
        auto connection = connect();
        ASSERT_TRUE(connection);
        std::string error;
        auto start = Clock::now();
        EXPECT_FALSE(wait(*connection, start + std::chrono::seconds(1), error));
        EXPECT_NE(error.find(win32::timedOutText()), std::string::npos) << error;
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));

        // A program that is closing: abort() from another thread ends a long wait.
        connection = connect();
        ASSERT_TRUE(connection);
        std::atomic<bool> waiting{false};
        std::thread closer([&] {
            while (!waiting) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            connection->abort();
        });
        start = Clock::now();
        waiting = true;
        const bool ok = wait(*connection, start + std::chrono::seconds(600), error);
        closer.join();
        EXPECT_FALSE(ok);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(120));
        EXPECT_FALSE(connection->send("QUIT\r\n", Clock::now() + std::chrono::seconds(5), error));  // broken for good
    }
    // A peer that never reads: the sender's wait for room runs into its deadline. The
    // peer is a listener of the test's own (the test server's "deaf" mode reads on in
    // clear text; inside TLS the write path waits with the same code).
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    std::string error;
    auto c = tcp->connect("127.0.0.1", ntohs(address.sin_port), std::chrono::seconds(20), error);
    ASSERT_TRUE(c) << error;
    const SOCKET deaf = ::accept(listener, nullptr, nullptr);
    const auto start = Clock::now();
    EXPECT_FALSE(c->send(std::string(64 << 20, 'w'), start + std::chrono::milliseconds(500), error));
    EXPECT_EQ(error, win32::timedOutText());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    ::closesocket(deaf);
    ::closesocket(listener);
}

TEST_F(WinSmtpTest, EndlessLineIsRefusedInClearTextAndInTls) {
    for (const auto& [tls, security] : {std::pair{"none", kSmtpSecurityNone}, std::pair{"implicit", kSmtpSecurityTls}}) {
        SCOPED_TRACE(tls);
        UnixSmtpServer server;
        ASSERT_TRUE(serve(server, tls, "good", {"--mode", "endless"}));
        const SmtpResult r = client.SendAlertMail(settings(server.port, security), kMessage);
        EXPECT_FALSE(r.sent);
        EXPECT_EQ(r.error, "Line longer than 65536 bytes");
    }
}

}  // namespace
}  // namespace raid

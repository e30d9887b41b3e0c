// The mail client with TLS: the dialogue it holds around STARTTLS and implicit TLS
// (scripted peer), and real submissions to aiosmtpd over TLS with certificates of a
// certificate authority made for the test, good ones and bad ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "support/PanelLog.h"
#include "notify/PythonSmtpServer.h"
#include "notify/TestPki.h"
#include "notify/ScriptedTcp.h"
#include "notify/SmtpClient.h"
#include "platform/linux/LinuxTcp.h"

namespace raid {
namespace {

using raid::testing::TestPki;

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

using test::PanelLog;

SmtpSettings baseSettings(std::uint8_t security) {
    SmtpSettings s;
    s.smtpHost = "mail.example";
    s.smtpPort = "587";
    s.authState = 1;
    s.senderName = "Desk";
    s.senderAddress = "alice@example.com";
    s.password = "s3cret";
    s.timeout = "5";
    s.recipients = {"one@example.com"};
    s.security = security;
    return s;
}

const SmtpMessage kMessage{"[RAID GUI v0.23.7-3 Message] ", {"Device1 P1 Hard Disk Drive fail."}};

// ---- The dialogue, against a scripted peer -----------------------------------------

class SmtpTlsDialogueTest : public ::testing::Test {
protected:
    testing::ScriptedTcp tcp;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    PanelLog log;
    SmtpClient client{tcp, *sched, log};

    SmtpResult send(std::uint8_t security, const std::string& replies) {
        tcp.script->replies = replies;
        tcp.script->closeWhenDry = true;
        return client.SendAlertMail(baseSettings(security), kMessage);
    }
    const std::string& sent() const { return tcp.script->sent; }
};

const std::string kAfterLogin = "250 sender ok\r\n250 rcpt ok\r\n354 go\r\n250 queued\r\n";

TEST_F(SmtpTlsDialogueTest, StartTlsThenASecondEhloWhoseAnswerAloneCounts) {
    // Before TLS the server (or someone in between) offers only PLAIN; inside TLS it
    // offers LOGIN. The client logs in on what it heard inside TLS.
    const SmtpResult r = send(kSmtpSecurityStartTls,
                              "220 hi\r\n250-mail.example\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n220 go ahead\r\n"
                              "250-mail.example\r\n250 AUTH LOGIN\r\n250 reset\r\n334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n"
                              "235 ok\r\n" + kAfterLogin);
    ASSERT_TRUE(r.sent) << r.error;
    const std::string beforeTls = "ehlo alerthost\r\nSTARTTLS\r\n";
    ASSERT_EQ(sent().substr(0, beforeTls.size()), beforeTls);
    EXPECT_EQ(tcp.script->tlsAt, beforeTls.size());
    EXPECT_EQ(tcp.script->tlsHost, "mail.example");
    EXPECT_EQ(sent().substr(beforeTls.size(), 42), "ehlo alerthost\r\nRset\r\nauth LOGIN\r\nYWxpY2U=");
    EXPECT_EQ(client.announcedAuthMethods(), (std::set<std::string>{"LOGIN"}));
}

TEST_F(SmtpTlsDialogueTest, LoginMethodsHeardBeforeStartTlsAreForgotten) {
    const SmtpResult r = send(kSmtpSecurityStartTls,
                              "220 hi\r\n250-mail.example\r\n250-AUTH LOGIN\r\n250 starttls\r\n220 go ahead\r\n"
                              "250 mail.example\r\n250 reset\r\n" + kAfterLogin);
    // Inside TLS nothing is offered: no login, and so no mail.
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "The server offers no login method this program can use (AUTH LOGIN or PLAIN)");
    EXPECT_EQ(sent().find("auth"), std::string::npos);
    EXPECT_EQ(sent().find("Mail from"), std::string::npos);
    EXPECT_TRUE(client.announcedAuthMethods().empty());
}

TEST_F(SmtpTlsDialogueTest, NoStartTlsOfferMeansQuitAndNoMail) {
    struct Case {
        const char* what;
        std::string replies;
        std::string dialogue;
    };
    const Case cases[] = {
        {"EHLO without the offer", "220 hi\r\n250-mail.example\r\n250 AUTH LOGIN PLAIN\r\n",
         "ehlo alerthost\r\nQuit\r\n"},
        {"the offer as part of another word", "220 hi\r\n250-mail.example\r\n250 STARTTLSX\r\n",
         "ehlo alerthost\r\nQuit\r\n"},
        {"the offer on the first line only", "220 hi\r\n250 STARTTLS\r\n", "ehlo alerthost\r\nQuit\r\n"},
        {"only HELO works", "220 hi\r\n500 what\r\n250 hello\r\n", "ehlo alerthost\r\nHelo alerthost\r\nQuit\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tcp.script = std::make_shared<testing::TcpScript>();
        const SmtpResult r = send(kSmtpSecurityStartTls, c.replies);
        EXPECT_FALSE(r.sent);
        EXPECT_EQ(r.error, "the server does not offer STARTTLS");
        EXPECT_EQ(sent(), c.dialogue);
        EXPECT_EQ(tcp.script->tlsAt, std::string::npos);
        EXPECT_EQ(tcp.script->closes, 1);
    }
}

TEST_F(SmtpTlsDialogueTest, RefusedStartTlsOrFailedHandshakeSendsNothingMore) {
    SmtpResult r = send(kSmtpSecurityStartTls,
                        "220 hi\r\n250-mail.example\r\n250 STARTTLS\r\n454 4.7.0 TLS not available\r\n");
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "454 4.7.0 TLS not available");
    EXPECT_EQ(sent(), "ehlo alerthost\r\nSTARTTLS\r\nQuit\r\n");

    tcp.script = std::make_shared<testing::TcpScript>();
    tcp.script->tlsRefusal = "certificate verify failed: certificate has expired";
    r = send(kSmtpSecurityStartTls, "220 hi\r\n250-mail.example\r\n250 STARTTLS\r\n220 go\r\n");
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "certificate verify failed: certificate has expired");
    EXPECT_EQ(sent(), "ehlo alerthost\r\nSTARTTLS\r\n");
    EXPECT_EQ(tcp.script->closes, 1);
}

TEST_F(SmtpTlsDialogueTest, ImplicitTlsComesBeforeTheGreeting) {
    SmtpResult r = send(kSmtpSecurityTls, "220 hi\r\n250-mail.example\r\n250 AUTH LOGIN\r\n250 reset\r\n334 a\r\n"
                                          "334 b\r\n235 ok\r\n" + kAfterLogin);
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(tcp.script->tlsAt, 0u);
    EXPECT_EQ(tcp.script->tlsAfterReads, 0u);
    EXPECT_EQ(sent().substr(0, 34), "ehlo alerthost\r\nRset\r\nauth LOGIN\r\n");  // no STARTTLS inside TLS

    tcp.script = std::make_shared<testing::TcpScript>();
    tcp.script->tlsRefusal = "TLS handshake failed: wrong version number";
    r = send(kSmtpSecurityTls, "220 hi\r\n");
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "TLS handshake failed: wrong version number");
    EXPECT_EQ(sent(), "");
}

TEST_F(SmtpTlsDialogueTest, UnknownSecurityValueNeverConnects) {
    const SmtpResult r = send(3, "220 hi\r\n");
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Unknown connection security setting");
    EXPECT_EQ(tcp.script->connects, 0);
}

// ---- Real TLS against aiosmtpd ------------------------------------------------------

class SmtpTlsServerTest : public ::testing::Test {
protected:
    static TestPki pki;
    static std::optional<std::string> savedCertFile, savedCertDir;

    static void SetUpTestSuite() {
        pki.make();
        if (const char* v = std::getenv("SSL_CERT_FILE")) savedCertFile = v;
        if (const char* v = std::getenv("SSL_CERT_DIR")) savedCertDir = v;
        // Only the test's own authority is trusted.
        ::setenv("SSL_CERT_FILE", pki.path("ca.pem").c_str(), 1);
        ::setenv("SSL_CERT_DIR", pki.dir.c_str(), 1);
    }
    static void TearDownTestSuite() {
        savedCertFile ? ::setenv("SSL_CERT_FILE", savedCertFile->c_str(), 1) : ::unsetenv("SSL_CERT_FILE");
        savedCertDir ? ::setenv("SSL_CERT_DIR", savedCertDir->c_str(), 1) : ::unsetenv("SSL_CERT_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(pki.dir, ignored);
    }

    linuxport::LinuxTcpPort tcp;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    PanelLog log;
    SmtpClient client{tcp, *sched, log};
    testing::PythonSmtpServer server;
    SmtpSettings settings = baseSettings(kSmtpSecurityNone);

    // false when the test was skipped for want of the server.
    bool serve(const std::string& tls, const std::string& cert, std::vector<std::string> options) {
        EXPECT_TRUE(pki.ok) << "the openssl tool could not make the test certificates";
        const std::string python = testing::PythonSmtpServer::python();
        if (python.empty() || !pki.ok) return false;
        options.insert(options.end(), {"--tls", tls, "--cert", pki.path(cert + ".pem"), "--key",
                                       pki.path(cert + ".key")});
        EXPECT_TRUE(server.start(python, options)) << "the aiosmtpd test server did not start";
        settings.smtpHost = "127.0.0.1";
        settings.smtpPort = std::to_string(server.port);
        return server.port != 0;
    }
};

TestPki SmtpTlsServerTest::pki;
std::optional<std::string> SmtpTlsServerTest::savedCertFile, SmtpTlsServerTest::savedCertDir;

#define SERVE_OR_SKIP(...)                                                                             \
    if (!serve(__VA_ARGS__)) {                                                                         \
        if (::testing::Test::HasFailure()) return;                                                     \
        GTEST_SKIP() << "python3 with aiosmtpd is not installed (Debian: apt-get install python3-aiosmtpd)"; \
    }

TEST_F(SmtpTlsServerTest, StartTlsDeliversAndLogsInOnlyInsideTls) {
    SERVE_OR_SKIP("starttls", "good", {"--auth"});
    for (const char* host : {"127.0.0.1", "localhost"}) {  // address check, then name check with SNI
        SCOPED_TRACE(host);
        settings.smtpHost = host;
        settings.security = kSmtpSecurityStartTls;
        const SmtpResult r = client.SendAlertMail(settings, kMessage);
        ASSERT_TRUE(r.sent) << r.error;
        EXPECT_EQ(log.panels.back(), (std::pair<int, std::string>{3, "Send mail Success!"}));
    }
    const auto mails = server.received();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].login, "alice");
    EXPECT_EQ(mails[0].password, "s3cret");
    EXPECT_EQ(mails[0].rcptTos, (Lines{"one@example.com"}));
    const Lines once = {"EHLO 0", "STARTTLS 0", "EHLO 1", "AUTH 1", "MAIL 1", "DATA 1"};
    Lines twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(server.transcript(), twice);
}

TEST_F(SmtpTlsServerTest, ImplicitTlsDeliversWithEverythingInsideTls) {
    SERVE_OR_SKIP("implicit", "good", {"--auth"});
    settings.security = kSmtpSecurityTls;
    const SmtpResult r = client.SendAlertMail(settings, kMessage);
    ASSERT_TRUE(r.sent) << r.error;
    ASSERT_EQ(server.received().size(), 1u);
    EXPECT_EQ(server.received()[0].login, "alice");
    EXPECT_EQ(server.transcript(), (Lines{"EHLO 1", "AUTH 1", "MAIL 1", "DATA 1"}));
}

TEST_F(SmtpTlsServerTest, BadCertificatesAreRefusedWithTheReason) {
    struct Case {
        const char* cert;
        const char* host;
        const char* reason;
    };
    const Case cases[] = {{"other", "localhost", "certificate verify failed: hostname mismatch"},
                          {"other", "127.0.0.1", "certificate verify failed: IP address mismatch"},
                          {"expired", "127.0.0.1", "certificate verify failed: certificate has expired"},
                          {"self", "localhost", "certificate verify failed: self-signed certificate"}};
    for (const auto& c : cases) {
        for (const std::uint8_t security : {kSmtpSecurityStartTls, kSmtpSecurityTls}) {
            SCOPED_TRACE(std::string(c.cert) + " " + c.host + " security " + std::to_string(security));
            testing::PythonSmtpServer fresh;
            const std::string python = testing::PythonSmtpServer::python();
            if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd is not installed";
            ASSERT_TRUE(pki.ok);
            ASSERT_TRUE(fresh.start(python, {"--auth", "--tls", security == kSmtpSecurityTls ? "implicit" : "starttls",
                                             "--cert", pki.path(std::string(c.cert) + ".pem"), "--key",
                                             pki.path(std::string(c.cert) + ".key")}));
            settings.smtpHost = c.host;
            settings.smtpPort = std::to_string(fresh.port);
            settings.security = security;
            const SmtpResult r = client.SendAlertMail(settings, kMessage);
            EXPECT_FALSE(r.sent);
            EXPECT_EQ(r.error, c.reason);
            EXPECT_TRUE(fresh.received().empty());
            fresh.stop();
            for (const auto& line : fresh.transcript()) {
                EXPECT_NE(line.substr(0, 4), "AUTH");
                EXPECT_NE(line.substr(0, 4), "MAIL");
            }
        }
    }
}

TEST_F(SmtpTlsServerTest, ServerWithoutStartTlsGetsNoLoginAndNoMail) {
    SERVE_OR_SKIP("none", "good", {"--auth"});  // offers AUTH LOGIN in clear text
    settings.security = kSmtpSecurityStartTls;
    const SmtpResult r = client.SendAlertMail(settings, kMessage);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "the server does not offer STARTTLS");
    EXPECT_TRUE(server.received().empty());
    EXPECT_EQ(server.transcript(), (Lines{"EHLO 0"}));
}

TEST_F(SmtpTlsServerTest, ImplicitTlsToAClearTextServerFailsClearly) {
    SERVE_OR_SKIP("none", "good", {"--auth"});
    settings.security = kSmtpSecurityTls;
    const SmtpResult r = client.SendAlertMail(settings, kMessage);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error.rfind("TLS handshake failed: ", 0), 0u) << r.error;
    EXPECT_TRUE(server.received().empty());
    EXPECT_TRUE(server.transcript().empty());
}

TEST_F(SmtpTlsServerTest, SilentPeerInsideTlsIsBoundedAndCancelEndsTheWait) {
    SERVE_OR_SKIP("implicit", "good", {"--mode", "silent"});
    settings.security = kSmtpSecurityTls;
    settings.timeout = "1";
    auto start = Clock::now();
    SmtpResult r = client.SendAlertMail(settings, kMessage);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Connection timed out");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));

    // A program that is closing: cancel() from another thread ends the TLS read.
    settings.timeout = "60";
    start = Clock::now();
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client.cancel();
    });
    r = client.SendAlertMail(settings, kMessage);
    closer.join();
    EXPECT_FALSE(r.sent);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SmtpTlsServerTest, PeerThatNeverReadsInsideTlsRunsIntoTheSendDeadline) {
    SERVE_OR_SKIP("implicit", "good", {"--mode", "deaf"});
    std::string error;
    auto c = tcp.connect("127.0.0.1", server.port, std::chrono::seconds(5), error);
    ASSERT_TRUE(c) << error;
    ASSERT_TRUE(c->startTls("127.0.0.1", Clock::now() + std::chrono::seconds(5), error)) << error;
    EXPECT_TRUE(c->isTls());
    const auto start = Clock::now();
    EXPECT_FALSE(c->send(std::string(64 << 20, 'w'), start + std::chrono::milliseconds(500), error));
    EXPECT_EQ(error, "Connection timed out");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SmtpTlsServerTest, EndlessLineInsideTlsIsBounded) {
    SERVE_OR_SKIP("implicit", "good", {"--mode", "endless"});
    settings.security = kSmtpSecurityTls;
    const SmtpResult r = client.SendAlertMail(settings, kMessage);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Line longer than 65536 bytes");
}

}  // namespace
}  // namespace raid

// The mail client over real sockets against a real SMTP server (aiosmtpd) on
// 127.0.0.1, and against servers that misbehave.
#include <gtest/gtest.h>

#include "support/PanelLog.h"
#include "notify/MailFormat.h"
#include "notify/PythonSmtpServer.h"
#include "notify/SmtpClient.h"
#include "platform/linux/LinuxTcp.h"

namespace raid {
namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

using test::PanelLog;

class SmtpServerTest : public ::testing::Test {
protected:
    linuxport::LinuxTcpPort tcp;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    PanelLog log;
    SmtpClient client{tcp, *sched, log};
    testing::PythonSmtpServer server;
    SmtpSettings settings;
    SmtpMessage message;

    void SetUp() override {
        settings.smtpHost = "127.0.0.1";
        settings.senderName = "Ops \"night\" desk";
        settings.senderAddress = "alice@example.com";
        settings.password = "s3cret";
        settings.timeout = "5";
        settings.recipients = {"one@example.com", "two@example.com", "three@example.com"};
        message.subject = "[RAID GUI v0.23.7-3 Message] ";
        message.body = {"Device1 P1 Hard Disk Drive fail.", ".", "..twice",
                        "\n=========== [System Information] ==============", "\nSystem Name : box"};
    }

    // false when the test was skipped for want of the server.
    bool serve(const std::vector<std::string>& options) {
        const std::string python = testing::PythonSmtpServer::python();
        if (python.empty()) return false;
        EXPECT_TRUE(server.start(python, options)) << "the aiosmtpd test server did not start";
        settings.smtpPort = std::to_string(server.port);
        return server.port != 0;
    }
};

#define SERVE_OR_SKIP(...)                                                                             \
    if (!serve(__VA_ARGS__)) {                                                                         \
        if (::testing::Test::HasFailure()) return;                                                     \
        GTEST_SKIP() << "python3 with aiosmtpd is not installed (Debian: apt-get install python3-aiosmtpd)"; \
    }

TEST_F(SmtpServerTest, AlertWithLoginArrivesAsSent) {
    SERVE_OR_SKIP({"--auth"});
    settings.authState = 1;
    const SmtpResult r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(client.announcedAuthMethods().count("LOGIN"), 1u);
    EXPECT_EQ(log.panels.back(), (std::pair<int, std::string>{3, "Send mail Success!"}));

    const auto mails = server.received();
    ASSERT_EQ(mails.size(), 1u);
    const auto& m = mails[0];
    EXPECT_EQ(m.login, "alice");  // the name part of the address only
    EXPECT_EQ(m.password, "s3cret");
    EXPECT_EQ(m.mailFrom, "alice@example.com");
    EXPECT_EQ(m.rcptTos, (Lines{"one@example.com", "two@example.com", "three@example.com"}));
    // What a standard mail parser makes of our headers.
    EXPECT_EQ(m.subject, "[RAID GUI v0.23.7-3 Message] ");
    EXPECT_EQ(m.fromName, "Ops \"night\" desk");
    EXPECT_EQ(m.fromAddress, "alice@example.com");
    EXPECT_EQ(m.to, "one@example.com, two@example.com, three@example.com");
    EXPECT_EQ(m.dateSeconds, "1796601600");
    EXPECT_NE(m.data.find("\r\nX-Priority: 3\r\nX-Library: Indy 8.0.25\r\n\r\n"), std::string::npos);
    // The body as written: dots back to what they were, the line feeds that begin
    // the host information lines sent as line breaks.
    EXPECT_NE(m.data.find("\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\n.\r\n..twice\r\n"
                          "\r\n=========== [System Information] ==============\r\n\r\nSystem Name : box\r\n"),
              std::string::npos)
        << m.data;

    // Every message and every attempt has an id of its own, in a form a strict
    // reader takes.
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    const auto again = server.received();
    ASSERT_EQ(again.size(), 2u);
    for (const auto& mail : again) {
        EXPECT_EQ(mail.messageId.substr(0, 16), "<20261207000000.") << mail.messageId;
        EXPECT_EQ(mail.messageId.back(), '>') << mail.messageId;
        EXPECT_NE(mail.messageId.find('@'), std::string::npos) << mail.messageId;
        EXPECT_EQ(mail.defects.find("Message-ID"), std::string::npos) << mail.defects;
    }
    EXPECT_NE(again[0].messageId, again[1].messageId);
}

TEST_F(SmtpServerTest, EncodedWordsAndFoldingSurviveAStandardParser) {
    SERVE_OR_SKIP({});
    settings.senderName = "Lager S\xc3\xbc" "d \xe2\x80\x93 Nachtschicht";
    message.subject = "[RAID GUI v0.23.7-3 Message] Festplatte ausgefallen \xe2\x80\x93 bitte sofort pr\xc3\xbc"
                      "fen, das Ger\xc3\xa4t steht im Keller neben dem Server mit dem Etikett \xe2\x80\x9e" "B2\xe2\x80\x9c";
    settings.recipients.clear();
    for (int i = 0; i < 10; ++i) settings.recipients.push_back("operator" + std::to_string(i) + "@example.com");
    const SmtpResult r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    const auto mails = server.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].subject, message.subject);
    EXPECT_EQ(mails[0].fromName, settings.senderName);
    EXPECT_EQ(mails[0].rcptTos.size(), 10u);
    EXPECT_EQ(mails[0].to.substr(0, 50), "operator0@example.com, operator1@example.com, oper");
    // Only ASCII went over the wire, in lines a server takes.
    for (const char c : mails[0].data) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    const std::string& d = mails[0].data;
    for (std::size_t pos = 0, end; (end = d.find("\r\n", pos)) != std::string::npos && end != pos; pos = end + 2)
        EXPECT_LE(end - pos, kMailFoldWidth) << d.substr(pos, end - pos);
}

// The body text as a reader gets it: the lines, each ended by a line feed.
std::string textOf(const Lines& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

TEST_F(SmtpServerTest, NonAsciiTextIsDeclaredAndTakenByServersThatEnforceTheRules) {
    SERVE_OR_SKIP({"--mode", "strict8bit"});
    message.subject = "[RAID GUI v0.23.7-3 Message] Gr\xc3\xbc\xc3\x9f" "e";
    message.body = {"Device1 P1 Hard Disk Drive fail.", "Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln", ".", "",
                    ".Gr\xc3\xbc\xc3\x9f" "e = 100 % \xe2\x82\xac, trailing blank ", "\xe2\x9c\x93\t"};
    // Announced: 8-bit text, declared in the envelope and the header.
    SmtpResult r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    auto mails = server.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].mailOptions, "BODY=8BITMIME");
    EXPECT_NE(mails[0].data.find("\r\nContent-Type: text/plain; charset=UTF-8\r\nMIME-Version: 1.0\r\n"
                                 "Content-Transfer-Encoding: 8bit\r\n"),
              std::string::npos)
        << mails[0].data;
    EXPECT_EQ(mails[0].defects, "");
    EXPECT_EQ(mails[0].text, textOf(message.body));
    EXPECT_EQ(mails[0].subject, message.subject);

    // Not announced: quoted-printable, only ASCII on the wire, decoded exactly as written.
    testing::PythonSmtpServer plain;
    ASSERT_TRUE(plain.start(testing::PythonSmtpServer::python(), {"--mode", "no8bitmime"}));
    settings.smtpPort = std::to_string(plain.port);
    r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    mails = plain.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].mailOptions, "");
    EXPECT_NE(mails[0].data.find("\r\nContent-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    for (const char c : mails[0].data) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    EXPECT_EQ(mails[0].defects, "");
    EXPECT_EQ(mails[0].text, textOf(message.body));

    // Lines longer than a server takes, a CR that is no line end, a NUL: quoted-
    // printable too, in short lines, and decoded exactly as written, dots and all.
    for (const char* mode : {"strict8bit", "no8bitmime"}) {
        testing::PythonSmtpServer strict;
        ASSERT_TRUE(strict.start(testing::PythonSmtpServer::python(), {"--mode", mode}));
        settings.smtpPort = std::to_string(strict.port);
        std::string huge;
        for (int i = 0; i < 300; ++i) huge += "K\xc3\xb6ln . =" + std::string(i % 7, ' ');
        message.body = {std::string(997, 'x') + ".", "." + std::string(998, '.'), huge, "bare\rCR", "CR LF\r\nin a line",
                        std::string("N\0L", 3), ".\r.", "\r", "", "ends in a blank "};
        r = client.SendAlertMail(settings, message);
        ASSERT_TRUE(r.sent) << r.error;
        mails = strict.received();
        ASSERT_EQ(mails.size(), 1u);
        EXPECT_NE(mails[0].data.find("\r\nContent-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
        EXPECT_EQ(mails[0].defects, "");
        EXPECT_EQ(mails[0].text, textOf(message.body)) << mails[0].data;
        const std::string& d = mails[0].data;
        for (std::size_t pos = 0, end; (end = d.find("\r\n", pos)) != std::string::npos; pos = end + 2)
            EXPECT_LE(end - pos, 78u) << d.substr(pos, end - pos);
    }

    // Plain ASCII in short lines needs no declaration at all.
    settings.smtpPort = std::to_string(plain.port);
    message.body = {"Device1 P1 Hard Disk Drive fail.", ".", "plain"};
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    mails = plain.received();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[1].data.find("MIME-Version"), std::string::npos) << mails[1].data;
    EXPECT_EQ(mails[1].defects, "");
    EXPECT_EQ(mails[1].text, textOf(message.body));
}

TEST_F(SmtpServerTest, WithoutLoginOfferedPlainLogsIn) {
    SERVE_OR_SKIP({"--no-login", "--expect-login", "alice:s3cret"});
    settings.authState = 1;
    SmtpResult r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(client.announcedAuthMethods(), (std::set<std::string>{"PLAIN"}));
    auto mails = server.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].login, "alice");
    EXPECT_EQ(mails[0].password, "s3cret");
    // A wrong password is refused by the server: the code alone, for good.
    settings.password = "wrong";
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "AUTH PLAIN refused (535)");
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(server.received().size(), 1u);
}

// A port that gives the machine the name a test wants and connects for real.
struct NamedTcpPort final : TcpPort {
    linuxport::LinuxTcpPort real;
    std::string name;
    std::unique_ptr<TcpConnection> connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
                                           std::string& error) override {
        return real.connect(host, port, timeout, error);
    }
    std::string localHostName() override { return name; }
};

// A server that insists on a fully qualified name gets one, or the address of the
// connection as a literal when the machine has no such name.
TEST_F(SmtpServerTest, EhloNameIsFullyQualifiedOrAnAddressLiteral) {
    SERVE_OR_SKIP({"--mode", "fqdn"});
    NamedTcpPort named;
    SmtpClient namedClient{named, *sched, log};
    for (const char* name : {"vm", "vm.example.org.", "", "bad name\r\nRSET", "10.0.0.1", "-x.example"}) {
        named.name = name;
        const SmtpResult r = namedClient.SendAlertMail(settings, message);
        EXPECT_TRUE(r.sent) << name << ": " << r.error;
    }
    Lines names;
    for (const auto& l : server.transcript())
        if (l.rfind("NAME ", 0) == 0) names.push_back(l.substr(5));
    EXPECT_EQ(names, (Lines{"[127.0.0.1]", "vm.example.org", "[127.0.0.1]", "[127.0.0.1]", "[127.0.0.1]", "[127.0.0.1]"}));
    EXPECT_EQ(server.received().size(), 6u);
    // The machine's own name, whatever it is, is taken too.
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
}

// One refused recipient does not keep the mail from the others; a mail nobody can get
// is given up for good only when every refusal is for good.
TEST_F(SmtpServerTest, RefusedRecipientsAreReportedAndTheOthersGetTheMail) {
    SERVE_OR_SKIP({"--refuse-rcpt", "two@example.com", "--defer-rcpt", "busy@example.com"});
    SmtpResult r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_FALSE(r.permanent);
    ASSERT_EQ(r.refused.size(), 1u);
    EXPECT_EQ(r.refused[0].address, "two@example.com");
    EXPECT_EQ(r.refused[0].code, 550);
    EXPECT_EQ(r.refused[0].reason, "550 5.1.1 <two@example.com>: Recipient address rejected");
    EXPECT_EQ(log.panels.back(), (std::pair<int, std::string>{3, "Send mail Success!"}));
    auto mails = server.received();
    ASSERT_EQ(mails.size(), 1u);  // one message, for the two the server took
    EXPECT_EQ(mails[0].rcptTos, (Lines{"one@example.com", "three@example.com"}));
    EXPECT_EQ(mails[0].to, "one@example.com, three@example.com");

    // Every recipient refused for good: no message, and not worth another try.
    log.panels.clear();
    settings.recipients = {"two@example.com", "nobody@example.com"};
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(r.error,
              "No recipient was accepted: two@example.com (550 5.1.1 <two@example.com>: Recipient address rejected), "
              "nobody@example.com (550 5.1.1 <nobody@example.com>: Recipient address rejected)");
    EXPECT_EQ(r.refused.size(), 2u);
    for (const auto& [panel, text] : log.panels) EXPECT_NE(text, "Send mail Success!");

    // One of them only busy for now: a later try may still reach it.
    settings.recipients = {"busy@example.com", "two@example.com"};
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_FALSE(r.permanent);
    ASSERT_EQ(r.refused.size(), 2u);
    EXPECT_EQ(r.refused[0].code, 450);
    EXPECT_EQ(r.refused[1].code, 550);
    EXPECT_EQ(server.received().size(), 1u);
}

// An address outside ASCII (RFC 6531) goes raw with SMTPUTF8 where the server offers
// it; where it does not, that recipient is left out and the others get the mail.
TEST_F(SmtpServerTest, AddressesOutsideAsciiGoWithSmtpUtf8OrNotAtAll) {
    SERVE_OR_SKIP({"--smtputf8"});
    const std::string joerg = "j\xc3\xb6rg@b\xc3\xbc" "cher.example";
    const std::string juergen = "j\xc3\xbcrgen@example.com";
    settings.senderAddress = juergen;
    settings.recipients = {"one@example.com", joerg};
    message.subject = "[RAID GUI v0.23.7-3 Message] Gr\xc3\xbc\xc3\x9f" "e";
    message.body = {"Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln"};
    SmtpResult r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_TRUE(r.refused.empty());
    auto mails = server.received();  // read as UTF-8 under the strict rules, no defect
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].mailOptions, "BODY=8BITMIME SMTPUTF8");
    EXPECT_EQ(mails[0].mailFrom, juergen);
    EXPECT_EQ(mails[0].rcptTos, (Lines{"one@example.com", joerg}));
    EXPECT_EQ(mails[0].fromAddress, juergen);
    EXPECT_EQ(mails[0].to, "one@example.com, " + joerg);
    EXPECT_EQ(mails[0].subject, message.subject);
    EXPECT_EQ(mails[0].text, message.body[0] + "\n");
    // Only what needs it says SMTPUTF8.
    settings.senderAddress = "alice@example.com";
    settings.recipients = {"one@example.com"};
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(server.received().at(1).mailOptions, "BODY=8BITMIME");

    // A server without SMTPUTF8 is never offered the address; the others get the mail,
    // and no header shows it raw.
    testing::PythonSmtpServer plain;
    ASSERT_TRUE(plain.start(testing::PythonSmtpServer::python(), {}));
    settings.smtpPort = std::to_string(plain.port);
    settings.recipients = {"one@example.com", joerg, "two@example.com"};
    message.body = {"plain"};
    r = client.SendAlertMail(settings, message);
    ASSERT_TRUE(r.sent) << r.error;
    ASSERT_EQ(r.refused.size(), 1u);
    EXPECT_EQ(r.refused[0].address, joerg);
    EXPECT_EQ(r.refused[0].code, 0);
    EXPECT_EQ(r.refused[0].reason, "the server does not offer SMTPUTF8, which this address needs");
    mails = plain.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].rcptTos, (Lines{"one@example.com", "two@example.com"}));
    EXPECT_EQ(mails[0].mailOptions, "");
    EXPECT_EQ(mails[0].to, "one@example.com, two@example.com");
    for (const char c : mails[0].data) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    // Nobody left, or a sender that needs it: no mail, for good.
    settings.recipients = {joerg};
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(r.error, "No recipient was accepted: j  rg@b  cher.example (the server does not offer SMTPUTF8, which "
                       "this address needs)");
    settings.senderAddress = juergen;
    settings.recipients = {"one@example.com"};
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(r.error, "the server does not offer SMTPUTF8, which the sender address needs");
    EXPECT_EQ(plain.received().size(), 1u);
}

TEST_F(SmtpServerTest, ServerThatNeverAnswersIsGivenUpOn) {
    SERVE_OR_SKIP({"--mode", "silent"});
    settings.timeout = "1";
    const auto start = Clock::now();
    const SmtpResult r = client.SendAlertMail(settings, message);
    const auto took = Clock::now() - start;
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Connection timed out");
    // A bound, not a measurement: the wait ends with the time-out, not never.
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_EQ(client.SmtpSendState, kSmtpNotConnected);
}

TEST_F(SmtpServerTest, EndlessGreetingLineIsCutOff) {
    SERVE_OR_SKIP({"--mode", "endless"});
    settings.timeout = "10";
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Line longer than 65536 bytes");
}

TEST_F(SmtpServerTest, NothingListeningIsRefused) {
    // The port a server listened on a moment ago.
    SERVE_OR_SKIP({});
    server.stop();
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Connection refused");
    EXPECT_TRUE(log.panels.empty());
}

}  // namespace
}  // namespace raid

// Alert mail from a simulated enclosure to a real SMTP server (aiosmtpd on 127.0.0.1):
// the settings as the E-mail page saves them, the mail as it arrives, and servers that
// fail in every way a real one can - while polling goes on.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include <future>
#include <thread>

#include "app/MailOperations.h"
#include "notify/MailFormat.h"
#include "notify/PythonSmtpServer.h"
#include "notify/TestPki.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;
using testing::PythonSmtpServer;

struct AlertMail : ::testing::Test {
    ScenarioKit kit;
    std::string python;

    void SetUp() override {
        python = PythonSmtpServer::python();
        if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd (Debian's python3-aiosmtpd) is not installed";
    }
    // One healthy enclosure whose drive 2 is pulled at second 20; the E-mail page is
    // filled at second 2 with `email`.
    void scenario(const std::string& email, double pullAt = 20) {
        kit.line("0 disk 0").line("0 volume C 0");
        kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                 " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
        kit.line("0 volume E 1");
        kit.line("2 email " + email);
        std::ostringstream at;
        at << pullAt;
        kit.line(at.str() + " status 1 " +
                 kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent))));
    }
    static std::string server(std::uint16_t port) { return "host=127.0.0.1 port=" + std::to_string(port); }
};

TEST_F(AlertMail, APulledDriveArrivesAsOneMailToEveryRecipient) {
    PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {"--auth"}));
    scenario(server(smtp.port) +
             " name=\"Ann \\\"Admin\\\" J\xC3\xB6rg\" addr=ann@example.org login=on password=Abcdefghij12345"
             " to=a@x.org to=b@x.org to=c@x.org subject1=\"Disk trouble\" contents1=\"Please check.\\n.\\nBye\"");
    sim::SimRunner& r = kit.run(40);
    ASSERT_EQ(kit.loadError, "");

    const auto mails = smtp.received();
    ASSERT_EQ(mails.size(), 1u);
    const auto& m = mails[0];
    EXPECT_EQ(m.rcptTos, (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org"}));
    EXPECT_EQ(m.to, "a@x.org, b@x.org, c@x.org");
    EXPECT_EQ(m.login, "ann");  // the name part of the sender address
    EXPECT_EQ(m.password, "Abcdefghij12345");
    EXPECT_EQ(m.subject, "[RAID GUI v0.23.7-3 Message] Disk trouble");
    EXPECT_EQ(m.fromName, "Ann \"Admin\" J\xC3\xB6rg");
    EXPECT_EQ(m.fromAddress, "ann@example.org");
    const std::string& d = m.data;
    for (const char* line : {"\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\nDevice1 information :\r\n",
                             "\r\nModel# SIM DUAL BAY RAID ENCLOSURE\r\n", "\r\n  HDD2 is absent. \r\n",
                             "\r\n=========== [System Information] ==============\r\n",
                             "\r\nIP Address  : \r\n", "\r\nPlease check.\r\n.\r\nBye\r\n"})
        EXPECT_NE(d.find(line), std::string::npos) << line << "\n--- in ---\n" << d;
    // Every line of the message ends in CR LF: no bare line feed reaches the server.
    for (std::size_t i = 0; i < d.size(); ++i)
        if (d[i] == '\n') {
            ASSERT_TRUE(i > 0 && d[i - 1] == '\r') << "bare LF at " << i;
        }

    const auto sent = r.linesWith("Mail[");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].find("Mail[kind=1 to=a@x.org,b@x.org,c@x.org attempt=1] [RAID GUI v0.23.7-3 Message] Disk trouble -> sent"),
              std::string::npos)
        << sent[0];
    // The password is in no output line, and the settings file is the owner's alone.
    for (const auto& l : r.lines()) EXPECT_EQ(l.find("Abcdefghij12345"), std::string::npos) << l;
    EXPECT_FALSE(r.linesWith("Edit8 ***************").empty());
    struct stat st {};
    ASSERT_EQ(::stat((kit.dir() + "/settings.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A try goes with the settings saved by its own moment: the port mended half a minute
// after a failure carries the very next try. Every report of the mail's fate names
// the alert and when it happened, and the mail says when, however late it arrives.
TEST_F(AlertMail, EachTryTakesTheSettingsOfItsMomentAndNamesTheAlert) {
    PythonSmtpServer smtp, gone;
    ASSERT_TRUE(smtp.start(python, {}));
    ASSERT_TRUE(gone.start(python, {}));
    const std::uint16_t refusedPort = gone.port;
    gone.stop();
    scenario(server(refusedPort) + " addr=ann@example.org to=a@x.org", 20);
    kit.line("50 email port=" + std::to_string(smtp.port));
    sim::SimRunner& r = kit.run(200);
    ASSERT_EQ(kit.loadError, "");

    const auto day = r.form().eventLog().lines();
    const auto removed = std::find_if(day.begin(), day.end(), [](const std::string& l) { return l.rfind("D1 HDD2 was removed, ", 0) == 0; });
    ASSERT_NE(removed, day.end());
    const std::string eventTime = removed->substr(std::string("D1 HDD2 was removed, ").size());
    const std::string failed = "Alert mail failed: [Device1 P1 Hard Disk Drive fail, event " + eventTime + "] Connection refused, ";
    EXPECT_EQ(std::count_if(day.begin(), day.end(), [&](const std::string& l) { return l.rfind(failed, 0) == 0; }), 1)
        << failed;
    const auto second = r.linesWith("attempt=2]");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0].find("-> sent"), std::string::npos) << second[0];
    EXPECT_LT(std::stod(second[0]), 100.0);  // the first retry, a minute after the failure
    const auto mails = smtp.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].data.find("\r\nTime of the event: " + eventTime + "\r\n\r\n=========== [System Information]"),
              std::string::npos)
        << mails[0].data;
}

// One mistyped address stops nobody else's alert: the others get it at once, the
// refusal is named by address, and a recipient the server only put off (450) gets the
// next try, alone.
TEST_F(AlertMail, ARefusedRecipientIsNamedAndTheOthersGetTheAlert) {
    PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {"--refuse-rcpt", "b@x.org", "--defer-rcpt", "c@x.org", "--defer-times", "1"}));
    scenario(server(smtp.port) + " addr=ann@example.org to=a@x.org to=b@x.org to=c@x.org to=d@x.org", 20);
    sim::SimRunner& r = kit.run(300);
    ASSERT_EQ(kit.loadError, "");

    const auto mails = smtp.received();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].rcptTos, (std::vector<std::string>{"a@x.org", "d@x.org"}));
    EXPECT_EQ(mails[1].rcptTos, std::vector<std::string>{"c@x.org"});
    const std::string refused = "b@x.org (550 5.1.1 <b@x.org>: Recipient address rejected)";
    const std::string putOff = "c@x.org (450 4.2.1 <c@x.org>: Mailbox busy, try again later)";
    EXPECT_EQ(r.linesWith("attempt=1] [RAID GUI v0.23.7-3 Message]  -> sent, not to " + refused + ", " + putOff +
                          " (tried again later)")
                  .size(),
              1u);
    EXPECT_EQ(r.linesWith("Mail[kind=1 to=c@x.org attempt=2]").size(), 1u);
    EXPECT_TRUE(r.linesWith("attempt=3]").empty());
    EXPECT_FALSE(r.linesWith("Panel4 Not delivered to " + refused + ", " + putOff).empty());
    const auto day = r.form().eventLog().lines();
    const auto logged = [&day](const std::string& lead, const std::string& reason) {
        return std::count_if(day.begin(), day.end(), [&](const std::string& l) {
            return l.rfind(lead + ": [Device1 P1 Hard Disk Drive fail, event ", 0) == 0 && l.find("] " + reason + ", ") != std::string::npos;
        });
    };
    EXPECT_EQ(logged("Alert mail given up for b@x.org", "550 5.1.1 <b@x.org>: Recipient address rejected"), 1);
    EXPECT_EQ(logged("Alert mail failed for c@x.org", "450 4.2.1 <c@x.org>: Mailbox busy, try again later"), 1);
}

// With login on, a server without AUTH LOGIN gets AUTH PLAIN; one that offers no login
// at all (an old HELO-only server here) gets no mail and the owner learns why, at once.
TEST_F(AlertMail, LoginFallsBackToPlainAndNeverSilentlyAway) {
    PythonSmtpServer plainOnly, old;
    ASSERT_TRUE(plainOnly.start(python, {"--no-login", "--expect-login", "ann:pw"}));
    ASSERT_TRUE(old.start(python, {"--mode", "no-ehlo"}));
    scenario(server(plainOnly.port) + " addr=ann@example.org login=on password=pw to=a@x.org", 20);
    kit.line("25 email " + server(old.port));
    kit.line("30 status 1 ok.bin");
    kit.line("40 status 1 pulled.bin");
    kit.line("45 email login=off");
    kit.line("50 status 1 ok.bin");
    kit.line("60 status 1 pulled.bin");
    sim::SimRunner& r = kit.run(400);
    ASSERT_EQ(kit.loadError, "");
    ASSERT_EQ(plainOnly.received().size(), 1u);
    EXPECT_EQ(plainOnly.received()[0].login, "ann");
    EXPECT_EQ(plainOnly.received()[0].password, "pw");
    // Login on, nothing to log in with: no mail, the reason, given up at the first attempt.
    const auto none = r.linesWith("-> failed: The server offers no login method this program can use (AUTH LOGIN or PLAIN) (given up)");
    ASSERT_EQ(none.size(), 1u);
    EXPECT_NE(none[0].find("attempt=1]"), std::string::npos) << none[0];
    EXPECT_FALSE(r.linesWith("Panel4 The server offers no login method").empty());
    // Login off: the old server gets the next alert through HELO.
    ASSERT_EQ(old.received().size(), 1u);
    EXPECT_EQ(old.received()[0].login, "");
    EXPECT_EQ(r.linesWith("-> sent").size(), 2u);
    EXPECT_TRUE(r.linesWith("attempt=2]").empty());
}

// The setting as the page saves it decides the connection: STARTTLS and implicit TLS
// servers that trust only the test's own authority deliver the alert with the login.
TEST_F(AlertMail, TheSecuritySettingTakesTheAlertThroughTls) {
    testing::TestPki pki;
    pki.make();
    ASSERT_TRUE(pki.ok) << "the openssl tool could not make the test certificates";
    const char* saved = std::getenv("SSL_CERT_FILE");
    const std::string savedValue = saved ? saved : "";
    test::setEnv("SSL_CERT_FILE", pki.path("ca.pem"));
    PythonSmtpServer starttls, implicit;
    const std::vector<std::string> cert = {"--cert", pki.path("good.pem"), "--key", pki.path("good.key"), "--auth"};
    std::vector<std::string> a = {"--tls", "starttls"}, b = {"--tls", "implicit"};
    a.insert(a.end(), cert.begin(), cert.end());
    b.insert(b.end(), cert.begin(), cert.end());
    ASSERT_TRUE(starttls.start(python, a));
    ASSERT_TRUE(implicit.start(python, b));
    scenario(server(starttls.port) + " addr=ann@example.org login=on password=pw to=ops@x.org security=starttls");
    kit.line("30 email " + server(implicit.port) + " security=tls");
    kit.line("40 status 1 ok.bin");
    kit.line("50 status 1 pulled.bin");
    sim::SimRunner& r = kit.run(120);
    saved ? test::setEnv("SSL_CERT_FILE", savedValue) : test::unsetEnv("SSL_CERT_FILE");
    std::error_code ignored;
    std::filesystem::remove_all(pki.dir, ignored);
    ASSERT_EQ(kit.loadError, "");
    ASSERT_EQ(starttls.received().size(), 1u);
    ASSERT_EQ(implicit.received().size(), 1u);
    EXPECT_EQ(starttls.received()[0].login, "ann");
    EXPECT_EQ(implicit.received()[0].password, "pw");
    EXPECT_EQ(r.linesWith("-> sent").size(), 2u);
}

TEST_F(AlertMail, TheTestMailReachesEveryRecipientOnceWithTheHostInformation) {
    PythonSmtpServer server;
    ASSERT_TRUE(server.start(python, {}));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                              " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("1 testmail");  // nobody to mail yet
    kit.line("2 email host=127.0.0.1 port=" + std::to_string(server.port) +
             " addr=ops@example.org to=a@x.org to=b@x.org to=c@x.org security=none");
    kit.line("3 testmail");
    PythonSmtpServer gone;
    ASSERT_TRUE(gone.start(python, {}));
    const std::uint16_t refused = gone.port;
    gone.stop();
    kit.line("4 email port=" + std::to_string(refused));
    kit.line("5 testmail");
    sim::SimRunner& r = kit.run(400);
    ASSERT_EQ(kit.loadError, "");

    const auto mails = server.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].rcptTos, (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org"}));
    EXPECT_EQ(mails[0].subject, "[" + kAppTitle + " Message] Test");
    EXPECT_NE(mails[0].data.find("This is a test mail from " + kAppTitle + "."), std::string::npos);
    EXPECT_NE(mails[0].data.find("\r\nSystem Name : "), std::string::npos) << mails[0].data;
    EXPECT_EQ(mails[0].data.find("Time of the event"), std::string::npos);  // a test tells of no event
    const auto none = r.linesWith("Panel4 No recipient to send the test mail to");
    ASSERT_EQ(none.size(), 1u);
    EXPECT_LT(std::stod(none[0]), 2.0);
    EXPECT_EQ(r.linesWith("Send mail Success!").size(), 1u);
    // A failing test is reported once and never tried again or written to the day log.
    EXPECT_EQ(r.linesWith("Mail[kind=0 to=a@x.org,b@x.org,c@x.org attempt=1] [" + kAppTitle +
                          " Message] Test -> failed: Connection refused (given up)")
                  .size(),
              1u);
    EXPECT_TRUE(r.linesWith("attempt=2]").empty());
    for (const auto& l : r.form().eventLog().lines()) EXPECT_EQ(l.find("Alert mail"), std::string::npos) << l;
}

TEST_F(AlertMail, FailingServersAreReportedPollingGoesOnAndTheRetryDelivers) {
    // Four ways to fail, one after the other, then the server that works.
    PythonSmtpServer silent, rcpt, drop, longReply;
    ASSERT_TRUE(silent.start(python, {"--mode", "silent"}));
    ASSERT_TRUE(drop.start(python, {"--mode", "drop-in-data"}));
    ASSERT_TRUE(longReply.start(python, {"--mode", "long-reply"}));
    ASSERT_TRUE(rcpt.start(python, {}));
    PythonSmtpServer gone;
    ASSERT_TRUE(gone.start(python, {}));
    const std::uint16_t refusedPort = gone.port;
    gone.stop();  // nothing listens there now

    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                              " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    const std::string pulled =
        kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent)));
    const std::string steps[][2] = {{server(rcpt.port) + " addr=ann@example.org to=nobody@x.org", "550"},
                                    {server(refusedPort) + " timeout=1 to=a@x.org", "refused"},
                                    {server(silent.port), "silent"},
                                    {server(drop.port), "drop"},
                                    {server(longReply.port), "long"}};
    int t = 2;
    for (const auto& s : steps) {
        kit.line(std::to_string(t) + " email " + s[0]);
        kit.line(std::to_string(t + 10) + " status 1 " + pulled);
        kit.line(std::to_string(t + 20) + " status 1 ok.bin");
        t += 30;
    }
    // Retries fall far behind the steps above; the server is back for them.
    kit.line(std::to_string(t) + " email " + server(rcpt.port) + " to=a@x.org");
    sim::SimRunner& r = kit.run(t + 900);
    ASSERT_EQ(kit.loadError, "");

    const auto first = r.linesWith(" attempt=1] ");
    ASSERT_EQ(first.size(), 5u);
    // A refusal for good is not repeated: given up at once, with the server's reason.
    EXPECT_NE(first[0].find("-> failed: No recipient was accepted: nobody@x.org (550 5.1.1 <nobody@x.org>: Recipient "
                            "address rejected) (given up)"),
              std::string::npos)
        << first[0];
    EXPECT_NE(first[1].find("-> failed: Connection refused (tried again later)"), std::string::npos) << first[1];
    EXPECT_NE(first[2].find("-> failed: Connection timed out"), std::string::npos) << first[2];
    EXPECT_NE(first[3].find("-> failed: "), std::string::npos) << first[3];
    EXPECT_NE(first[4].find("-> failed: Line longer than 65536 bytes"), std::string::npos) << first[4];
    // Every alert was still noticed and logged while the mail failed.
    const auto day = r.form().eventLog().lines();
    EXPECT_EQ(std::count_if(day.begin(), day.end(), [](const std::string& l) { return l.rfind("D1 HDD2 was removed, ", 0) == 0; }), 5);
    EXPECT_GE(std::count_if(day.begin(), day.end(), [](const std::string& l) { return l.rfind("Alert mail failed: [Device1 P1 ", 0) == 0; }), 4);
    EXPECT_FALSE(r.linesWith("StatusBar1.Panel3 Send mail Fail!").empty());
    EXPECT_EQ(std::count_if(day.begin(), day.end(),
                            [](const std::string& l) {
                                return l.find("] No recipient was accepted: nobody@x.org (550 5.1.1 <nobody@x.org>: Recipient address "
                                              "rejected), ") != std::string::npos &&
                                       l.rfind("Alert mail given up: [Device1 P1 Hard Disk Drive fail, event ", 0) == 0;
                            }),
              1);
    // The retries after the last save go to the working server and deliver the other four.
    EXPECT_EQ(rcpt.received().size(), 4u);
    EXPECT_EQ(r.linesWith("-> sent").size(), 4u);
    EXPECT_EQ(r.linesWith("(given up)").size(), 1u);
    EXPECT_EQ(r.linesWith("to=nobody@x.org attempt=2]").size(), 0u);
    // Once a retry has gone through, the reason of the failure before it is gone.
    const auto lines = r.lines();
    std::string panel4 = "(never set)";
    for (const auto& l : lines)
        if (const std::size_t at = l.find("Panel4"); at != std::string::npos) panel4 = l.substr(at + 6);
    EXPECT_EQ(panel4.find_first_not_of(' '), std::string::npos) << "panel 4 still shows:" << panel4;
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// On real threads: while TEmailThread waits on a server that never answers, the engine
// goes on polling, logging and drawing.
TEST(AlertMailRealTime, ASilentServerHoldsUpNeitherPollingNorTheDayLog) {
    const std::string python = testing::PythonSmtpServer::python();
    if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd (Debian's python3-aiosmtpd) is not installed";
    testing::PythonSmtpServer silent;
    ASSERT_TRUE(silent.start(python, {"--mode", "silent"}));
    test::ScenarioKit kit;
    const std::string ok = kit.block("ok.bin", sim::makeStatusRecord());
    const std::string pulled =
        kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent)));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                              " status=" + ok);
    kit.line("1 email host=127.0.0.1 port=" + std::to_string(silent.port) + " timeout=9 addr=a@b.org to=c@d.org");
    kit.line("5 status 1 " + pulled).line("7 status 1 " + ok).line("11 status 1 " + pulled);
    const sim::RunOptions o = kit.realTimeOptions(600);  // a safety bound: ends with the outcome
    sim::SimRunner r(o, nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;
    EXPECT_TRUE(test::runUntilDone(r, [](sim::SimRunner& run) {
        return !run.linesWith("-> failed: Connection timed out").empty() &&
               run.linesWith("Label26 disabled").size() >= 2;
    }));
    r.scheduler().joinWorkers();

    const auto failed = r.linesWith("-> failed: Connection timed out");
    ASSERT_EQ(failed.size(), 1u);
    const double failedAt = std::stod(failed[0]);
    // Both changes after the first removal were seen while the mail waited.
    const auto back = r.linesWith("Label26 enabled");
    const auto removed = r.linesWith("Label26 disabled");
    ASSERT_EQ(back.size(), 1u);
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_LT(std::stod(back.back()), failedAt);
    EXPECT_LT(std::stod(removed.back()), failedAt);
    EXPECT_GT(failedAt - std::stod(removed.front()), 8.0);  // the mail waited its nine seconds
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// A server that quotes the login exchange back in its refusal: neither the password nor
// its Base64 form reaches the day log, an output line or the status bar, whether the
// alert mail or the test mail meets it.
TEST_F(AlertMail, ALoginRefusalThatQuotesTheExchangeLeaksNoPassword) {
    PythonSmtpServer echo;
    ASSERT_TRUE(echo.start(python, {"--mode", "echo-auth", "--auth"}));
    const std::string password = "Pw0rd-Secret1";
    scenario(server(echo.port) + " addr=ann@example.org login=on password=" + password + " to=a@x.org", 20);
    kit.line("30 testmail");
    sim::SimRunner& r = kit.run(100);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_TRUE(echo.received().empty());

    const std::string secrets[] = {password, base64(password)};
    const auto failed = r.linesWith("-> failed: ");
    ASSERT_GE(failed.size(), 2u);  // the alert and the test mail
    for (const auto& l : failed) EXPECT_NE(l.find("AUTH LOGIN refused (535)"), std::string::npos) << l;
    for (const auto& l : r.lines())
        for (const auto& secret : secrets) EXPECT_EQ(l.find(secret), std::string::npos) << l;
    const auto day = r.form().eventLog().lines();
    bool logged = false;
    for (const auto& l : day) {
        logged = logged || (l.rfind("Alert mail given up: [Device1 P1 ", 0) == 0 && l.find("] AUTH LOGIN refused (535), ") != std::string::npos);
        for (const auto& secret : secrets) EXPECT_EQ(l.find(secret), std::string::npos) << l;
    }
    EXPECT_TRUE(logged);
    EXPECT_FALSE(r.linesWith("Panel4 AUTH LOGIN refused (535)").empty());
    // A refused login is refused again: the alert is given up at its first attempt.
    EXPECT_EQ(r.linesWith("AUTH LOGIN refused (535) (given up)").size(), 2u);
    EXPECT_TRUE(r.linesWith("attempt=2]").empty());
}

TEST_F(AlertMail, TwoAlertsInOneTurnAreTwoMails) {
    PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {}));
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                              " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("2 email " + server(smtp.port) + " addr=a@b.org to=c@d.org");
    // Both drives go in one poll: two alerts raised in the same pass.
    kit.line("20 status 1 " + kit.block("both.bin", sim::makeStatusRecord(sim::StatusOptions()
                                                                            .setDriveState(0, sim::kDriveAbsent)
                                                                            .setDriveState(1, sim::kDriveAbsent))));
    sim::SimRunner& r = kit.run(30);
    ASSERT_EQ(kit.loadError, "");
    ASSERT_EQ(r.linesWith("Alert[").size(), 2u);
    const auto mails = smtp.received();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_NE(mails[0].data.find("Device1 P0 Hard Disk Drive fail."), std::string::npos);
    EXPECT_NE(mails[1].data.find("Device1 P1 Hard Disk Drive fail."), std::string::npos);
}

TEST(AlertSettings, ABrokenSettingsFileIsReportedOnceAndTheRestIsUsed) {
    test::ScenarioKit kit;
    {
        std::ofstream f(kit.dir() + "/settings.reg");
        f << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI]\n\"SMTP\"=\"mail.example\"\n"
             "\"Port\"=dword:00000019\nthis line is broken\n\"ToAddrCount\"=dword:00000001\n\"ToAddr_00\"=\"a@b\"\n";
    }
    kit.line("0 disk 0");
    sim::SimRunner& r = kit.run(3);
    ASSERT_EQ(kit.loadError, "");
    const auto boxes = r.linesWith("MessageBox[E-Mail Message]");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("line 6: a line that is not \"name\"=value"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("Settings value \"Port\" is a dword where a string belongs"), std::string::npos) << boxes[0];
    EXPECT_EQ(r.form().settings().smtpHost(), "mail.example");
    EXPECT_EQ(r.form().settings().recipients, std::vector<std::string>{"a@b"});
    // EMailSend was missing: start-up added it, and kept the broken line as it stands.
    std::ifstream f(kit.dir() + "/settings.reg");
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI]\n\"SMTP\"=\"mail.example\"\n"
              "\"Port\"=dword:00000019\nthis line is broken\n\"ToAddrCount\"=dword:00000001\n\"ToAddr_00\"=\"a@b\"\n"
              "\"EMailSend\"=dword:00000000\n");
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// The test mail as an operation, on the real threads: the engine saves and sends,
// TEmailThread talks to the server, and a caller on a thread of its own learns the SMTP
// outcome - refused recipient and all - through the future the completion fulfils.
TEST(AlertMailRealTime, TheTestMailOperationTellsItsOutcomeToAWaitingThread) {
    const std::string python = testing::PythonSmtpServer::python();
    if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd (Debian's python3-aiosmtpd) is not installed";
    testing::PythonSmtpServer smtp;
    ASSERT_TRUE(smtp.start(python, {"--refuse-rcpt", "no@x.org"}));
    test::ScenarioKit kit;
    kit.line("0 disk 0");
    sim::SimRunner r(kit.realTimeOptions(150), nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;

    std::promise<SmtpResult> outcome;
    std::future<SmtpResult> answer = outcome.get_future();
    bool saved = false;
    TestMailStart start;
    MainForm& f = r.form();
    r.scheduler().post([&] {
        SettingsEdits v = shownEdits(f.settings());
        v.fields[kHost] = "127.0.0.1";
        v.fields[kPort] = std::to_string(smtp.port);
        v.fields[kSenderAddress] = "ops@example.org";
        v.working = {"a@x.org", "no@x.org"};
        saved = saveMailSettings(f, v).saved;
        f.LoadNotificationSettings();  // what the engine's next turn does after a save
        start = sendTestMail(f, [&outcome](const SmtpResult& result) { outcome.set_value(result); });
    });
    // The waiter ends the run once it has the answer; the run's own end is the bound.
    std::future_status waited = std::future_status::timeout;
    std::thread waiter([&] {
        waited = answer.wait_for(std::chrono::seconds(120));
        r.scheduler().post([&f] { f.QueryEndSession(); });
    });
    r.run();
    waiter.join();
    r.scheduler().joinWorkers();
    EXPECT_TRUE(saved);
    EXPECT_TRUE(start.sending) << start.problem;
    ASSERT_EQ(waited, std::future_status::ready);
    const SmtpResult result = answer.get();
    EXPECT_TRUE(result.sent) << result.error;
    ASSERT_EQ(result.refused.size(), 1u);
    EXPECT_EQ(result.refused[0].address, "no@x.org");
    const auto mails = smtp.received();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].rcptTos, std::vector<std::string>{"a@x.org"});
    EXPECT_EQ(mails[0].subject, "[" + kAppTitle + " Message] Test");
}

TEST(AlertMailRealTime, ClosingDoesNotWaitForASilentServer) {
    const std::string python = testing::PythonSmtpServer::python();
    if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd (Debian's python3-aiosmtpd) is not installed";
    testing::PythonSmtpServer silent;
    ASSERT_TRUE(silent.start(python, {"--mode", "silent"}));
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                              " status=" + kit.block("ok.bin", sim::makeStatusRecord()));
    kit.line("1 email host=127.0.0.1 port=" + std::to_string(silent.port) + " timeout=60 addr=a@b.org to=c@d.org");
    kit.line("2 status 1 " +
             kit.block("pulled.bin", sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent))));
    kit.line("8 sessionend");
    sim::SimRunner r(kit.realTimeOptions(90), nullptr);
    std::string error;
    ASSERT_TRUE(r.load(error)) << error;
    ASSERT_TRUE(r.start(error)) << error;
    const auto before = std::chrono::steady_clock::now();
    r.run();
    r.scheduler().joinWorkers();
    EXPECT_TRUE(r.quitRequested());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_TRUE(r.linesWith("-> sent").empty());
}

}  // namespace
}  // namespace raid

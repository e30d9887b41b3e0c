// The SMTP dialogue against a scripted peer: what goes out, byte for byte, for each
// kind of answer.
#include <gtest/gtest.h>

#include "support/PanelLog.h"
#include "notify/MailFormat.h"
#include "notify/NotificationSettings.h"
#include "notify/ScriptedTcp.h"
#include "notify/SmtpClient.h"

namespace raid {
namespace {

using Lines = std::vector<std::string>;
using test::Panels;

using test::PanelLog;

const std::string kGreeting = "220 mail.example ESMTP\r\n";
const std::string kEhloLogin = "250-mail.example\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n";
const std::string kEhloPlainOnly = "250-mail.example\r\n250-AUTH PLAIN CRAM-MD5\r\n250 8BITMIME\r\n";
const std::string kLoginReplies = "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 2.7.0 Authentication successful\r\n";
const std::string kOk = "250 2.0.0 Ok\r\n";
const std::string kData = "354 End data with <CR><LF>.<CR><LF>\r\n";

const Lines kConnect = {"ehlo alerthost", "Rset"};

class SmtpClientTest : public ::testing::Test {
protected:
    testing::ScriptedTcp tcp;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    PanelLog log;
    SmtpClient client{tcp, *sched, log};
    SmtpSettings settings;
    SmtpMessage message;

    void SetUp() override {
        settings.smtpHost = "mail.example";
        settings.smtpPort = "25";
        settings.senderName = "Night Desk";
        settings.senderAddress = "alice@example.com";
        settings.password = "s3cret";
        settings.timeout = "0";
        settings.recipients = {"ops@example.com"};
        message.subject = "[RAID GUI v0.23.7-3 Message] Disk";
        message.body = {"Device1 P1 Hard Disk Drive fail.", "\nSystem Name : box"};
    }

    // Replies for a whole successful dialogue after the greeting and EHLO.
    std::string transaction(bool login) const {
        std::string r = kOk + (login ? kLoginReplies : "") + kOk;
        for (std::size_t i = 0; i < settings.recipients.size(); ++i) r += kOk;
        return r + kData + "250 2.0.0 Ok: queued as 1\r\n";
    }

    void script(const std::string& replies) { tcp.script->replies = replies; }

    // What the client sent, line by line.
    Lines sent() const {
        Lines lines;
        const std::string& s = tcp.script->sent;
        std::size_t pos = 0;
        while (pos < s.size()) {
            const std::size_t end = s.find("\r\n", pos);
            if (end == std::string::npos) {
                lines.push_back(s.substr(pos) + "<no CR LF>");
                break;
            }
            lines.push_back(s.substr(pos, end - pos));
            pos = end + 2;
        }
        return lines;
    }
    // The commands only: the lines before "Data" and after the final ".".
    Lines commands() const {
        Lines all = sent(), out;
        bool inData = false;
        for (const auto& line : all) {
            if (inData) {
                if (line == ".") inData = false, out.push_back(line);
                continue;
            }
            out.push_back(line);
            if (line == "Data") inData = true;
        }
        return out;
    }
    // The header lines of the message, unfolded.
    Lines headers() const {
        Lines all = sent(), out;
        auto it = std::find(all.begin(), all.end(), "Data");
        for (++it; it != all.end() && !it->empty(); ++it) {
            if ((*it)[0] == ' ')
                out.back() += *it;
            else
                out.push_back(*it);
        }
        return out;
    }
};

TEST_F(SmtpClientTest, LoginSendsTheNamePartAndThePasswordInBase64) {
    settings.authState = 1;
    script(kGreeting + kEhloLogin + transaction(true));
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_TRUE(r.sent) << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "auth LOGIN", base64("alice"), base64("s3cret"),
                                 "Mail from:<alice@example.com>", "RCPT to:<ops@example.com>", "Data", ".", "Quit"}));
    EXPECT_EQ(client.announcedAuthMethods(), (std::set<std::string>{"PLAIN", "LOGIN"}));
    EXPECT_EQ(log.panels, (Panels{{2, "Connect"}, {3, "Mail is Sending..."}, {3, "Send mail Success!"}}));
    EXPECT_EQ(client.SmtpSendState, kSmtpNotConnected);
    EXPECT_EQ(tcp.script->closes, 1);
    EXPECT_EQ(tcp.script->lastHost, "mail.example");
    EXPECT_EQ(tcp.script->lastPort, 25);
    // Every reply was read: nothing of the script is left over, nothing more was asked.
    EXPECT_EQ(tcp.script->readAllowances.size(),
              static_cast<std::size_t>(std::count(tcp.script->replies.begin(), tcp.script->replies.end(), '\n')));
    // The connection was up from the start: none of the 500 ms waits was taken.
    EXPECT_EQ(sched->nowUs(), 0);
}

TEST_F(SmtpClientTest, LoginOnlyWhenEnabledAndAnnounced) {
    // Announced but switched off.
    settings.authState = 0;
    script(kGreeting + kEhloLogin + transaction(false));
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "Mail from:<alice@example.com>",
                                 "RCPT to:<ops@example.com>", "Data", ".", "Quit"}));

    // Switched on, no LOGIN but PLAIN: one line with the name and the password.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.authState = 1;
    script(kGreeting + kEhloPlainOnly + kOk + "235 2.7.0 Ok\r\n" + transaction(false).substr(kOk.size()));
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "AUTH PLAIN " + base64(std::string("\0alice\0s3cret", 13)),
                                 "Mail from:<alice@example.com>", "RCPT to:<ops@example.com>", "Data", ".", "Quit"}));
    // A login name of its own takes the place of the address's name part.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.loginName = "alice@example.com";
    script(kGreeting + kEhloPlainOnly + kOk + "235 2.7.0 Ok\r\n" + transaction(false).substr(kOk.size()));
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(commands().at(2), "AUTH PLAIN " + base64(std::string("\0alice@example.com\0s3cret", 25)));
    settings.loginName.clear();
    // Refused: by the code alone, and for good.
    tcp.script = std::make_shared<testing::TcpScript>();
    script(kGreeting + kEhloPlainOnly + kOk + "535 5.7.8 no such " + base64(std::string("\0alice\0s3cret", 13)) + "\r\n");
    SmtpResult refused = client.SendAlertMail(settings, message);
    EXPECT_EQ(refused.error, "AUTH PLAIN refused (535)");
    EXPECT_TRUE(refused.permanent);
    // Neither offered: nothing of the mail goes out, and the reason says why.
    tcp.script = std::make_shared<testing::TcpScript>();
    script(kGreeting + "250-mail.example\r\n250 AUTH CRAM-MD5\r\n" + transaction(false));
    refused = client.SendAlertMail(settings, message);
    EXPECT_FALSE(refused.sent);
    EXPECT_TRUE(refused.permanent);
    EXPECT_EQ(refused.error, "The server offers no login method this program can use (AUTH LOGIN or PLAIN)");
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "Quit"}));

    // A stored record that could not be read (state 2) counts as off.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.authState = 2;
    script(kGreeting + kEhloLogin + transaction(false));
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
    const Lines plain = commands();
    EXPECT_EQ(std::count(plain.begin(), plain.end(), "auth LOGIN"), 0);

    // A refused login ends it there.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.authState = 1;
    script(kGreeting + kEhloLogin + kOk + "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n535 5.7.8 bad credentials\r\n");
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(r.error, "AUTH LOGIN refused (535)");  // the code alone: the text may quote the exchange
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "auth LOGIN", base64("alice"), base64("s3cret"), "Quit"}));

    // A server that takes the login and repeats the password in a later refusal.
    tcp.script = std::make_shared<testing::TcpScript>();
    script(kGreeting + kEhloLogin + kOk + kLoginReplies + "553 5.1.8 sender of " + base64("s3cret") +
           " (s3cret) refused\r\n");
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "553 5.1.8 sender of ***** (*****) refused");
}

TEST_F(SmtpClientTest, EhloRefusedFallsBackToHelo) {
    script(kGreeting + "500 5.5.1 command unrecognized\r\n250 mail.example\r\n" + transaction(false));
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Helo alerthost", "Rset", "Mail from:<alice@example.com>",
                                 "RCPT to:<ops@example.com>", "Data", ".", "Quit"}));

    // HELO refused as well: the opening fails, "Quit" goes out unanswered, the line closes.
    tcp.script = std::make_shared<testing::TcpScript>();
    script(kGreeting + "500 no\r\n501 5.5.4 go away\r\n");
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "501 5.5.4 go away");
    EXPECT_EQ(sent(), (Lines{"ehlo alerthost", "Helo alerthost", "Quit"}));
    EXPECT_EQ(tcp.script->closes, 1);
    EXPECT_EQ(client.SmtpSendState, kSmtpNotConnected);
}

TEST_F(SmtpClientTest, OpeningFailuresEndAtOnce) {
    // A greeting other than 220.
    script("554 5.3.2 no service\r\n");
    SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_EQ(r.error, "554 5.3.2 no service");
    EXPECT_EQ(sent(), (Lines{"Quit"}));
    EXPECT_EQ(log.panels, (Panels{{2, "Connect"}}));

    // The connection itself refused: nothing is sent, nothing is shown.
    log.panels.clear();
    tcp.script = std::make_shared<testing::TcpScript>();
    tcp.script->refuseWith = "Connection refused";
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Connection refused");
    EXPECT_TRUE(log.panels.empty());
    EXPECT_EQ(client.SmtpSendState, kSmtpNotConnected);

    // Port texts that are no port: no connection is tried.
    tcp.script = std::make_shared<testing::TcpScript>();
    for (const auto& [port, error] : std::vector<std::pair<std::string, std::string>>{
             {"abc", "'abc' is not a valid integer value"},
             {"", "'' is not a valid integer value"},
             {"25x", "'25x' is not a valid integer value"},
             {"-25", "'-25' is not a valid integer value"},
             {"2\n5", "'2 5' is not a valid integer value"},
             {"0", "'0' is not a valid port number"},
             {"70000", "'70000' is not a valid port number"},
             {"99999999999999999999", "'99999999999999999999' is not a valid integer value"}}) {
        settings.smtpPort = port;
        EXPECT_EQ(client.SendAlertMail(settings, message).error, error);
    }
    EXPECT_EQ(tcp.script->connects, 0);
    // Blanks around a number are what users type.
    settings.smtpPort = " 2525 ";
    script(kGreeting + kEhloLogin + transaction(false));
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(tcp.script->lastPort, 2525);
}

TEST_F(SmtpClientTest, ThreeRecipientsThreeRcptOneToHeader) {
    settings.recipients = {"a@example.com", "b@example.com", "c@example.com"};
    script(kGreeting + kEhloLogin + transaction(false));
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "Mail from:<alice@example.com>",
                                 "RCPT to:<a@example.com>", "RCPT to:<b@example.com>", "RCPT to:<c@example.com>",
                                 "Data", ".", "Quit"}));
    const Lines h = headers();
    EXPECT_EQ(std::count(h.begin(), h.end(), "To: a@example.com, b@example.com, c@example.com"), 1);
}

TEST_F(SmtpClientTest, RefusedRecipientIsLeftOutAndTheRestGetTheMail) {
    settings.recipients = {"a@example.com", "nobody@example.com", "c@example.com"};
    script(kGreeting + kEhloLogin + kOk + kOk + kOk + "550 5.1.1 <nobody@example.com>: Recipient unknown\r\n" +
           "251 2.1.5 will forward\r\n" + kData + kOk);
    SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_TRUE(r.sent) << r.error;
    ASSERT_EQ(r.refused.size(), 1u);
    EXPECT_EQ(r.refused[0].address, "nobody@example.com");
    EXPECT_EQ(r.refused[0].code, 550);
    EXPECT_EQ(r.refused[0].reason, "550 5.1.1 <nobody@example.com>: Recipient unknown");
    EXPECT_EQ(commands(), (Lines{"ehlo alerthost", "Rset", "Mail from:<alice@example.com>", "RCPT to:<a@example.com>",
                                 "RCPT to:<nobody@example.com>", "RCPT to:<c@example.com>", "Data", ".", "Quit"}));
    EXPECT_EQ(headers()[2], "To: a@example.com, c@example.com");
    EXPECT_EQ(log.panels.back(), (std::pair<int, std::string>{3, "Send mail Success!"}));

    // Nobody taken: no message at all, and the reason names each of them, briefly.
    tcp.script = std::make_shared<testing::TcpScript>();
    log.panels.clear();
    settings.recipients.clear();
    std::string replies = kGreeting + kEhloLogin + kOk + kOk;
    for (int i = 0; i < 10; ++i) {
        settings.recipients.push_back("user" + std::to_string(i) + "@example.com");
        replies += "550 5.1.1 " + std::string(300, 'x') + "\r\n";
    }
    script(replies);
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(r.refused.size(), 10u);
    EXPECT_EQ(r.error.substr(0, 58), "No recipient was accepted: user0@example.com (550 5.1.1 xx");
    EXPECT_LE(r.error.size(), 500u);
    EXPECT_EQ(r.error.substr(r.error.size() - 12), ", and 7 more") << r.error;
    const Lines lines = sent();
    EXPECT_EQ(lines.back(), "Quit");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Data"), 0);
    EXPECT_EQ(log.panels, (Panels{{2, "Connect"}}));

    // 421 closes the channel: the whole mail fails, worth another try.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.recipients = {"a@example.com", "c@example.com"};
    script(kGreeting + kEhloLogin + kOk + kOk + "421 4.3.2 shutting down\r\n");
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_FALSE(r.permanent);
    EXPECT_EQ(r.error, "421 4.3.2 shutting down");
    EXPECT_EQ(sent().back(), "Quit");
    EXPECT_EQ(tcp.script->closes, 1);
}

TEST_F(SmtpClientTest, MessageRefusedAfterTheLastLineIsNoSuccess) {
    script(kGreeting + kEhloLogin + kOk + kOk + kOk + kData + "554 5.7.1 rejected as spam\r\n");
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "554 5.7.1 rejected as spam");
    EXPECT_EQ(log.panels, (Panels{{2, "Connect"}, {3, "Mail is Sending..."}}));
    EXPECT_EQ(sent().back(), "Quit");
}

TEST_F(SmtpClientTest, RsetAnswerIsNotChecked) {
    script(kGreeting + kEhloLogin + "502 not implemented\r\n" + kOk + kOk + kData + kOk);
    EXPECT_TRUE(client.SendAlertMail(settings, message).sent);
}

TEST_F(SmtpClientTest, HeadersInOrderWithEscapesAndDate) {
    settings.senderName = "Ops \"night\" desk";
    message.subject = "[RAID GUI v0.23.7-3 Message] ";
    script(kGreeting + kEhloLogin + transaction(false));
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    const Lines h = headers();
    ASSERT_EQ(h.size(), 7u);
    EXPECT_EQ(h[0], "From: \"Ops \\\"night\\\" desk\" <alice@example.com>");
    EXPECT_EQ(h[1], "Subject: [RAID GUI v0.23.7-3 Message] ");  // the trailing blank stays
    EXPECT_EQ(h[2], "To: ops@example.com");
    // The clock port's time in the local zone, whatever that is here.
    EXPECT_EQ(h[3], "Date: " + mailDateValue(*localTimeParts(1796601600.0)));
    EXPECT_EQ(h[4].substr(0, 28), "Message-ID: <20261207000000.");
    EXPECT_EQ(h[5], "X-Priority: 3");
    EXPECT_EQ(h[6], "X-Library: Indy 8.0.25");

    // An empty subject and sender name: no Subject header, From is the bare address.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.senderName.clear();
    message.subject.clear();
    script(kGreeting + kEhloLogin + transaction(false));
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    EXPECT_EQ(headers()[0], "From: alice@example.com");
    EXPECT_EQ(headers()[1], "To: ops@example.com");
}

TEST_F(SmtpClientTest, BodyLinesAreDotStuffedAndTheirLineFeedsBreakLines) {
    message.body = {".", ".hidden", "\nIP Address  : 10.0.0.7", "plain", ""};
    script(kGreeting + kEhloLogin + transaction(false));
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    const std::string& s = tcp.script->sent;
    const std::size_t start = s.find("\r\n\r\n") + 4;
    const std::size_t end = s.find("\r\n.\r\nQuit\r\n");
    EXPECT_EQ(s.substr(start, end + 5 - start), "..\r\n..hidden\r\n\r\nIP Address  : 10.0.0.7\r\nplain\r\n\r\n.\r\n");
}

TEST_F(SmtpClientTest, ServerTextNeverReachesUsRaw) {
    script(kGreeting + kEhloLogin + kOk + "550 bad\x1b[2J\x07 sender\r\n");
    const SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_EQ(r.error, "550 bad [2J  sender");

    // Multi-line refusal: all lines, joined.
    tcp.script = std::make_shared<testing::TcpScript>();
    script("421-mail.example busy\r\n421 try later\r\n");
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "421-mail.example busy 421 try later");

    // A blank line for an answer still fails with something to show.
    tcp.script = std::make_shared<testing::TcpScript>();
    script("\r\n");
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "Empty reply");
    tcp.script = std::make_shared<testing::TcpScript>();
    script(kGreeting + kEhloLogin + kOk + "\x01\x02\r\n");
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "Empty reply");
}

TEST_F(SmtpClientTest, AddressesThatWouldInjectCommandsAreRefused) {
    // Refused at entry: an address the dialogue cannot carry. One outside ASCII is
    // taken there; whether the server takes it is known only when sending.
    for (const char* bad : {"x@example.com>\r\nRCPT to:<spy@evil.example", "a b@example.com", "<a@example.com>",
                            "j\xf6rg@example.com", "a\xc2\xa0@example.com", "a\xc2\x85@example.com",
                            "a\xe2\x80\xa8@example.com", "a\x7f@example.com", "no-at-sign", "\xed\xa0\x80@x"})
        EXPECT_FALSE(isPlainAddress(bad)) << bad;
    for (const char* good : {"ops@example.com", "@", "j\xc3\xb6rg@b\xc3\xbc" "cher.example", "\xe7\x94\xa8@\xe4\xbe\x8b.cn"})
        EXPECT_TRUE(isPlainAddress(good)) << good;

    // Sending: such a recipient is left out and reported, the others get the mail, and
    // nothing of it reaches the wire.
    settings.recipients = {"ops@example.com", "x@example.com>\r\nRCPT to:<spy@evil.example", "j\xf6rg@example.com"};
    script(kGreeting + kEhloLogin + kOk + kOk + kOk + kData + kOk);
    SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_TRUE(r.sent) << r.error;
    ASSERT_EQ(r.refused.size(), 2u);
    EXPECT_EQ(r.refused[1].address, "j\xf6rg@example.com");
    for (const auto& refusal : r.refused) {
        EXPECT_EQ(refusal.code, 0);
        EXPECT_EQ(refusal.reason, "not a valid address");
    }
    EXPECT_EQ(tcp.script->sent.find("spy"), std::string::npos);
    EXPECT_EQ(tcp.script->sent.find("rg@"), std::string::npos);
    // Nobody valid, or a sender that is no address: nothing is even connected, for good.
    settings.recipients = {"x@example.com>\r\nRCPT to:<spy@evil.example"};
    r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_TRUE(r.permanent);
    EXPECT_EQ(r.error, "No recipient was accepted: x@example.com>  RCPT to:<spy@evil.example (not a valid address)");
    settings.recipients = {"ops@example.com"};
    settings.senderAddress = "a@b\n";
    r = client.SendAlertMail(settings, message);
    EXPECT_EQ(r.error, "Invalid address: a@b ");
    EXPECT_TRUE(r.permanent);
    settings.senderAddress = "alice@example.com";
    settings.recipients.clear();
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "No recipient address");
    EXPECT_EQ(tcp.script->connects, 1);
}

TEST_F(SmtpClientTest, SilenceAndBrokenLinesEndWithinTheTimeOut) {
    // The peer greets and then says nothing: the reply wait gives up at the time-out.
    settings.timeout = "5";
    script(kGreeting);
    SmtpResult r = client.SendAlertMail(settings, message);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.error, "Connection timed out");
    EXPECT_EQ(tcp.script->lastTimeout, std::chrono::seconds(5));
    for (const auto allowance : tcp.script->readAllowances) {
        EXPECT_LE(allowance, std::chrono::seconds(5));
        EXPECT_GT(allowance, std::chrono::seconds(4));
    }
    EXPECT_EQ(sent(), (Lines{"ehlo alerthost", "Quit"}));

    // No time-out set, or nonsense: the default.
    for (const char* timeout : {"0", "", "ab", "-3"}) {
        tcp.script = std::make_shared<testing::TcpScript>();
        settings.timeout = timeout;
        client.SendAlertMail(settings, message);
        EXPECT_EQ(tcp.script->lastTimeout, std::chrono::seconds(kSmtpDefaultTimeoutSeconds)) << timeout;
    }

    // The peer closes in the middle of the transaction: no success, closed on our side too.
    tcp.script = std::make_shared<testing::TcpScript>();
    settings.timeout = "1";
    script(kGreeting + kEhloLogin + kOk + kOk);
    tcp.script->closeWhenDry = true;
    r = client.SendAlertMail(settings, message);
    EXPECT_EQ(r.error, "Connection closed by the peer");
    EXPECT_EQ(tcp.script->closes, 1);

    // Writing fails halfway through the message.
    tcp.script = std::make_shared<testing::TcpScript>();
    log.panels.clear();
    script(kGreeting + kEhloLogin + transaction(false));
    tcp.script->failSendAfter = 120;
    r = client.SendAlertMail(settings, message);
    EXPECT_EQ(r.error, "Broken pipe");
    EXPECT_EQ(log.panels, (Panels{{2, "Connect"}, {3, "Mail is Sending..."}}));

    // An endless reply line is cut off by the port, an endless reply by the reader.
    tcp.script = std::make_shared<testing::TcpScript>();
    script("220 " + std::string(kTcpMaxLineBytes + 10, 'x'));
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "Line too long");
    tcp.script = std::make_shared<testing::TcpScript>();
    std::string chatter = kGreeting;
    for (int i = 0; i < 2000; ++i) chatter += "250-more\r\n";
    script(chatter);
    EXPECT_EQ(client.SendAlertMail(settings, message).error, "Reply longer than 1000 lines");
    EXPECT_EQ(sent(), (Lines{"ehlo alerthost", "Quit"}));
}

TEST_F(SmtpClientTest, EachSendStartsAFreshConnection) {
    settings.authState = 1;
    script(kGreeting + kEhloLogin + transaction(true) + kGreeting + kEhloLogin + transaction(true));
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    // The script's one stream stands for both connections; the second logs in again.
    auto second = std::make_shared<testing::TcpScript>();
    second->replies = kGreeting + kEhloLogin + transaction(true);
    tcp.script = second;
    ASSERT_TRUE(client.SendAlertMail(settings, message).sent);
    const Lines again = sent();
    EXPECT_EQ(std::count(again.begin(), again.end(), "auth LOGIN"), 1);
    EXPECT_EQ(second->connects, 1);
}

}  // namespace
}  // namespace raid

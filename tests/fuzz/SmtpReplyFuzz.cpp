// Whatever an SMTP server sends is outside input. This target reads the input as a
// server's byte stream, twice: as a run of replies through the reply reader, and as
// the server's side of a whole submission by the mail client.
//
// After every reply: the code is 0..999, the reply is within its line and byte
// bounds, its text is printable and short, and announced login methods are
// upper-case words. After the submission: the connection is closed, the error text
// is printable, success is shown exactly when the mail was accepted, and with TLS
// asked for neither the login nor the mail went out before the switch to TLS. A
// recipient outside ASCII reaches the wire only after SMTPUTF8 on MAIL FROM, and
// every recipient not reached is reported with a printable reason.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "notify/ScriptedTcp.h"
#include "notify/SmtpClient.h"
#include "notify/SmtpReply.h"

namespace {

using namespace raid;

void check(bool ok) {
    if (!ok) std::abort();
}

bool printable(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
    return true;
}

class PanelLog final : public Reporter {
public:
    std::string last3;
    void panel(int index, const std::string& text) override {
        check(printable(text));
        if (index == 3) last3 = text;
    }
    void messageBox(const std::string&, const std::string&) override {}
};

void readReplies(const std::string& stream) {
    auto script = std::make_shared<testing::TcpScript>();
    script->replies = stream;
    testing::ScriptedConnection connection(script);
    SmtpReply reply;
    std::string error;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (readSmtpReply(connection, deadline, reply, error)) {
        check(reply.code >= 0 && reply.code <= 999);
        check(!reply.lines.empty() && reply.lines.size() <= kSmtpMaxReplyLines);
        std::size_t bytes = 0;
        for (const auto& line : reply.lines) bytes += line.size();
        check(bytes <= kSmtpMaxReplyBytes + kTcpMaxLineBytes);
        const std::string text = reply.text();
        check(printable(text) && text.size() <= kSmtpMaxErrorText + 3);
        for (const auto& method : smtpAuthMethods(reply)) {
            check(!method.empty());
            for (const char c : method) check(c != ' ' && !(c >= 'a' && c <= 'z'));
        }
        if (smtpAnnounces(reply, "STARTTLS")) check(reply.lines.size() > 1);
    }
    check(!error.empty());
}

void submit(const std::string& stream, bool login, std::uint8_t security, bool nonAscii) {
    testing::ScriptedTcp tcp;
    tcp.script->replies = stream;
    tcp.script->closeWhenDry = true;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    PanelLog log;
    SmtpClient client(tcp, *sched, log);
    SmtpSettings settings;
    settings.smtpHost = "mail.example";
    settings.smtpPort = "25";
    settings.authState = login ? 1 : 0;
    settings.senderName = "Desk";
    settings.senderAddress = "alice@example.com";
    settings.password = "pw";
    settings.recipients = {"a@example.com", "b@example.com"};
    if (nonAscii) settings.recipients.insert(settings.recipients.begin() + 1, "j\xc3\xb6rg@example.com");
    settings.security = security;
    SmtpMessage message{"[RAID GUI v0.23.7-3 Message] ", {".", "\nSystem Name : box"}};
    const SmtpResult result = client.SendAlertMail(settings, message);
    check(result.sent == (log.last3 == "Send mail Success!"));
    check(result.sent == result.error.empty());
    check(printable(result.error));
    check(client.SmtpSendState == kSmtpNotConnected);
    check(tcp.script->connects == 1 && tcp.script->closes == 1);
    const std::string& sent = tcp.script->sent;
    const auto eightBit = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
    const auto firstEightBit = static_cast<std::size_t>(std::find_if(sent.begin(), sent.end(), eightBit) - sent.begin());
    if (firstEightBit < sent.size()) {
        const std::size_t utf8 = sent.find(" SMTPUTF8\r\n");
        check(utf8 != std::string::npos && utf8 < firstEightBit);
    }
    check(result.refused.size() <= settings.recipients.size());
    for (const auto& refusal : result.refused) {
        check(printable(refusal.reason) && !refusal.reason.empty());
        check(refusal.code == 0 || (refusal.code >= 400 && refusal.code <= 599 && refusal.code != 421));
    }
    if (security == kSmtpSecurityNone) {
        check(tcp.script->tlsAt == std::string::npos);
    } else {
        const std::size_t tls = tcp.script->tlsAt;
        const std::size_t auth = sent.find("auth LOGIN");
        const std::size_t mail = sent.find("Mail from:");
        check(auth == std::string::npos || (tls != std::string::npos && auth > tls));
        check(mail == std::string::npos || (tls != std::string::npos && mail > tls));
        check(!result.sent || tls != std::string::npos);
        if (security == kSmtpSecurityTls) check(tls == std::string::npos || tls == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    readReplies(stream);
    // Bit 0: log in; bits 1-2: how the connection is protected (3 counts as 0); bit 3:
    // a recipient outside ASCII among the others.
    const std::uint8_t security = static_cast<std::uint8_t>((data[0] >> 1) & 3);
    submit(stream, (data[0] & 1) != 0, security == 3 ? kSmtpSecurityNone : security, (data[0] & 8) != 0);
    return 0;
}

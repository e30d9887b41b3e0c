#include "notify/SmtpClient.h"

#include <algorithm>

#include "notify/MailFormat.h"

namespace raid {
namespace {

constexpr int kStateRepeats = 20;
constexpr int kStateWaitMs = 500;

std::string_view trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<long> decimal(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}


// A domain name of two labels or more: letters, digits and inner hyphens, the last
// label not all digits (that would be an address posing as a name).
bool fullyQualified(std::string_view name) {
    if (name.empty() || name.size() > 253 || name.find('.') == std::string_view::npos) return false;
    std::size_t from = 0;
    bool allDigits = true;
    while (from <= name.size()) {
        const std::size_t dot = std::min(name.find('.', from), name.size());
        const std::string_view label = name.substr(from, dot - from);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        allDigits = true;
        for (const char c : label) {
            const bool digit = c >= '0' && c <= '9';
            if (!digit && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && c != '-') return false;
            allDigits = allDigits && digit;
        }
        from = dot + 1;
    }
    return !allDigits;
}

// Every occurrence of `secret` in `text` masked.
void mask(std::string& text, const std::string& secret) {
    if (secret.empty()) return;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 5))
        text.replace(at, secret.size(), "*****");
}

}  // namespace

bool smtpRefusedForGood(const SmtpRefusal& refusal) { return refusal.code == 0 || refusal.code / 100 == 5; }

std::string smtpRefusalsText(const std::string& lead, const std::vector<SmtpRefusal>& refused) {
    constexpr std::size_t kMaxText = 480;
    std::string text = lead;
    for (std::size_t i = 0; i < refused.size(); ++i) {
        std::string entry = (i ? ", " : "") + printableSmtpText(refused[i].address, 100) + " (" +
                            printableSmtpText(refused[i].reason, 120) + ")";
        if (text.size() + entry.size() > kMaxText) {
            text += ", and " + std::to_string(refused.size() - i) + " more";
            break;
        }
        text += entry;
    }
    return text;
}

std::optional<std::uint16_t> parseSmtpPort(std::string_view text, std::string& error) {
    const std::optional<long> value = decimal(trimBlanks(text));
    if (!value) {
        error = "'" + printableSmtpText(text, 64) + "' is not a valid integer value";
        return std::nullopt;
    }
    if (*value < 1 || *value > 65535) {
        error = "'" + printableSmtpText(text, 64) + "' is not a valid port number";
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

int smtpTimeoutSeconds(std::string_view text) {
    const std::optional<long> value = decimal(trimBlanks(text));
    if (!value || *value <= 0 || *value > 3600) return kSmtpDefaultTimeoutSeconds;
    return static_cast<int>(*value);
}

SmtpClient::SmtpClient(TcpPort& tcp, Scheduler& scheduler, Reporter& reporter, std::uint32_t messageIdSeed)
    : tcp_(tcp), scheduler_(scheduler), reporter_(reporter), messageIds_(messageIdSeed) {}

SmtpClient::~SmtpClient() {
    if (connection_) connection_->close();
}

void SmtpClient::IdSMTP1Connected() {
    SmtpSendState = kSmtpConnected;
    reporter_.panel(2, "Connect");
}

void SmtpClient::IdSMTP1Disconnected() { SmtpSendState = kSmtpNotConnected; }

void SmtpClient::IdSMTP1WorkBegin() {
    SmtpSendState = kSmtpTransferStarted;
    reporter_.panel(3, "Mail is Sending...");
}

void SmtpClient::IdSMTP1WorkEnd() { SmtpSendState = kSmtpTransferFinished; }

TcpDeadline SmtpClient::deadline() const { return std::chrono::steady_clock::now() + timeout_; }

std::string SmtpClient::heloName() {
    // The name goes into a command line: only what can stand there as one word.
    std::string name;
    for (const char c : tcp_.localHostName())
        if (c > ' ' && c < 0x7F) name += c;
    if (!name.empty() && name.back() == '.') name.pop_back();
    // Many servers refuse a name that is not fully qualified; a machine without one
    // introduces itself by the address of this connection instead.
    if (fullyQualified(name)) return name;
    const std::string address = connection_ ? connection_->localAddress() : std::string();
    if (!address.empty() && address.find_first_not_of("0123456789abcdefABCDEF.:") == std::string::npos)
        return address.find(':') != std::string::npos ? "[IPv6:" + address + "]" : "[" + address + "]";
    return name.empty() ? "localhost" : name;
}

// The error for a reply with another code than the one expected: its text, or what
// it was when it had none (an empty line is a reply too). Once the password has gone
// out, a server may repeat it in any later reply: it is masked there.
std::string SmtpClient::unexpected(const SmtpReply& reply) const {
    SmtpReply masked = reply;
    for (std::string& line : masked.lines)
        for (const std::string& secret : secrets_) mask(line, secret);
    std::string text = masked.text();
    return text.find_first_not_of(' ') == std::string::npos ? "Empty reply" : text;
}

bool SmtpClient::command(const std::string& line, int expected, SmtpReply& reply, std::string& error) {
    if (!connection_->send(line + "\r\n", deadline(), error)) return false;
    if (!readSmtpReply(*connection_, deadline(), reply, error)) return false;
    if (expected >= 0 && reply.code != expected) {
        refusedCode_ = reply.code;
        error = unexpected(reply);
        return false;
    }
    return true;
}

bool SmtpClient::loginStep(const std::string& line, int expected, const char* method, std::string& error) {
    SmtpReply reply;
    // The connection's own failures name no byte of the exchange.
    if (!connection_->send(line + "\r\n", deadline(), error)) return false;
    if (!readSmtpReply(*connection_, deadline(), reply, error)) return false;
    if (reply.code == expected) return true;
    refusedCode_ = reply.code;
    // Only the code: servers quote the lines they were sent (the Base64 password) in
    // their refusal, and this text goes to the status bar, the day log and the journal.
    error = std::string(method) + " refused (" + std::to_string(reply.code) + ")";
    return false;
}

bool SmtpClient::command(const std::string& line, int expected, std::string& error) {
    SmtpReply reply;
    return command(line, expected, reply, error);
}

void SmtpClient::quitAndClose() {
    if (!connection_) return;
    std::string ignored;
    if (connection_->isOpen()) connection_->send("Quit\r\n", deadline(), ignored);
    connection_->close();
    {
        std::lock_guard<std::mutex> lock(connectionMu_);
        connection_.reset();
    }
    IdSMTP1Disconnected();
}

void SmtpClient::cancel() {
    cancelled_ = true;
    std::lock_guard<std::mutex> lock(connectionMu_);
    if (connection_) connection_->abort();
}

bool SmtpClient::open(const SmtpSettings& settings, std::uint16_t port, std::string& error) {
    authMethods_.clear();
    loggedIn_ = false;
    secrets_.clear();
    if (cancelled_) {
        error = "The program is closing";
        return false;
    }
    std::unique_ptr<TcpConnection> connection = tcp_.connect(settings.smtpHost, port, timeout_, error);
    if (!connection) {
        error = printableSmtpText(error);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(connectionMu_);
        connection_ = std::move(connection);
        // A cancel that came while connecting still ends this submission.
        if (cancelled_) connection_->abort();
    }
    IdSMTP1Connected();

    SmtpReply reply;
    bool ok = true;
    // Port 465 style: TLS from the first byte, so even the greeting is protected.
    if (settings.security == kSmtpSecurityTls) ok = connection_->startTls(settings.smtpHost, deadline(), error);
    ok = ok && readSmtpReply(*connection_, deadline(), reply, error);
    if (ok && reply.code != 220) {
        refusedCode_ = reply.code;
        error = unexpected(reply);
        ok = false;
    }
    const std::string name = heloName();
    if (ok) ok = greet(name, error);
    if (ok && settings.security == kSmtpSecurityStartTls) {
        // Never on in clear text: a server (or someone in between) that hides the
        // offer must not get the password or the mail unprotected.
        if (!startTlsOffered_) {
            error = "the server does not offer STARTTLS";
            ok = false;
        }
        ok = ok && command("STARTTLS", 220, error);
        ok = ok && connection_->startTls(settings.smtpHost, deadline(), error);
        // What the server said before the handshake may have been forged: only the
        // answer inside TLS counts, login methods included.
        ok = ok && greet(name, error);
    }
    if (!ok) {
        error = printableSmtpText(error);
        quitAndClose();
    }
    return ok;
}

bool SmtpClient::greet(const std::string& name, std::string& error) {
    authMethods_.clear();
    startTlsOffered_ = false;
    eightBitMime_ = false;
    smtpUtf8_ = false;
    SmtpReply reply;
    if (!command("ehlo " + name, -1, reply, error)) return false;
    if (reply.code != 250) return command("Helo " + name, 250, error);
    authMethods_ = smtpAuthMethods(reply);
    startTlsOffered_ = smtpAnnounces(reply, "STARTTLS");
    eightBitMime_ = smtpAnnounces(reply, "8BITMIME");
    smtpUtf8_ = smtpAnnounces(reply, "SMTPUTF8");
    return true;
}

bool SmtpClient::offerRecipients(const std::vector<std::string>& recipients, std::vector<std::string>& accepted,
                                 std::string& error) {
    for (const auto& address : recipients) {
        if (!sendableAddress(address)) {
            refused_.push_back({address, 0, "not a valid address"});
            continue;
        }
        if (needsSmtpUtf8(address) && !smtpUtf8_) {
            refused_.push_back({address, 0, kSmtpUtf8Missing});
            continue;
        }
        SmtpReply reply;
        if (!command("RCPT to:<" + address + ">", -1, reply, error)) return false;
        // 251: the server forwards it; taken all the same.
        if (reply.code == 250 || reply.code == 251) {
            accepted.push_back(address);
        } else if ((reply.code / 100 == 4 || reply.code / 100 == 5) && reply.code != 421) {
            refused_.push_back({address, reply.code, unexpected(reply)});
        } else {
            // 421 closes the channel; any other code means the dialogue is out of step.
            refusedCode_ = reply.code;
            error = unexpected(reply);
            return false;
        }
    }
    return true;
}

bool SmtpClient::transmit(const SmtpSettings& settings, const SmtpMessage& message, std::string& error) {
    // An address outside ASCII needs SMTPUTF8 (RFC 6531): a server without it cannot
    // take this sender, whoever the mail is for.
    if (needsSmtpUtf8(settings.senderAddress) && !smtpUtf8_) {
        error = "the server does not offer SMTPUTF8, which the sender address needs";
        forGood_ = true;
        return false;
    }
    if (!command("Rset", -1, error)) return false;
    if (loginEnabled_ && !loggedIn_) {
        if (authMethods_.count("LOGIN") != 0) {
            if (!loginStep("auth LOGIN", 334, "AUTH LOGIN", error)) return false;
            if (!loginStep(base64(loginName(settings.loginName, settings.senderAddress)), 334, "AUTH LOGIN", error))
                return false;
            secrets_ = {base64(settings.password), settings.password};
            if (!loginStep(base64(settings.password), 235, "AUTH LOGIN", error)) return false;
        } else if (authMethods_.count("PLAIN") != 0) {
            // One line: no identity to act for, the login name and the password, each
            // after a NUL, in Base64.
            const std::string plain =
                base64(std::string(1, '\0') + loginName(settings.loginName, settings.senderAddress) +
                       std::string(1, '\0') + settings.password);
            secrets_ = {plain, base64(settings.password), settings.password};
            if (!loginStep("AUTH PLAIN " + plain, 235, "AUTH PLAIN", error)) return false;
        } else {
            // Going on without the login would hand the mail to a server that most
            // likely refuses it for a reason that hides the real one, or relays it
            // from a host the owner meant to authenticate.
            error = "The server offers no login method this program can use (AUTH LOGIN or PLAIN)";
            noLoginMethod_ = true;
            return false;
        }
        loggedIn_ = true;
    }
    // SMTPUTF8 exactly when an address needs it and the server takes it; a recipient
    // that needs it where the server does not is not offered at all.
    const auto& to = settings.recipients;
    const auto offerable = [&](const std::string& a) { return sendableAddress(a) && (smtpUtf8_ || !needsSmtpUtf8(a)); };
    const bool utf8 = smtpUtf8_ && (needsSmtpUtf8(settings.senderAddress) ||
                                    std::any_of(to.begin(), to.end(), [&](const auto& a) {
                                        return offerable(a) && needsSmtpUtf8(a);
                                    }));
    // 8-bit text only where the server said it takes it, and then declared as such.
    // Addresses in UTF-8 make the header 8-bit too.
    const MailBody body = encodeMailBody(message.body, eightBitMime_);
    const bool eightBit = body.transfer == BodyTransfer::EightBit || (utf8 && eightBitMime_);
    const std::string parameters = std::string(eightBit ? " BODY=8BITMIME" : "") + (utf8 ? " SMTPUTF8" : "");
    // With nobody to offer it to, the server hears nothing of this mail.
    if (std::any_of(to.begin(), to.end(), offerable) &&
        !command("Mail from:<" + settings.senderAddress + ">" + parameters, 250, error))
        return false;
    std::vector<std::string> accepted;
    if (!offerRecipients(to, accepted, error)) return false;
    if (accepted.empty()) {
        // Nobody to send to; the same mail tried later may still reach someone when a
        // refusal was for the time being (4yz).
        error = smtpRefusalsText("No recipient was accepted: ", refused_);
        forGood_ = std::all_of(refused_.begin(), refused_.end(), smtpRefusedForGood);
        return false;
    }
    if (!command("Data", 354, error)) return false;

    MailFields fields;
    fields.senderName = settings.senderName;
    fields.senderAddress = settings.senderAddress;
    fields.subject = message.subject;
    // Only those who get it: an address the server refused is no recipient of this
    // message, and one outside ASCII cannot be written without SMTPUTF8.
    fields.recipients = accepted;
    fields.utf8 = utf8;
    const double now = scheduler_.wallSeconds();
    fields.date = localTimeParts(now).value_or(LocalTimeParts{});
    // A new id for every attempt: a retry is a message of its own to the server.
    const std::uint64_t high = messageIds_.next();
    fields.messageId = messageIdValue(now, high << 32 | messageIds_.next(), heloName());
    IdSMTP1WorkBegin();
    if (!connection_->send(mailDataText(fields, body), deadline(), error)) return false;
    IdSMTP1WorkEnd();
    if (!command(".", 250, error)) return false;
    // Only an accepted message is a success; a refusal after the last line is not.
    reporter_.panel(3, "Send mail Success!");
    return true;
}

SmtpResult SmtpClient::SendAlertMail(const SmtpSettings& settings, const SmtpMessage& message) {
    SmtpResult result = submit(settings, message);
    // Only a refusal the server means for good ends the tries; a 4yz reply, a
    // connection that failed or a reply that never came may go better later.
    // A server without a login method we know will not grow one by the next try.
    result.permanent =
        !result.sent && ((refusedCode_ >= 500 && refusedCode_ <= 599) || noLoginMethod_ || forGood_);
    result.refused = std::move(refused_);
    refused_.clear();
    return result;
}

SmtpResult SmtpClient::submit(const SmtpSettings& settings, const SmtpMessage& message) {
    SmtpResult result;
    std::string error;
    refusedCode_ = 0;
    noLoginMethod_ = false;
    forGood_ = false;
    refused_.clear();
    const std::optional<std::uint16_t> port = parseSmtpPort(settings.smtpPort, error);
    if (!port) {
        result.error = error;
        return result;
    }
    if (settings.recipients.empty()) {
        result.error = "No recipient address";
        return result;
    }
    // A control character would end the command line early and let the rest be read
    // as a command of its own; a blank or an angle bracket would add parameters.
    if (!sendableAddress(settings.senderAddress)) {
        result.error = "Invalid address: " + printableSmtpText(settings.senderAddress, 128);
        forGood_ = true;
        return result;
    }
    // Such a recipient is left out (and reported); the others still get the mail.
    if (std::none_of(settings.recipients.begin(), settings.recipients.end(),
                     [](const auto& a) { return sendableAddress(a); })) {
        for (const auto& address : settings.recipients) refused_.push_back({address, 0, "not a valid address"});
        result.error = smtpRefusalsText("No recipient was accepted: ", refused_);
        forGood_ = true;
        return result;
    }
    if (settings.security > kSmtpSecurityTls) {
        result.error = "Unknown connection security setting";
        return result;
    }
    timeout_ = std::chrono::seconds(smtpTimeoutSeconds(settings.timeout));

    // 1. Connect (a connection never outlives a call, so there is none yet).
    if (!connection_) {
        SmtpSendState = kSmtpNotConnected;
        loginEnabled_ = (settings.authState & 1) != 0;
        if (!open(settings, *port, error)) {
            result.error = error;
            return result;
        }
    }
    // 2. Transmit once connected. The connection is opened synchronously, so the
    // state is already 1 and the waits are only taken if it is not.
    bool transmitted = false;
    for (int i = 0; i < kStateRepeats; ++i) {
        if (SmtpSendState == kSmtpNotConnected) {
            scheduler_.sleepMs(kStateWaitMs);
        } else if (SmtpSendState == kSmtpConnected) {
            if (!transmit(settings, message, error)) {
                // A reply that is late or missing leaves the dialogue out of step:
                // whatever the server says next could be taken for the answer to
                // the next command. The connection goes; the next alert starts afresh.
                result.error = printableSmtpText(error);
                quitAndClose();
                return result;
            }
            transmitted = true;
            break;
        } else if (SmtpSendState == 0) {
            break;
        }
    }
    // 3. Wait for the end of the transfer.
    for (int i = 0; i < kStateRepeats && transmitted && SmtpSendState != kSmtpTransferFinished; ++i)
        scheduler_.sleepMs(kStateWaitMs);
    // 4. Close.
    quitAndClose();
    result.sent = transmitted;
    if (!transmitted) result.error = "Not connected";
    return result;
}

}  // namespace raid

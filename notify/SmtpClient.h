// SMTP submission of one alert mail: connect, greeting, EHLO (HELO when that is
// refused), optional login (AUTH LOGIN, else AUTH PLAIN), the envelope, the message, QUIT. With security
// set, TLS comes first (implicit TLS) or right after the EHLO reply (STARTTLS, then
// EHLO again), and a connection that cannot be protected carries neither the login
// nor the mail.
//
// It runs on the engine thread and blocks it for the whole dialogue, so every wait is
// bounded: connecting and each reply get the configured time-out (a default when none
// is set), and replies are bounded in size. The status bar hears of the progress
// through the caller's Reporter; a failure comes back as text and never shows
// success.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/Reporter.h"
#include "notify/SmtpReply.h"
#include "platform/Random.h"
#include "platform/Scheduler.h"
#include "platform/TcpPort.h"

namespace raid {

// SmtpSendState values. 0 is never set here; the waiting loop ends when it sees it.
constexpr std::uint8_t kSmtpNotConnected = 2;
constexpr std::uint8_t kSmtpConnected = 1;
constexpr std::uint8_t kSmtpTransferStarted = 16;
constexpr std::uint8_t kSmtpTransferFinished = 17;

constexpr std::uint8_t kSmtpSecurityNone = 0;
constexpr std::uint8_t kSmtpSecurityStartTls = 1;
constexpr std::uint8_t kSmtpSecurityTls = 2;

// Seconds allowed for connecting and for each reply when the "Time Out" setting
// holds no positive number.
constexpr int kSmtpDefaultTimeoutSeconds = 30;

// The connection settings and recipients, as the settings store holds them.
struct SmtpSettings {
    std::string smtpHost;
    std::string smtpPort;  // decimal text as typed ("25")
    std::uint8_t authState = 0;  // bit 0: log in (AUTH LOGIN, else AUTH PLAIN; neither: no mail)
    std::string senderName;
    std::string senderAddress;  // also gives the login name (before the first "@")...
    std::string loginName;      // ... unless this one is set
    std::string password;
    std::string timeout;  // seconds as typed; "" or "0": kSmtpDefaultTimeoutSeconds
    std::vector<std::string> recipients;
    // How the connection is protected: kSmtpSecurityNone (clear text, the dialogue of
    // old), kSmtpSecurityStartTls (STARTTLS after the EHLO reply announces it, then
    // EHLO again) or kSmtpSecurityTls (TLS from the first byte, port 465 style).
    std::uint8_t security = 0;
};

struct SmtpMessage {
    std::string subject;  // one line
    std::vector<std::string> body;
};

// A recipient the server did not take (or that could not be offered to it).
struct SmtpRefusal {
    std::string address;  // as configured (printable form for reports: printableSmtpText)
    int code = 0;         // the RCPT reply code; 0 when it was never offered (e.g. it needs SMTPUTF8)
    std::string reason;   // printable reply text, or why it was not offered
};

struct SmtpResult {
    // The server accepted the message for at least one recipient.
    bool sent = false;
    std::string error;  // why not (sent == false); printable ASCII, at most a few hundred characters
    // The server refused for good (a 5yz reply): sending the same mail again would
    // only be refused again, so it is not tried again. With every recipient refused:
    // true when every refusal is for good (5yz, or never offered).
    bool permanent = false;
    // Recipients not reached, in their configured order, also when sent == true.
    std::vector<SmtpRefusal> refused;
};

// A refusal that repeating the same mail cannot mend: a 5yz reply, or an address
// never offered.
bool smtpRefusedForGood(const SmtpRefusal& refusal);
// `lead` + "a@x (550 ...), b@y (...)", short enough for a status bar and a log line
// whatever the server said ("..., and N more" past that).
std::string smtpRefusalsText(const std::string& lead, const std::vector<SmtpRefusal>& refused);

// Why a recipient outside ASCII is not offered to a server without SMTPUTF8.
inline constexpr const char* kSmtpUtf8Missing = "the server does not offer SMTPUTF8, which this address needs";

// The port setting read as a decimal number in 1..65535 (blanks around it allowed).
// nullopt with `error` set otherwise.
std::optional<std::uint16_t> parseSmtpPort(std::string_view text, std::string& error);
// The "Time Out" setting in seconds: a positive decimal number, else the default.
int smtpTimeoutSeconds(std::string_view text);

class SmtpClient {
public:
    // `reporter` gets panel 2 "Connect" when the connection is up, panel 3 "Mail is
    // Sending..." when the message starts and panel 3 "Send mail Success!" once the
    // server has accepted it. The scheduler gives the 500 ms waits and the time of
    // the "Date" header. `messageIdSeed` (from the platform's random port) starts the
    // generator of the "Message-ID" headers, which this thread uses alone.
    SmtpClient(TcpPort& tcp, Scheduler& scheduler, Reporter& reporter, std::uint32_t messageIdSeed = 0);
    ~SmtpClient();
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    // Submits `message` to every recipient the server takes; returns when the
    // dialogue is over. A recipient refused (or one that cannot be offered) does not
    // keep the others from getting the mail; it comes back in `refused`. The
    // connection is opened for this call and closed before it returns, whatever
    // happened.
    SmtpResult SendAlertMail(const SmtpSettings& settings, const SmtpMessage& message);
    // From any thread: the submission under way (and any later one) fails at once.
    // For a program that is closing: it must not wait for a server that says nothing.
    void cancel();

    // The progress of the current submission (engine thread only).
    std::uint8_t SmtpSendState = kSmtpNotConnected;

    // The login methods the server announced on the last connection.
    const std::set<std::string>& announcedAuthMethods() const { return authMethods_; }

private:
    void IdSMTP1Connected();
    void IdSMTP1Disconnected();
    void IdSMTP1WorkBegin();
    void IdSMTP1WorkEnd();

    SmtpResult submit(const SmtpSettings& settings, const SmtpMessage& message);
    bool open(const SmtpSettings& settings, std::uint16_t port, std::string& error);
    // EHLO (HELO when that is refused); keeps what the reply announces.
    bool greet(const std::string& name, std::string& error);
    bool transmit(const SmtpSettings& settings, const SmtpMessage& message, std::string& error);
    // RCPT for each recipient that can be offered; the accepted ones are returned,
    // the others go to refused_. false: the dialogue itself failed.
    bool offerRecipients(const std::vector<std::string>& recipients, std::vector<std::string>& accepted,
                         std::string& error);
    // Sends `line` + CR LF and reads the whole reply; `expected` < 0 takes any code.
    bool command(const std::string& line, int expected, SmtpReply& reply, std::string& error);
    bool command(const std::string& line, int expected, std::string& error);
    // One line of the login exchange (`method` names it in a refusal): a refusal is
    // told by its code alone.
    bool loginStep(const std::string& line, int expected, const char* method, std::string& error);
    std::string unexpected(const SmtpReply& reply) const;
    // "Quit" without waiting for its reply, then the connection is closed.
    void quitAndClose();
    TcpDeadline deadline() const;
    std::string heloName();

    TcpPort& tcp_;
    Scheduler& scheduler_;
    Reporter& reporter_;
    std::unique_ptr<TcpConnection> connection_;
    std::mutex connectionMu_;  // connection_ against cancel() from another thread
    std::atomic<bool> cancelled_{false};
    std::chrono::milliseconds timeout_{std::chrono::seconds(kSmtpDefaultTimeoutSeconds)};
    bool loginEnabled_ = false;
    bool loggedIn_ = false;
    std::set<std::string> authMethods_;
    bool startTlsOffered_ = false;  // the last EHLO reply announced STARTTLS
    int refusedCode_ = 0;  // the code of the reply that ended this submission, if one did
    bool noLoginMethod_ = false;  // login is on and the server offers no method we know
    bool eightBitMime_ = false;     // the last EHLO reply announced 8BITMIME
    bool smtpUtf8_ = false;         // the last EHLO reply announced SMTPUTF8
    // This submission failed for a reason that a second try cannot mend (every
    // recipient refused for good, an address that cannot be sent).
    bool forGood_ = false;
    std::vector<SmtpRefusal> refused_;  // this submission's recipients not reached
    // Once the password has been sent on this connection: its forms, masked in any
    // reply text that becomes an error.
    std::vector<std::string> secrets_;
    XorShiftRandom messageIds_;
};

}  // namespace raid

// The engine's mail side: alert mails from the raised alerts into the outbox, their
// delivery on TEmailThread, the outcome back on the engine thread (status bar, day
// log, tries again), and the test mail of the E-mail page.
//
// Composition and outcomes run on the engine thread; only sendDue() runs on
// TEmailThread, with the SMTP client that thread alone uses.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/Reporter.h"
#include "notify/AlertMail.h"
#include "notify/SmtpClient.h"
#include "platform/Scheduler.h"
#include "platform/TcpPort.h"

namespace raid {

class MainForm;

// "[" + title + " Message] Test".
std::string testMailSubject(const std::string& title);
// Says it is a test and what sent it, then the host information (one line per part).
std::vector<std::string> testMailBody(const std::string& title, const std::vector<std::string>& systemInfo);

class MailService {
public:
    explicit MailService(MainForm& form) : form_(form) {}

    // Before the workers start: the client TEmailThread sends with (none without a
    // network port: every mail then fails with its reason).
    void startClient(TcpPort* tcp, Scheduler& scheduler, Reporter& reporter, std::uint32_t messageIdSeed);
    // Engine thread: a mail for each raised alert (when there is anyone to mail).
    void queueAlertMails();
    // Engine thread: one mail to every recipient of the saved settings, now; its
    // outcome shows in the status bar and goes to `done`, and it is not tried again.
    // Returns "" or why no mail goes out.
    std::string sendTestMail(std::function<void(const SmtpResult&)> done = {});
    // TEmailThread: the first mail whose time has come goes to the server, with the
    // settings the store holds at that moment.
    void sendDue();
    // From any thread: a submission under way ends now (the program is closing).
    void cancel();

    MailOutbox& outbox() { return outbox_; }

private:
    // Into the outbox; a mail it had to drop for room is reported as given up.
    void queue(OutgoingMail mail);
    // Engine thread: the first mail whose time has come, with the settings as saved now.
    std::optional<OutgoingMail> takeDue();
    void finished(OutgoingMail mail, SmtpResult result);
    void reportFailure(const std::string& what);

    MainForm& form_;
    MailOutbox outbox_;
    std::unique_ptr<SmtpClient> smtp_;  // used on TEmailThread only
};

// The kind of the test mail (alert kinds are 1..4).
inline constexpr int kTestMailKind = 0;

}  // namespace raid

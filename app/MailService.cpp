#include "app/MailService.h"

#include <algorithm>

#include "app/MainForm.h"
#include "monitor/TimeFormat.h"

namespace raid {

std::string testMailSubject(const std::string& title) { return "[" + title + " Message] Test"; }

std::vector<std::string> testMailBody(const std::string& title, const std::vector<std::string>& systemInfo) {
    std::vector<std::string> body = {"This is a test mail from " + title + ".",
                                     "Its alert mails reach this address the same way.", ""};
    // The information lines begin with a line feed: each part is a line of its own.
    for (const std::string& info : systemInfo) {
        std::size_t from = 0;
        for (std::size_t lf = info.find('\n'); lf != std::string::npos; lf = info.find('\n', from)) {
            if (lf > from) body.push_back(info.substr(from, lf - from));
            from = lf + 1;
        }
        if (from < info.size()) body.push_back(info.substr(from));
    }
    return body;
}

void MailService::startClient(TcpPort* tcp, Scheduler& scheduler, Reporter& reporter, std::uint32_t messageIdSeed) {
    if (tcp) smtp_ = std::make_unique<SmtpClient>(*tcp, scheduler, reporter, messageIdSeed);
}

void MailService::queueAlertMails() {
    MainForm& f = form_;
    const NotificationSettings& s = f.settings();
    auto& raised = f.alerts().raised;
    const bool send = s.loaded && s.recipientCount != 0 && f.MailAlerts;
    while (!raised.empty()) {
        const AlertState::Raised alert = std::move(raised.front());
        raised.pop_front();
        if (!send) continue;
        OutgoingMail mail;
        mail.kind = alert.kind;
        mail.alert = alertName(alert.kind, alert.deviceIndex, alert.port) + ", event " + formatDateTimeC(alert.wallSeconds);
        mail.settings = smtpSettings(s);
        mail.message.subject = alertSubject(s, kAppTitle, alert.kind);
        mail.message.body = alertBody(s, alert.kind, alert.lines, f.SystemInfoLines, eventTimeLine(alert.wallSeconds));
        mail.dueUs = f.scheduler().nowUs();
        queue(std::move(mail));
    }
}

void MailService::queue(OutgoingMail mail) {
    std::optional<OutgoingMail> dropped = outbox_.push(std::move(mail));
    if (!dropped) return;
    if (dropped->kind != kTestMailKind)
        reportFailure("Alert mail given up: [" + dropped->alert + "] too many alert mails are waiting");
    // A caller waiting for a test mail that will never go is told so.
    if (dropped->onOutcome) {
        SmtpResult gone;
        gone.error = "too many mails are waiting";
        dropped->onOutcome(gone);
    }
}

std::string MailService::sendTestMail(std::function<void(const SmtpResult&)> done) {
    MainForm& f = form_;
    const NotificationSettings& s = f.settings();
    if (!s.loaded || s.recipients.empty()) return "No recipient to send the test mail to: add one and press OK first";
    OutgoingMail mail;
    mail.onOutcome = std::move(done);
    mail.kind = kTestMailKind;
    mail.settings = smtpSettings(s);
    mail.message.subject = testMailSubject(kAppTitle);
    mail.message.body = testMailBody(kAppTitle, f.SystemInfoLines);
    mail.dueUs = f.scheduler().nowUs();
    queue(std::move(mail));
    return "";
}

// On TEmailThread: the dialogue with the mail server happens here, beside the engine.
// Its status texts and its outcome reach the engine as posted work.
void MailService::sendDue() {
    Scheduler& sched = form_.scheduler();
    if (!outbox_.hasDue(sched.nowUs())) return;
    std::optional<OutgoingMail> mail;
    // Taken on the engine thread, which alone reads the settings.
    sched.invokeSync([this, &mail] { mail = takeDue(); });
    if (!mail) return;
    SmtpResult result;
    if (!smtp_) {
        result.error = "No network connection is available";
    } else {
        result = smtp_->SendAlertMail(mail->settings, mail->message);
    }
    ++mail->attempt;
    MailService* self = this;
    auto done = std::make_shared<std::pair<OutgoingMail, SmtpResult>>(std::move(*mail), std::move(result));
    sched.post([self, done] { self->finished(std::move(done->first), std::move(done->second)); });
}

std::optional<OutgoingMail> MailService::takeDue() {
    MainForm& f = form_;
    for (std::optional<OutgoingMail> mail; (mail = outbox_.takeDue(f.scheduler().nowUs()));) {
        // Every try goes with the settings the store holds at this moment: an owner who
        // has just mended the server's port - on the page, or with raid-gui-monitor --set
        // while the service runs - gets this very try through it, not the one after.
        f.LoadNotificationSettings();
        const NotificationSettings& s = f.settings();
        if (s.loaded && s.recipientCount != 0) mail->settings = smtpSettings(s);
        // Those who have it, or refused it for good, are not asked again; an address
        // added or mended since is.
        auto& to = mail->settings.recipients;
        to.erase(std::remove_if(to.begin(), to.end(),
                                [&mail](const std::string& a) {
                                    return std::find(mail->done.begin(), mail->done.end(), a) != mail->done.end();
                                }),
                 to.end());
        if (!to.empty()) return mail;
    }
    return std::nullopt;
}

void MailService::cancel() {
    if (smtp_) smtp_->cancel();
}

void MailService::finished(OutgoingMail mail, SmtpResult result) {
    MainForm& f = form_;
    // A test is answered once, at once: the owner is looking at the status bar.
    const bool test = mail.kind == kTestMailKind;
    const bool triesLeft = !test && mail.attempt <= kMailRetries;
    const auto passing = [](const SmtpRefusal& r) { return !smtpRefusedForGood(r); };
    // A delivered mail is tried again only for the recipients the server put off (4yz).
    const bool retry = triesLeft && (result.sent ? std::any_of(result.refused.begin(), result.refused.end(), passing)
                                                 : !result.permanent);
    if (f.onMail) f.onMail(mail, result, retry);
    if (mail.onOutcome && !retry) mail.onOutcome(result);
    if (result.sent) {
        // The reason of an earlier failure no longer holds: it would stand beside
        // "Send mail Success!" as if this mail had not arrived. Recipients it did not
        // reach are named there instead.
        f.setPanel(4, result.refused.empty() ? "" : smtpRefusalsText("Not delivered to ", result.refused));
        if (test) return;
        for (const SmtpRefusal& r : result.refused)
            reportFailure(std::string(retry && passing(r) ? "Alert mail failed for " : "Alert mail given up for ") +
                          printableSmtpText(r.address, 100) + ": [" + mail.alert + "] " + printableSmtpText(r.reason, 200));
        if (!retry) return;
        for (const std::string& a : mail.settings.recipients) {
            const auto refusal = std::find_if(result.refused.begin(), result.refused.end(),
                                              [&a](const SmtpRefusal& r) { return r.address == a; });
            if (refusal == result.refused.end() || !passing(*refusal)) mail.done.push_back(a);
        }
    } else {
        f.setPanel(3, "Send mail Fail!");
        f.setPanel(4, result.error);
        if (test) return;
        reportFailure(std::string(retry ? "Alert mail failed: " : "Alert mail given up: ") + "[" + mail.alert + "] " +
                      result.error);
        if (!retry) return;
        for (const SmtpRefusal& r : result.refused)
            if (!passing(r)) mail.done.push_back(r.address);
    }
    mail.dueUs = f.scheduler().nowUs() + kMailRetryDelayUs[mail.attempt - 1];
    queue(std::move(mail));
}

void MailService::reportFailure(const std::string& what) {
    // Into the day log, so an owner reading it later learns that an alert did not reach him.
    MainForm& f = form_;
    f.eventLog().addLine(what + ", " + formatDateTimeC(f.scheduler().wallSeconds()));
    f.eventLog().save();
}

}  // namespace raid

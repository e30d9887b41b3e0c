#include "notify/AlertMail.h"

#include <algorithm>

#include "monitor/TimeFormat.h"

namespace raid {

std::string alertSubject(const NotificationSettings& s, const std::string& title, int kind) {
    return "[" + title + " Message] " + s.subjectLine(kind);
}

std::vector<std::string> alertBody(const NotificationSettings& s, int kind, const std::vector<std::string>& alertLines,
                                   const std::vector<std::string>& systemInfo, const std::string& eventLine) {
    std::vector<std::string> body;
    const auto add = [&body](const std::string& line) {
        std::size_t at = 0;
        while (true) {
            const std::size_t lf = line.find('\n', at);
            std::string part = line.substr(at, lf == std::string::npos ? std::string::npos : lf - at);
            if (!part.empty() && part.back() == '\r') part.pop_back();
            body.push_back(std::move(part));
            if (lf == std::string::npos) break;
            at = lf + 1;
        }
    };
    for (const auto& l : alertLines) add(l);
    if (!eventLine.empty()) add(eventLine);
    for (const auto& l : systemInfo) add(l);
    if (kind >= 1 && kind <= 4)
        for (const auto& l : s.contents[static_cast<std::size_t>(kind - 1)]) add(l);
    return body;
}

std::string eventTimeLine(double wallSeconds) { return "Time of the event: " + formatDateTimeC(wallSeconds); }

SmtpSettings smtpSettings(const NotificationSettings& s) {
    SmtpSettings out;
    out.security = static_cast<std::uint8_t>(s.security);
    out.smtpHost = s.smtpHost();
    out.smtpPort = s.smtpPort();
    out.authState = s.authState;
    out.senderName = s.senderName();
    out.senderAddress = s.senderAddress();
    out.password = s.password();
    out.loginName = s.loginName;
    out.timeout = s.timeout();
    out.recipients = s.recipients;
    return out;
}

std::optional<OutgoingMail> MailOutbox::push(OutgoingMail mail) {
    std::lock_guard<std::mutex> lock(mu_);
    std::optional<OutgoingMail> dropped;
    if (mails_.size() >= kOutboxLimit) {
        dropped = std::move(mails_.front());
        mails_.pop_front();
    }
    mails_.push_back(std::move(mail));
    return dropped;
}

bool MailOutbox::hasDue(std::int64_t nowUs) const {
    std::lock_guard<std::mutex> lock(mu_);
    return std::any_of(mails_.begin(), mails_.end(), [nowUs](const OutgoingMail& m) { return m.dueUs <= nowUs; });
}

std::optional<OutgoingMail> MailOutbox::takeDue(std::int64_t nowUs) {
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = std::find_if(mails_.begin(), mails_.end(), [nowUs](const OutgoingMail& m) { return m.dueUs <= nowUs; });
    if (it == mails_.end()) return std::nullopt;
    OutgoingMail m = std::move(*it);
    mails_.erase(it);
    return m;
}

std::size_t MailOutbox::size() const {
    std::lock_guard<std::mutex> lock(mu_);
    return mails_.size();
}

}  // namespace raid

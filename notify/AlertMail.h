// From a raised alert to a mail on its way: composing subject and body, and the
// outbox that holds the mails until TEmailThread has delivered them.
//
// Composition runs on the engine thread (it reads the settings and the alert lines);
// delivery runs on TEmailThread's own thread, so a slow or silent mail server never
// holds up polling, the day log or the window. A mail that fails is tried again a few
// times, minutes apart, so a short outage of the server loses no alert.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "notify/NotificationSettings.h"
#include "notify/SmtpClient.h"

namespace raid {

// Tries after the first: this many, after these pauses.
inline constexpr int kMailRetries = 3;
inline constexpr std::int64_t kMailRetryDelayUs[kMailRetries] = {60'000'000, 180'000'000, 600'000'000};
// Mails waiting at most; a flood of alerts beyond it drops the oldest waiting mail.
inline constexpr std::size_t kOutboxLimit = 64;

// "[" + title + " Message] " + the kind's subject line.
std::string alertSubject(const NotificationSettings& s, const std::string& title, int kind);
// The alert's detail lines, the line with the time of the event (`eventLine`, none when
// empty), the host information, the kind's contents. A line that holds line feeds (the
// host information lines each begin with one) becomes one line per part, so every line
// of the mail ends in CR LF.
std::vector<std::string> alertBody(const NotificationSettings& s, int kind, const std::vector<std::string>& alertLines,
                                   const std::vector<std::string>& systemInfo, const std::string& eventLine = {});
// "Time of the event: " + the event's time as the day log writes it. A mail that goes
// out late, after tries, still says when it happened.
std::string eventTimeLine(double wallSeconds);
SmtpSettings smtpSettings(const NotificationSettings& s);

struct OutgoingMail {
    int kind = 1;
    // Which alert it tells of, for the reports of its fate: "Device1 P1 Hard Disk
    // Drive fail, event 12/10/26 03:40:12". Empty for the test mail.
    std::string alert;
    SmtpSettings settings;  // as of its latest try
    SmtpMessage message;
    // Recipients that have it, or refused it for good: a later try leaves them out.
    std::vector<std::string> done;
    int attempt = 0;        // tries made so far
    std::int64_t dueUs = 0;  // scheduler time of the next try
    // Told the outcome of the last try, on the engine thread (the test mail's caller).
    std::function<void(const SmtpResult&)> onOutcome;
};

// Thread-safe: the engine puts mails in, TEmailThread takes them out.
class MailOutbox {
public:
    // When the outbox was full, the oldest waiting mail is dropped and returned.
    std::optional<OutgoingMail> push(OutgoingMail mail);
    // Whether a mail's time has come (without taking it).
    bool hasDue(std::int64_t nowUs) const;
    // The first mail whose time has come, if any.
    std::optional<OutgoingMail> takeDue(std::int64_t nowUs);
    std::size_t size() const;

private:
    mutable std::mutex mu_;
    std::deque<OutgoingMail> mails_;
};

}  // namespace raid

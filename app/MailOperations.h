// Operations on the engine's mail side, for any front end: the window's E-mail page,
// raid-gui-monitor's --set and --test-mail, and later clients in another process.
// Each takes typed values and gives a typed outcome; none reads a control, shows a
// box or writes a status-bar panel - what the user is shown of the outcome is the
// caller's to present. All of them are called on the engine thread.
//
//   saveMailSettings  the E-mail page's values in (SettingsEdits); out: saved or not,
//                     the values as the store now holds them, and why nothing was
//                     saved (the text the page shows in its "E-Mail Message" box).
//   sendTestMail      one mail to every recipient of the saved settings. Out at once:
//                     whether it is on its way or why not (no recipient). Out when the
//                     mail server has answered (TEmailThread's dialogue is over): the
//                     SMTP outcome - sent, the error, the refused recipients - given to
//                     `done` on the engine thread. A caller that must wait runs the
//                     engine (the scheduler's pumpUntil) or, from another thread,
//                     waits on what `done` fulfils.
#pragma once

#include <functional>
#include <string>

#include "notify/NotificationSettings.h"
#include "notify/SmtpClient.h"

namespace raid {

class MainForm;

struct MailSaveResult {
    bool saved = false;
    // The values as saved (an empty port or timeout holds its default), or as given
    // when nothing was saved.
    SettingsEdits values;
    std::string problem;  // "" when saved
};

// Saves `values`, writing only what differs from `shown` (what the page showed when it
// was filled: a value another program saved meanwhile stays unless this save changes it).
MailSaveResult saveMailSettings(MainForm& form, SettingsEdits values, const SettingsEdits& shown);
// The same compared with the settings as the engine now holds them (the page as it
// would open): for a front end that edits a few values and keeps the rest.
MailSaveResult saveMailSettings(MainForm& form, SettingsEdits values);

struct TestMailStart {
    bool sending = false;
    std::string problem;  // why no test mail goes out ("" while it is sending)
};
using TestMailDone = std::function<void(const SmtpResult&)>;

TestMailStart sendTestMail(MainForm& form, TestMailDone done = {});

// The page's words for a test mail's start, as the status bar shows them.
inline constexpr const char* kTestMailSending = "Mail is Sending...";
inline constexpr const char* kTestMailFailed = "Send mail Fail!";

}  // namespace raid

// The scenario step "email key=value ...": the E-mail page filled in and saved the
// way a user does it, by typing into the page's fields and pressing OK, so that a
// scenario drives the window's own handlers. The keys, their checks and their
// messages are notify/EmailSettingsWords'; front ends that only want the settings
// saved call saveMailSettings (app/MailOperations.h) instead.
//
// A value with blanks is written in double quotes, where \n is a line break, \" a
// quote and \\ a backslash.
#pragma once

#include <string>

#include "notify/EmailSettingsWords.h"

namespace raid {

class MainForm;

using EmailStep = EmailSettingsWords;

// False with `error` for a malformed step, or one whose values the fields cannot take.
bool parseEmailStep(const std::string& text, EmailStep& out, std::string& error);
// Plays the step through the window's commands, as the user's typing and clicks.
void playEmailStep(MainForm& form, const EmailStep& step);

}  // namespace raid

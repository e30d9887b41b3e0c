// The mail settings as key=value words: raid-gui-monitor's --set and the scenario step
// "email" (app/EmailStep) both read them here, with the same checks and messages, and
// applyEmailSettings turns them into the E-mail page's values.
//
// Keys: port, host, name, addr, timeout, login, password, login-name, to (repeatable:
// the list becomes exactly these addresses), subject1, contents1, subject2, contents2,
// nomail1, nomail2, security. login and nomail take on|off, security none|starttls|tls; port
// and timeout are numbers as typed in the field. Each value is bounded as the page's
// field is (checkEmailSettings).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "notify/NotificationSettings.h"

namespace raid {

struct EmailSettingsWords {
    std::vector<std::pair<std::string, std::string>> fields;  // key, value in the given order
    std::vector<std::string> to;
    bool replaceList = false;
};

// One key and its value into `out`; false with `error` (starting with `who`) for an
// unknown or repeated key, or a switch, choice or number that is none. `seen` holds the
// keys taken so far.
bool addEmailSetting(EmailSettingsWords& out, std::vector<std::string>& seen, const std::string& key,
                     const std::string& value, std::string& error, const std::string& who);
// The same from separate "key=value" words (a command line): each value is taken as it
// stands, blanks and all; "\n" in it is a line break. Errors start with `who`. Only the
// form is checked here; checkEmailSettings checks the values.
bool parseEmailSettings(const std::vector<std::string>& words, EmailSettingsWords& out, std::string& error,
                        const std::string& who = "--set");
// Whether every value fits its field, so that all of them can be saved: no more bytes
// than the field takes, no control character (the contents take line breaks and
// tabs), a port from 1 to 65535, addresses with an "@" and without blanks or angle
// brackets, at most ten recipients.
bool checkEmailSettings(const EmailSettingsWords& words, std::string& error, const std::string& who = "--set");
// The security choice a word names (none, starttls, tls).
std::optional<std::uint32_t> securityFromWord(const std::string& word);
// `values` (the page as opened) with the words typed over it, as the page would take
// them: the list, when given, becomes exactly the non-empty "to" addresses.
void applyEmailSettings(const EmailSettingsWords& words, SettingsEdits& values);

}  // namespace raid

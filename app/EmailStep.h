// The E-mail page filled in and saved without the user's hands: the scenario step
// "email key=value ..." and raid-gui-monitor's --set key=value ... Both type into the
// page's fields and press OK, so the settings are saved exactly as the page saves them.
//
// Keys: port, host, name, addr, timeout, login, password, login-name, to (repeatable:
// the list becomes exactly these addresses), subject1, contents1, subject2, contents2,
// nomail1, nomail2, security. login and nomail take on|off, security none|starttls|tls; port
// and timeout are numbers as typed in the field. A value with blanks is written in
// double quotes, where \n is a line break, \" a quote and \\ a backslash. Each value is
// bounded as the page's field is (checkEmailStep).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace raid {

class MainForm;

struct EmailStep {
    std::vector<std::pair<std::string, std::string>> fields;  // key, value in the step's order
    std::vector<std::string> to;
    bool replaceList = false;
};

// False with `error` for a malformed step.
bool parseEmailStep(const std::string& text, EmailStep& out, std::string& error);
// The same from separate "key=value" words (a command line): each value is taken as it
// stands, blanks and all; "\n" in it is a line break. Errors start with `who`. Only the
// form is checked here; checkEmailStep checks the values.
bool parseEmailSettings(const std::vector<std::string>& words, EmailStep& out, std::string& error,
                        const std::string& who = "--set");
// Whether every value fits its field, so that all of them can be saved: no more bytes
// than the field takes, no control character (the contents take line breaks and
// tabs), a port from 1 to 65535, addresses with an "@" and without blanks or angle
// brackets, at most ten recipients. parseEmailStep checks this too.
bool checkEmailStep(const EmailStep& step, std::string& error, const std::string& who = "--set");
// Plays the step through the window's commands, as the user's typing and clicks.
void playEmailStep(MainForm& form, const EmailStep& step);

}  // namespace raid

// The scenario step "email key=value ...": the user fills the E-mail page and presses OK.
//
// Keys: port, host, name, addr, timeout, login, password, to (repeatable: the list
// becomes exactly these addresses), subject1, contents1, subject2, contents2, nomail1,
// nomail2, security. login and nomail take on|off, security none|starttls|tls; port and timeout are numbers as typed in the
// field. A value with blanks is written in double quotes, where \n is a line break,
// \" a quote and \\ a backslash.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace raid {
class MainForm;
}

namespace raid::sim {

struct EmailStep {
    std::vector<std::pair<std::string, std::string>> fields;  // key, value in the step's order
    std::vector<std::string> to;
    bool replaceList = false;
};

// False with `error` for a malformed step.
bool parseEmailStep(const std::string& text, EmailStep& out, std::string& error);
// Plays the step through the window's commands, as the user's typing and clicks.
void playEmailStep(MainForm& form, const EmailStep& step);

}  // namespace raid::sim

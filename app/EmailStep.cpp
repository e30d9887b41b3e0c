#include "app/EmailStep.h"

#include <algorithm>
#include <array>

#include "app/MainForm.h"

namespace raid {

namespace {

// The field or box each key types into ("" for the list).
const char* keyControl(const std::string& key) {
    static const std::pair<const char*, const char*> kControls[] = {
        {"port", names::Edit1},        {"host", names::Edit2},         {"name", names::Edit3},
        {"addr", names::Edit4},        {"timeout", names::Edit5},      {"password", names::Edit8},
        {"login-name", names::Edit12}, {"subject1", names::Edit10},    {"contents1", names::Memo6},
        {"subject2", names::Edit11},   {"contents2", names::Memo4},    {"login", names::CheckBox8},
        {"nomail1", names::CheckBox2}, {"nomail2", names::CheckBox4}, {"security", names::ComboBox1},
    };
    for (const auto& [k, control] : kControls)
        if (key == k) return control;
    return "";
}

bool isSwitch(const std::string& k) { return k == "login" || k.rfind("nomail", 0) == 0; }

}  // namespace

bool parseEmailStep(const std::string& text, EmailStep& out, std::string& error) {
    out = EmailStep{};
    std::size_t i = 0;
    std::vector<std::string> seen;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) break;
        const std::size_t eq = text.find('=', i);
        const std::size_t blank = text.find_first_of(" \t", i);
        if (eq == std::string::npos || (blank != std::string::npos && blank < eq)) {
            error = "email takes key=value pairs";
            return false;
        }
        const std::string key = text.substr(i, eq - i);
        i = eq + 1;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c != '\\') {
                    value += c;
                    continue;
                }
                if (i >= text.size()) break;
                const char e = text[i++];
                if (e == 'n') value += '\n';
                else if (e == '"' || e == '\\') value += e;
                else {
                    error = "email: unknown escape \\" + std::string(1, e) + " in the value of " + key;
                    return false;
                }
            }
            if (!closed) {
                error = "email: the value of " + key + " has no closing quote";
                return false;
            }
            if (i < text.size() && text[i] != ' ' && text[i] != '\t') {
                error = "email: a blank must follow the quoted value of " + key;
                return false;
            }
        } else {
            const std::size_t end = text.find_first_of(" \t", i);
            value = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? text.size() : end;
        }
        if (!addEmailSetting(out, seen, key, value, error, "email")) return false;
    }
    if (out.fields.empty() && !out.replaceList) {
        error = "email takes at least one key=value";
        return false;
    }
    return checkEmailSettings(out, error, "email");
}

void playEmailStep(MainForm& form, const EmailStep& step) {
    const int subPage = form.EmailSubPage;
    // Opening the page fills it from the settings; the step then types over it.
    form.emailPage().load();
    form.emailPage().refreshSubPage();
    for (const auto& [key, value] : step.fields) {
        const char* control = keyControl(key);
        if (isSwitch(key))
            form.CheckBoxClick(control, value == "on");
        else if (key == "security")
            form.EditChange(control, kSecurityNames[*securityFromWord(value)]);
        else
            form.EditChange(control, value);
    }
    if (step.replaceList) {
        form.emailPage().selectSubPage(kHddFailPage);
        // Row 0 removed until the list is empty, then every address added as typed.
        for (std::size_t guard = 0; !form.emailPage().model().working().empty() && guard < 64; ++guard) {
            form.SelectCell(names::StringGrid1, 0);
            form.Click(names::Image3_1M);
        }
        for (const auto& address : step.to) {
            form.EditChange(names::Edit7, address);
            form.Click(names::Image3_1P);
        }
    }
    form.Click(names::Image3_OK);
    form.emailPage().selectSubPage(subPage);
}

}  // namespace raid

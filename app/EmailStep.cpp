#include "app/EmailStep.h"

#include <algorithm>
#include <array>

#include "app/MainForm.h"

namespace raid {

namespace {

struct Key {
    const char* key;
    const char* control;  // the field, or "" for the switches and the list
    std::size_t limit;    // bytes the field takes (0: any)
};

const std::array<Key, 15> kKeys = {{
    {"port", names::Edit1, kPortLimit},
    {"host", names::Edit2, kHostLimit},
    {"name", names::Edit3, kNameLimit},
    {"addr", names::Edit4, kAddressLimit},
    {"timeout", names::Edit5, kTimeoutLimit},
    {"password", names::Edit8, kPasswordLimit},
    {"login-name", names::Edit12, kLoginNameLimit},
    {"subject1", names::Edit10, kSubjectLimit},
    {"contents1", names::Memo6, kContentsLimit},
    {"subject2", names::Edit11, kSubjectLimit},
    {"contents2", names::Memo4, kContentsLimit},
    {"login", names::CheckBox8, 0},
    {"nomail1", names::CheckBox2, 0},
    {"nomail2", names::CheckBox4, 0},
    {"security", names::ComboBox1, 0},
}};

// The scenario's words for the Setup sub-page's choices.
const char* securityChoice(const std::string& word) {
    if (word == "none") return kSecurityNames[kSecurityNone];
    if (word == "starttls") return kSecurityNames[kSecurityStartTls];
    if (word == "tls") return kSecurityNames[kSecurityTls];
    return nullptr;
}

const Key* findKey(const std::string& k) {
    for (const Key& key : kKeys)
        if (k == key.key) return &key;
    return nullptr;
}

bool isSwitch(const Key& k) { return std::string(k.key) == "login" || std::string(k.key).rfind("nomail", 0) == 0; }

// One key and its value into the step; false with `error` (starting with `who`).
bool addField(EmailStep& out, std::vector<std::string>& seen, const std::string& key, const std::string& value,
              std::string& error, const std::string& who) {
    if (key == "to") {
        out.to.push_back(value);
        out.replaceList = true;
        return true;
    }
    const Key* k = findKey(key);
    if (!k) {
        error = who + ": unknown key '" + key + "'";
        return false;
    }
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
        error = who + ": " + key + " is given twice";
        return false;
    }
    seen.push_back(key);
    if (isSwitch(*k) && value != "on" && value != "off") {
        error = who + ": " + key + " takes on or off";
        return false;
    }
    if (key == "security" && !securityChoice(value)) {
        error = who + ": security takes none, starttls or tls";
        return false;
    }
    if ((key == "port" || key == "timeout") &&
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        error = who + ": " + key + " takes a number";
        return false;
    }
    out.fields.emplace_back(key, value);
    return true;
}

// Why a value cannot go into its field; "" when it can.
std::string valueRefusal(const std::string& key, const std::string& value, std::size_t limit, const std::string& who) {
    // Bytes, as the settings hold them: a character outside ASCII takes two to four.
    if (limit && value.size() > limit)
        return who + ": " + key + " takes at most " + std::to_string(limit) + " bytes (UTF-8), not " +
               std::to_string(value.size());
    const bool contents = key.rfind("contents", 0) == 0;
    if (hasControlCharacter(value, contents)) return who + ": " + key + " holds a control character";
    const bool address = key == "to" || key == "addr";
    if (address && !(key == "addr" && value.empty()) && !isPlainAddress(value))
        return who + ": '" + value + "' is no address (" + key +
               " takes one with an \"@\", in UTF-8, and no blanks or angle brackets)";
    if (key == "port" && !value.empty()) {
        // Digits only, at most five of them (checked above).
        const long port = std::stol(value);
        if (port < 1 || port > 65535) return who + ": port takes a number from 1 to 65535";
    }
    return "";
}

}  // namespace

bool checkEmailStep(const EmailStep& step, std::string& error, const std::string& who) {
    for (const auto& [key, value] : step.fields) {
        const Key* k = findKey(key);
        if (!k || isSwitch(*k) || key == "security") continue;
        error = valueRefusal(key, value, k->limit, who);
        if (!error.empty()) return false;
    }
    // An empty "to=" adds nothing: given alone, it empties the list.
    const auto given = static_cast<std::size_t>(
        std::count_if(step.to.begin(), step.to.end(), [](const std::string& a) { return !a.empty(); }));
    if (given > kMaxRecipients) {
        error = who + ": at most " + std::to_string(kMaxRecipients) + " recipients (" + std::to_string(given) +
                " given)";
        return false;
    }
    for (const auto& address : step.to) {
        if (address.empty()) continue;
        error = valueRefusal("to", address, kAddressLimit, who);
        if (!error.empty()) return false;
    }
    return true;
}

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
        if (!addField(out, seen, key, value, error, "email")) return false;
    }
    if (out.fields.empty() && !out.replaceList) {
        error = "email takes at least one key=value";
        return false;
    }
    return checkEmailStep(out, error, "email");
}

bool parseEmailSettings(const std::vector<std::string>& words, EmailStep& out, std::string& error,
                        const std::string& who) {
    out = EmailStep{};
    std::vector<std::string> seen;
    for (const std::string& word : words) {
        const std::size_t eq = word.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = who + " takes key=value words ('" + word + "' is none)";
            return false;
        }
        std::string value;
        for (std::size_t i = eq + 1; i < word.size(); ++i) {
            if (word[i] == '\\' && i + 1 < word.size() && word[i + 1] == 'n') {
                value += '\n';
                ++i;
            } else {
                value += word[i];
            }
        }
        if (!addField(out, seen, word.substr(0, eq), value, error, who)) return false;
    }
    if (out.fields.empty() && !out.replaceList) {
        error = who + " takes at least one key=value";
        return false;
    }
    return true;
}

void playEmailStep(MainForm& form, const EmailStep& step) {
    const int subPage = form.EmailSubPage;
    // Opening the page fills it from the settings; the step then types over it.
    form.emailPage().load();
    form.emailPage().refreshSubPage();
    for (const auto& [key, value] : step.fields) {
        const Key& k = *findKey(key);
        if (isSwitch(k))
            form.CheckBoxClick(k.control, value == "on");
        else if (key == "security")
            form.EditChange(k.control, securityChoice(value));
        else
            form.EditChange(k.control, value);
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

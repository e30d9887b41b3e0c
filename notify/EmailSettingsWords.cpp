#include "notify/EmailSettingsWords.h"

#include <algorithm>
#include <array>

#include "notify/EmailPageModel.h"

namespace raid {

namespace {

struct Key {
    const char* key;
    std::size_t limit;  // bytes the field takes (0: any)
};

const std::array<Key, 15> kKeys = {{
    {"port", kPortLimit},
    {"host", kHostLimit},
    {"name", kNameLimit},
    {"addr", kAddressLimit},
    {"timeout", kTimeoutLimit},
    {"password", kPasswordLimit},
    {"login-name", kLoginNameLimit},
    {"subject1", kSubjectLimit},
    {"contents1", kContentsLimit},
    {"subject2", kSubjectLimit},
    {"contents2", kContentsLimit},
    {"login", 0},
    {"nomail1", 0},
    {"nomail2", 0},
    {"security", 0},
}};

const Key* findKey(const std::string& k) {
    for (const Key& key : kKeys)
        if (k == key.key) return &key;
    return nullptr;
}

bool isSwitch(const std::string& k) { return k == "login" || k.rfind("nomail", 0) == 0; }

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

std::optional<std::uint32_t> securityFromWord(const std::string& word) {
    if (word == "none") return kSecurityNone;
    if (word == "starttls") return kSecurityStartTls;
    if (word == "tls") return kSecurityTls;
    return std::nullopt;
}

bool addEmailSetting(EmailSettingsWords& out, std::vector<std::string>& seen, const std::string& key,
                     const std::string& value, std::string& error, const std::string& who) {
    if (key == "to") {
        out.to.push_back(value);
        out.replaceList = true;
        return true;
    }
    if (!findKey(key)) {
        error = who + ": unknown key '" + key + "'";
        return false;
    }
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
        error = who + ": " + key + " is given twice";
        return false;
    }
    seen.push_back(key);
    if (isSwitch(key) && value != "on" && value != "off") {
        error = who + ": " + key + " takes on or off";
        return false;
    }
    if (key == "security" && !securityFromWord(value)) {
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

bool checkEmailSettings(const EmailSettingsWords& words, std::string& error, const std::string& who) {
    for (const auto& [key, value] : words.fields) {
        const Key* k = findKey(key);
        if (!k || isSwitch(key) || key == "security") continue;
        error = valueRefusal(key, value, k->limit, who);
        if (!error.empty()) return false;
    }
    // An empty "to=" adds nothing: given alone, it empties the list.
    const auto given = static_cast<std::size_t>(
        std::count_if(words.to.begin(), words.to.end(), [](const std::string& a) { return !a.empty(); }));
    if (given > kMaxRecipients) {
        error = who + ": at most " + std::to_string(kMaxRecipients) + " recipients (" + std::to_string(given) +
                " given)";
        return false;
    }
    for (const auto& address : words.to) {
        if (address.empty()) continue;
        error = valueRefusal("to", address, kAddressLimit, who);
        if (!error.empty()) return false;
    }
    return true;
}

bool parseEmailSettings(const std::vector<std::string>& words, EmailSettingsWords& out, std::string& error,
                        const std::string& who) {
    out = EmailSettingsWords{};
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
        if (!addEmailSetting(out, seen, word.substr(0, eq), value, error, who)) return false;
    }
    if (out.fields.empty() && !out.replaceList) {
        error = who + " takes at least one key=value";
        return false;
    }
    return true;
}

void applyEmailSettings(const EmailSettingsWords& words, SettingsEdits& v) {
    // The fields take what is typed into them as the page does (enteredText).
    const auto field = [](EmailField f, const std::string& value, std::string& into) { into = enteredText(f, value); };
    for (const auto& [key, value] : words.fields) {
        if (key == "port") field(EmailField::Port, value, v.fields[kPort]);
        else if (key == "host") field(EmailField::Host, value, v.fields[kHost]);
        else if (key == "name") field(EmailField::Name, value, v.fields[kSenderName]);
        else if (key == "addr") field(EmailField::Address, value, v.fields[kSenderAddress]);
        else if (key == "timeout") field(EmailField::Timeout, value, v.fields[kTimeout]);
        else if (key == "password") field(EmailField::Password, value, v.fields[kPassword]);
        else if (key == "login-name") field(EmailField::LoginName, value, v.loginName);
        else if (key == "subject1") field(EmailField::Subject1, value, v.subject[0]);
        else if (key == "subject2") field(EmailField::Subject2, value, v.subject[1]);
        else if (key == "contents1") field(EmailField::Contents1, value, v.contents[0]);
        else if (key == "contents2") field(EmailField::Contents2, value, v.contents[1]);
        else if (key == "login") v.loginOn = value == "on";
        else if (key == "nomail1") v.noMailKind1 = value == "on";
        else if (key == "nomail2") v.noMailKind2 = value == "on";
        else if (key == "security") v.security = securityFromWord(value).value_or(v.security);
    }
    if (words.replaceList) {
        v.working.clear();
        for (const std::string& a : words.to)
            if (!a.empty() && v.working.size() < kMaxRecipients) v.working.push_back(a);
    }
}

}  // namespace raid

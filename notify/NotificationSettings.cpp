#include "notify/NotificationSettings.h"

#include <algorithm>
#include <cstdio>

namespace raid {

namespace {

constexpr std::size_t kMaxTextFile = 1 << 20;
const char* const kTextValues[5] = {"Port", "SMTP", "UserName", "Addr", "TimeOut"};

const char* typeName(RegType t) {
    switch (t) {
        case RegType::Sz: return "a string";
        case RegType::Dword: return "a dword";
        case RegType::Binary: return "binary";
    }
    return "?";
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

}  // namespace

std::string NotificationSettings::subjectLine(int kind) const {
    if (kind < 1 || kind > 4) return "";
    const auto& lines = subjects[static_cast<std::size_t>(kind - 1)];
    return lines.empty() ? "" : lines.front();
}

Unscrambled unscramble(const ScrambledPassword& r) {
    const std::uint8_t key = r[16];
    std::array<std::uint8_t, 16> c{};
    unsigned sum = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        c[i] = static_cast<std::uint8_t>(r[i] ^ key ^ ScrambleKey[i % 8]);
        sum += c[i];
    }
    Unscrambled out;
    for (std::size_t i = 0; i < 16; ++i) {
        const auto p = static_cast<std::uint8_t>(c[i] - i);
        if (p == 0) break;
        out.password += static_cast<char>(p);
    }
    const auto check = static_cast<std::uint8_t>((sum & 0xFF) ^ key ^ r[17]);
    if (check == 0) {
        out.authState = 0;
    } else if (check == 1) {
        out.authState = 1;
    } else {
        out.password = "ErrorFormat";
        out.authState = 2;
    }
    return out;
}

ScrambledPassword scramble(const std::string& password, std::uint8_t key, bool loginOn) {
    ScrambledPassword r{};
    const std::size_t n = std::min(password.size(), kPasswordLimit);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        const auto v = static_cast<std::uint8_t>(i < n ? static_cast<std::uint8_t>(password[i]) + i : i);
        r[i] = static_cast<std::uint8_t>(key ^ v ^ ScrambleKey[i % 8]);
        sum += v;
    }
    r[16] = key;
    r[17] = static_cast<std::uint8_t>((sum & 0xFF) ^ key ^ (loginOn ? 1 : 0));
    return r;
}

std::string recipientValueName(std::size_t index) {
    char b[16];
    std::snprintf(b, sizeof b, "ToAddr_%02X", static_cast<unsigned>(index & 0xFF));
    return b;
}

std::string subjectFile(const NotificationSettings& s, int kind) {
    return s.filePath + "EmailSubject " + kAlertKindNames[static_cast<std::size_t>(std::clamp(kind, 1, 4) - 1)] + ".txt";
}

std::string contentsFile(const NotificationSettings& s, int kind) {
    return s.filePath + "EmailContens " + kAlertKindNames[static_cast<std::size_t>(std::clamp(kind, 1, 4) - 1)] + ".txt";
}

void SettingsStore::flushProblems() {
    for (const auto& p : port_.takeProblems())
        if (report_) report_(p);
}

std::optional<RegValue> SettingsStore::typed(const std::string& name, RegType type, std::size_t size) {
    std::optional<RegValue> v = port_.read(name);
    if (!v) return std::nullopt;
    if (v->type != type || (type == RegType::Binary && v->bytes.size() != size)) {
        if (report_)
            report_("Settings value \"" + name + "\" is " + typeName(v->type) +
                    (v->type == RegType::Binary ? " of " + std::to_string(v->bytes.size()) + " bytes" : std::string()) +
                    " where " + typeName(type) +
                    (type == RegType::Binary ? " of " + std::to_string(size) + " bytes" : std::string()) +
                    " belongs; it is not used");
        return std::nullopt;
    }
    return v;
}

std::string SettingsStore::readText(const std::string& name) {
    const auto v = typed(name, RegType::Sz);
    return v ? v->text : std::string();
}

bool SettingsStore::startUp(NotificationSettings& s, const std::string& defaultFilePath) {
    defaultFilePath_ = defaultFilePath;
    s.SettingsKeyExists = port_.keyExists();
    flushProblems();
    // Until a load says otherwise the text files go beside the settings (a save may
    // come before the first load has run).
    s.filePath = defaultFilePath;
    if (!s.SettingsKeyExists) return false;
    const auto names = port_.valueNames();
    const bool hasSend = std::any_of(names.begin(), names.end(), [](const std::string& n) {
        std::string l = n;
        for (char& c : l) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return l == "emailsend";
    });
    if (!hasSend) {
        const std::string error = port_.write("EMailSend", RegValue::number(0));
        if (!error.empty() && report_) report_("Settings: " + error);
    }
    s.suppressMask = 0;
    return true;
}

std::optional<std::uint32_t> securityFromName(const std::string& name) {
    for (std::size_t i = 0; i < kSecurityNames.size(); ++i)
        if (name == kSecurityNames[i]) return static_cast<std::uint32_t>(i);
    return std::nullopt;
}

std::vector<std::string> SettingsStore::readLines(const std::string& path) {
    const BoundedRead r = files_.readBounded(path, kMaxTextFile);
    switch (r.status) {
        case ReadStatus::ok: return splitLines(r.text);
        case ReadStatus::missing: return {};
        case ReadStatus::unreadable: if (report_) report_(path + ": cannot be read"); return {};
        case ReadStatus::notRegular: if (report_) report_(path + ": not a regular file; not read"); return {};
        case ReadStatus::tooLarge: if (report_) report_(path + ": larger than 1 MiB; not read"); return {};
    }
    return {};
}

void SettingsStore::load(NotificationSettings& s, const std::function<void()>& turn) {
    const auto count = typed("ToAddrCount", RegType::Dword);
    // The count is a signed number in the store; anything outside the list's room is
    // taken as the nearest count the list can have.
    const std::int32_t n = count ? static_cast<std::int32_t>(count->dword) : 0;
    s.recipientCount = std::clamp<std::int32_t>(n, 0, static_cast<std::int32_t>(kMaxRecipients));
    if (count && s.recipientCount != n && report_)
        report_("Settings value \"ToAddrCount\" is " + std::to_string(n) + "; " + std::to_string(s.recipientCount) +
                " recipients are read");
    const auto send = typed("EMailSend", RegType::Dword);
    s.suppressMask = send ? send->dword : 0;
    const auto security = typed("Security", RegType::Dword);
    s.security = security ? security->dword : kSecurityNone;
    if (s.security > kSecurityTls) {
        // Unknown protection: no mail goes out in clear text on a guess.
        if (report_)
            report_("Settings value \"Security\" is " + std::to_string(s.security) +
                    "; mail needs TLS from the first byte until it is set again");
        s.security = kSecurityTls;
    }
    const std::string path = readText("FilePath");
    // Without a folder of their own the text files stay beside the settings, never in
    // whatever folder the program happens to run in.
    s.filePath = path.empty() ? defaultFilePath_ : path;

    for (auto& field : s.connection) field.clear();
    for (std::size_t i = 0; i < 5; ++i) s.connection[i] = readText(kTextValues[i]);

    const auto record = typed("ProductID", RegType::Binary, 18);
    if (record) {
        ScrambledPassword r{};
        std::copy(record->bytes.begin(), record->bytes.end(), r.begin());
        const Unscrambled u = unscramble(r);
        s.connection[kPassword] = u.password;
        s.authState = u.authState;
        s.keyByte = r[16];
    } else {
        s.connection[kPassword].clear();
        s.authState = 0;
    }

    s.recipients.clear();
    for (std::int32_t i = 0; i < s.recipientCount; ++i) {
        const auto v = typed(recipientValueName(static_cast<std::size_t>(i)), RegType::Sz);
        if (v) {
            s.recipients.push_back(v->text);
        } else if (report_) {
            report_("Settings value \"" + recipientValueName(static_cast<std::size_t>(i)) + "\" is missing");
        }
    }
    for (int k = 1; k <= 4; ++k) {
        if (turn) turn();
        s.subjects[static_cast<std::size_t>(k - 1)] = readLines(subjectFile(s, k));
        s.contents[static_cast<std::size_t>(k - 1)] = readLines(contentsFile(s, k));
    }
    flushProblems();
    s.loaded = true;
}

bool SettingsStore::writeLines(const std::string& path, const std::string& text) {
    std::string data;
    for (const auto& line : splitLines(text)) data += line + "\r\n";
    return files_.replace(path, data);
}

std::string SettingsStore::save(NotificationSettings& s, SettingsEdits& e) {
    if (e.fields[kPort].empty()) {
        e.fields[kPort] = "25";
        e.dirty |= kDirtyPort;
    }
    if (e.fields[kTimeout].empty()) {
        e.fields[kTimeout] = "0";
        e.dirty |= kDirtyTimeout;
    }
    const std::size_t m = e.working.size();
    const bool existed = s.SettingsKeyExists;
    const auto write = [this](const std::string& name, const RegValue& v) { return port_.write(name, v); };

    for (std::size_t i = 0; i < 5; ++i) {
        if (existed && !(e.dirty & (1u << i))) continue;
        if (auto error = write(kTextValues[i], RegValue::sz(e.fields[i])); !error.empty()) return error;
    }
    s.suppressMask = (s.suppressMask & ~3u) | (e.noMailKind1 ? 1u : 0u) | (e.noMailKind2 ? 2u : 0u);
    if (auto error = write("EMailSend", RegValue::number(s.suppressMask)); !error.empty()) return error;
    // Written only when it changes, so a store that never had it stays as it was.
    if (e.security != s.security) {
        if (auto error = write("Security", RegValue::number(e.security)); !error.empty()) return error;
        s.security = e.security;
    }

    if (e.loginOn != ((s.authState & 1) != 0)) e.dirty |= kDirtyPassword;
    if (e.dirty != 0 || !existed) {
        const ScrambledPassword r = scramble(e.fields[kPassword], s.keyByte, e.loginOn);
        if (auto error = write("ProductID", RegValue::binary({r.begin(), r.end()})); !error.empty()) return error;
    }

    if (e.working != s.recipients) {
        if (auto error = write("ToAddrCount", RegValue::number(static_cast<std::uint32_t>(m))); !error.empty())
            return error;
        for (std::size_t i = 0; i < m; ++i)
            if (auto error = write(recipientValueName(i), RegValue::sz(e.working[i])); !error.empty()) return error;
    } else if (!existed) {
        if (auto error = write("ToAddrCount", RegValue::number(static_cast<std::uint32_t>(m))); !error.empty())
            return error;
    }
    if (auto error = write("FilePath", RegValue::sz(s.filePath)); !error.empty()) return error;

    for (int k = 1; k <= 2; ++k) {
        const auto idx = static_cast<std::size_t>(k - 1);
        const std::string subjectPath = subjectFile(s, k);
        if (!e.subject[idx].empty()) {
            s.subjects[idx] = {e.subject[idx]};
            if (!writeLines(subjectPath, e.subject[idx])) return subjectPath + ": cannot be written";
        } else if (files_.exists(subjectPath) && !files_.remove(subjectPath)) {
            return subjectPath + ": cannot be deleted";
        }
        const std::string contentsPath = contentsFile(s, k);
        if (!e.contents[idx].empty()) {
            if (!writeLines(contentsPath, e.contents[idx])) return contentsPath + ": cannot be written";
        } else if (files_.exists(contentsPath) && !files_.remove(contentsPath)) {
            return contentsPath + ": cannot be deleted";
        }
    }
    s.loaded = false;
    s.SettingsKeyExists = true;
    return "";
}

}  // namespace raid

#include "notify/NotificationSettings.h"

#include <algorithm>
#include <cstdio>

#include "notify/MailFormat.h"

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

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string t;
    for (std::size_t i = 0; i < lines.size(); ++i) t += (i ? "\n" : "") + lines[i];
    return t;
}

// The labels the page shows for the connection fields, in their order.
const char* const kFieldLabels[6] = {"Port",           "E-Mail Host (SMTP)", "Name",
                                     "E-Mail Address", "Time Out",           "SMTP Login Authentication password"};
const std::size_t kFieldLimits[6] = {kPortLimit, kHostLimit, kNameLimit, kAddressLimit, kTimeoutLimit, kPasswordLimit};

// Why a value this save writes may not be saved; "" when it may.
std::string refusal(const std::string& label, const std::string& value, std::size_t limit, bool lines = false) {
    if (value.size() > limit)
        return label + " takes at most " + std::to_string(limit) + " bytes (UTF-8); nothing was saved";
    if (hasControlCharacter(value, lines)) return label + " holds a control character; nothing was saved";
    return "";
}

std::string checkEdits(const SettingsEdits& e, const SettingsEdits& shown) {
    for (std::size_t i = 0; i < 6; ++i) {
        if (e.fields[i] == shown.fields[i]) continue;
        if (auto why = refusal(kFieldLabels[i], e.fields[i], kFieldLimits[i]); !why.empty()) return why;
    }
    if (e.loginName != shown.loginName)
        if (auto why = refusal("Login Name", e.loginName, kLoginNameLimit); !why.empty()) return why;
    if (e.working != shown.working) {
        if (e.working.size() > kMaxRecipients)
            return "At most " + std::to_string(kMaxRecipients) + " recipients; nothing was saved";
        for (const auto& address : e.working) {
            if (auto why = refusal("A recipient address", address, kAddressLimit); !why.empty()) return why;
            // The page takes no other (addAddress), but a save may come from another
            // front end: what cannot stand inside "RCPT TO:<...>" is never stored.
            if (!isPlainAddress(address))
                return "A recipient address needs an \"@\" and no blanks or angle brackets; nothing was saved";
        }
    }
    for (std::size_t k = 0; k < 2; ++k) {
        if (e.subject[k] != shown.subject[k])
            if (auto why = refusal("Subject", e.subject[k], kSubjectLimit); !why.empty()) return why;
        if (e.contents[k] != shown.contents[k])
            if (auto why = refusal("Contents", e.contents[k], kContentsLimit, true); !why.empty()) return why;
    }
    return "";
}

// A stored text as a message may show it: control characters as "?", and cut short
// (a value may be as long as the file).
std::string shownText(const std::string& text) {
    constexpr std::size_t kShown = 200;
    std::string t = cutToLimit(text, kShown);
    for (char& c : t)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return t.size() < text.size() ? t + "..." : t;
}

}  // namespace

bool hasControlCharacter(std::string_view text, bool lines) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (lines && (b == '\n' || b == '\t')) continue;
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

bool isPlainAddress(std::string_view address) {
    // Whether the server takes an address outside ASCII is known only when sending
    // (SMTPUTF8); a well-formed one is taken here, broken UTF-8 never.
    return address.find('@') != std::string_view::npos && sendableAddress(address);
}

std::string cutToLimit(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t end = limit;
    // Back to the first byte of the character the limit falls in.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

SettingsEdits shownEdits(const NotificationSettings& s) {
    SettingsEdits e;
    if (!s.SettingsKeyExists) {
        e.fields[kPort] = "25";
        e.fields[kTimeout] = "0";
        return e;
    }
    e.fields = s.connection;
    e.loginOn = (s.authState & 1) != 0;
    e.noMailKind1 = (s.suppressMask & 1) != 0;
    e.noMailKind2 = (s.suppressMask & 2) != 0;
    e.security = std::min(s.security, kSecurityTls);
    e.loginName = s.loginName;
    e.working = s.recipients;
    e.subject = {s.subjectLine(1), s.subjectLine(2)};
    e.contents = {joinedLines(s.contents[0]), joinedLines(s.contents[1])};
    return e;
}

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
    // The entry refuses longer passwords; one read from a record of another program
    // may hold 16 bytes, and is then cut where a character begins.
    const std::size_t n = cutToLimit(password, kPasswordLimit).size();
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
        // Only where it is still missing when written: another program may have set it.
        const std::string error = port_.update({SettingsUpdate::ifMissing("EMailSend", RegValue::number(0))});
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
    // whatever folder the program happens to run in. A folder that does not start at
    // the root (a Windows "C:\..." read here, a relative one) would be just that: the
    // default is taken instead, and said once for each such value, not at every load.
    // The value itself stays in the store as it was written.
    if (path.empty() || isAbsolutePath(path)) {
        s.filePath = path.empty() ? defaultFilePath_ : path;
        refusedFilePath_.reset();
    } else {
        s.filePath = defaultFilePath_;
        if (refusedFilePath_ != path && report_)
            report_("Settings value \"FilePath\" is \"" + shownText(path) +
                    "\", not a full path; the subject and contents files are kept in " +
                    defaultFilePath_);
        refusedFilePath_ = path;
    }

    for (auto& field : s.connection) field.clear();
    for (std::size_t i = 0; i < 5; ++i) s.connection[i] = readText(kTextValues[i]);
    s.loginName = readText("LoginName");

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

std::string SettingsStore::save(NotificationSettings& s, SettingsEdits& e, const SettingsEdits& shown) {
    if (e.fields[kPort].empty()) {
        e.fields[kPort] = "25";
        e.dirty |= kDirtyPort;
    }
    if (e.fields[kTimeout].empty()) {
        e.fields[kTimeout] = "0";
        e.dirty |= kDirtyTimeout;
    }
    if (e.loginOn != ((s.authState & 1) != 0)) e.dirty |= kDirtyPassword;
    if (auto why = checkEdits(e, shown); !why.empty()) return why;
    const std::size_t m = e.working.size();
    // The first save makes the key: what it does not change it writes where the store
    // holds nothing yet.
    const bool existed = s.SettingsKeyExists;
    std::vector<SettingsUpdate> updates;
    const auto unchanged = [&](const std::string& name, RegValue v) {
        if (!existed) updates.push_back(SettingsUpdate::ifMissing(name, std::move(v)));
    };

    for (std::size_t i = 0; i < 5; ++i) {
        if (e.fields[i] != shown.fields[i])
            updates.push_back(SettingsUpdate::set(kTextValues[i], RegValue::sz(e.fields[i])));
        else
            unchanged(kTextValues[i], RegValue::sz(e.fields[i]));
    }
    // The page shows two bits of the mask: only those the user changed are set, on the
    // mask as the store holds it now.
    const std::uint32_t wanted = (e.noMailKind1 ? 1u : 0u) | (e.noMailKind2 ? 2u : 0u);
    const std::uint32_t changedBits =
        (e.noMailKind1 != shown.noMailKind1 ? 1u : 0u) | (e.noMailKind2 != shown.noMailKind2 ? 2u : 0u);
    if (changedBits != 0 || !existed) {
        const std::uint32_t own = (s.suppressMask & ~3u) | wanted;
        updates.push_back({"EMailSend", [own, wanted, changedBits](const std::optional<RegValue>& now) {
                               if (!now || now->type != RegType::Dword)
                                   return std::optional<RegValue>(RegValue::number(own));
                               if (changedBits == 0) return std::optional<RegValue>();
                               return std::optional<RegValue>(
                                   RegValue::number((now->dword & ~changedBits) | (wanted & changedBits)));
                           }});
    }
    // Written only when it changes, so a store that never had it stays as it was.
    if (e.security != shown.security) updates.push_back(SettingsUpdate::set("Security", RegValue::number(e.security)));
    if (e.loginName != shown.loginName) updates.push_back(SettingsUpdate::set("LoginName", RegValue::sz(e.loginName)));

    const ScrambledPassword record = scramble(e.fields[kPassword], s.keyByte, e.loginOn);
    const RegValue recordValue = RegValue::binary({record.begin(), record.end()});
    if (e.fields[kPassword] != shown.fields[kPassword] || e.loginOn != shown.loginOn)
        updates.push_back(SettingsUpdate::set("ProductID", recordValue));
    else
        unchanged("ProductID", recordValue);

    if (e.working != shown.working) {
        updates.push_back(SettingsUpdate::set("ToAddrCount", RegValue::number(static_cast<std::uint32_t>(m))));
        for (std::size_t i = 0; i < m; ++i)
            updates.push_back(SettingsUpdate::set(recipientValueName(i), RegValue::sz(e.working[i])));
    } else {
        unchanged("ToAddrCount", RegValue::number(static_cast<std::uint32_t>(m)));
    }
    // The page does not edit the folder: it is written where the store has none.
    updates.push_back(SettingsUpdate::ifMissing("FilePath", RegValue::sz(s.filePath)));

    // The text files this save changes, each with what it held, to be put back when
    // the values cannot be saved.
    struct TextFile {
        std::string path, text;  // text "" with `remove`: the file goes
        bool remove = false;
        BoundedRead before;
    };
    std::vector<TextFile> texts;
    for (int k = 1; k <= 2; ++k) {
        const auto idx = static_cast<std::size_t>(k - 1);
        if (e.subject[idx] != shown.subject[idx])
            texts.push_back({subjectFile(s, k), e.subject[idx], e.subject[idx].empty(), {}});
        if (e.contents[idx] != shown.contents[idx])
            texts.push_back({contentsFile(s, k), e.contents[idx], e.contents[idx].empty(), {}});
    }
    const auto putBack = [this](const std::vector<TextFile>& done) {
        for (const TextFile& t : done) {
            if (t.before.status == ReadStatus::ok)
                files_.replace(t.path, t.before.text);
            else if (t.before.status == ReadStatus::missing && files_.exists(t.path))
                files_.remove(t.path);
        }
    };
    std::vector<TextFile> done;
    for (TextFile& t : texts) {
        t.before = files_.readBounded(t.path, kMaxTextFile);
        std::string error;
        if (!t.remove && !writeLines(t.path, t.text))
            error = t.path + ": cannot be written; nothing was saved";
        else if (t.remove && files_.exists(t.path) && !files_.remove(t.path))
            error = t.path + ": cannot be deleted; nothing was saved";
        if (!error.empty()) {
            putBack(done);
            return error;
        }
        done.push_back(t);
    }
    if (const std::string error = port_.update(updates); !error.empty()) {
        putBack(done);
        return error;
    }

    for (int k = 1; k <= 2; ++k) {
        const auto idx = static_cast<std::size_t>(k - 1);
        if (e.subject[idx] != shown.subject[idx])
            s.subjects[idx] =
                e.subject[idx].empty() ? std::vector<std::string>{} : std::vector<std::string>{e.subject[idx]};
        if (e.contents[idx] != shown.contents[idx]) s.contents[idx] = splitLines(e.contents[idx]);
    }
    if (const auto mask = port_.read("EMailSend"); mask && mask->type == RegType::Dword) s.suppressMask = mask->dword;
    if (e.security != shown.security) s.security = e.security;
    if (e.loginName != shown.loginName) s.loginName = e.loginName;
    s.loaded = false;
    s.SettingsKeyExists = true;
    return "";
}

}  // namespace raid

#include "notify/EmailPageModel.h"

#include <algorithm>
#include <string_view>

namespace raid {

namespace {

constexpr EmailField kConnection[6] = {EmailField::Port,    EmailField::Host,    EmailField::Name,
                                       EmailField::Address, EmailField::Timeout, EmailField::Password};

std::uint8_t dirtyBit(EmailField f) {
    for (std::size_t i = 0; i < 6; ++i)
        if (kConnection[i] == f) return static_cast<std::uint8_t>(1u << i);
    return f == EmailField::LoginName ? kDirtyLoginName : 0;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string t;
    for (std::size_t i = 0; i < lines.size(); ++i) t += (i ? "\n" : "") + lines[i];
    return t;
}

}  // namespace

std::size_t emailFieldLimit(EmailField field) {
    switch (field) {
        case EmailField::Port: return kPortLimit;
        case EmailField::Host: return kHostLimit;
        case EmailField::Name: return kNameLimit;
        case EmailField::Timeout: return kTimeoutLimit;
        case EmailField::Password: return kPasswordLimit;
        case EmailField::LoginName: return kLoginNameLimit;
        case EmailField::Address:
        case EmailField::NewAddress1:
        case EmailField::NewAddress2: return kAddressLimit;
        case EmailField::Subject1:
        case EmailField::Subject2: return kSubjectLimit;
        case EmailField::Contents1:
        case EmailField::Contents2: return kContentsLimit;
        default: return 0;
    }
}

std::string enteredText(EmailField field, const std::string& text) {
    const std::size_t limit = emailFieldLimit(field);
    if (limit == 0) return text;  // the lists and the choice: not typed
    const bool memo = field == EmailField::Contents1 || field == EmailField::Contents2;
    std::string clean;
    clean.reserve(std::min(text.size(), limit + 1));
    for (const char c : text) {
        // A memo keeps its line breaks (as line feeds) and tabs.
        if (!hasControlCharacter(std::string_view(&c, 1), memo)) clean += c;
        if (clean.size() > limit) break;
    }
    return cutToLimit(clean, limit);
}

std::string entryRefusal(EmailField field, const std::string& text) {
    if (field != EmailField::Password) return "";
    const auto bytes = static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !hasControlCharacter(std::string_view(&c, 1)); }));
    if (bytes <= kPasswordLimit) return "";
    return "SMTP Login Authentication password takes at most " + std::to_string(kPasswordLimit) +
           " bytes (UTF-8), not " + std::to_string(bytes) + "; it was not changed";
}

std::string EmailPageModel::typed(EmailField field, const std::string& before, const std::string& text) {
    if (const std::string why = entryRefusal(field, text); !why.empty()) {
        view_.message(why, "E-Mail Message");
        text_[static_cast<std::size_t>(field)] = before;
        return before;
    }
    fieldChanged(field);
    std::string entered = enteredText(field, text);
    text_[static_cast<std::size_t>(field)] = entered;
    return entered;
}

void EmailPageModel::put(EmailField field, const std::string& text) {
    text_[static_cast<std::size_t>(field)] = text;
    view_.setText(field, text);
}

void EmailPageModel::putChecked(EmailBox box, bool on) {
    box_[static_cast<std::size_t>(box)] = on;
    view_.setChecked(box, on);
}

void EmailPageModel::setField(EmailField field, const std::string& t) {
    // A change of a connection field marks it, whoever made it; the same text is no change.
    if (text(field) == t) return;
    put(field, t);
    fieldChanged(field);
}

void EmailPageModel::fieldChanged(EmailField field) { dirty_ |= dirtyBit(field); }

void EmailPageModel::redrawGrids() {
    put(EmailField::Working, joined(working_));
    view_.setRows(working_);
}

SettingsEdits EmailPageModel::values() const {
    SettingsEdits e;
    for (std::size_t i = 0; i < 6; ++i) e.fields[i] = text(kConnection[i]);
    e.loginOn = checked(EmailBox::Login);
    e.noMailKind1 = checked(EmailBox::NoMail1);
    e.noMailKind2 = checked(EmailBox::NoMail2);
    e.working = working_;
    e.security = securityFromName(text(EmailField::Security)).value_or(shown_.security);
    e.loginName = text(EmailField::LoginName);
    e.subject = {text(EmailField::Subject1), text(EmailField::Subject2)};
    e.contents = {text(EmailField::Contents1), text(EmailField::Contents2)};
    e.dirty = dirty_;
    return e;
}

void EmailPageModel::fill(const NotificationSettings& s, bool boxes) {
    fillFields(s, boxes);
    // What a save compares with: the page as now shown. Boxes that kept their state
    // keep what they were compared with.
    const SettingsEdits before = shown_;
    shown_ = values();
    if (!s.SettingsKeyExists)
        shown_.security = kSecurityNone;
    else
        shown_.security = std::min(s.security, kSecurityTls);
    if (!boxes) {
        shown_.noMailKind1 = before.noMailKind1;
        shown_.noMailKind2 = before.noMailKind2;
    }
}

void EmailPageModel::fillFields(const NotificationSettings& s, bool boxes) {
    if (s.SettingsKeyExists) {
        for (std::size_t i = 0; i < 6; ++i) setField(kConnection[i], s.connection[i]);
        setField(EmailField::LoginName, s.loginName);
        if (boxes) {
            putChecked(EmailBox::NoMail1, (s.suppressMask & 1) != 0);
            putChecked(EmailBox::NoMail2, (s.suppressMask & 2) != 0);
        }
        put(EmailField::Security, kSecurityNames[std::min<std::size_t>(s.security, kSecurityTls)]);
        const bool login = (s.authState & 1) != 0;
        putChecked(EmailBox::Login, login);
        view_.setLoginFieldsVisible(login);
        put(EmailField::Subject1, s.subjectLine(1));
        put(EmailField::Subject2, s.subjectLine(2));
        put(EmailField::Contents1, joined(s.contents[0]));
        put(EmailField::Contents2, joined(s.contents[1]));
        working_ = s.recipients;
        redrawGrids();
    } else {
        setField(EmailField::Port, "25");
        setField(EmailField::Timeout, "0");
        put(EmailField::Security, kSecurityNames[kSecurityNone]);
        putChecked(EmailBox::Login, false);
        view_.setLoginFieldsVisible(false);
    }
}

void EmailPageModel::open(const NotificationSettings& s) { fill(s, true); }

void EmailPageModel::showSubPage() {
    put(EmailField::NewAddress1, "");
    put(EmailField::NewAddress2, "");
}

void EmailPageModel::addAddress(int subPage) {
    if (subPage != kHddFailPage && subPage != kDeviceRemovePage) return;
    const EmailField field = subPage == kHddFailPage ? EmailField::NewAddress1 : EmailField::NewAddress2;
    const std::string address = text(field);
    if (address.empty() || working_.size() >= kMaxRecipients) return;
    // Nothing that cannot stand inside "RCPT to:<...>" is taken: no control character,
    // blank or angle bracket, no broken UTF-8. Whether the server takes an address
    // outside ASCII is known only when sending.
    if (isPlainAddress(address) && address.size() <= kAddressLimit) {
        working_.push_back(address);
        redrawGrids();
    } else {
        view_.message("E-Mail Address formula error!", "E-Mail Message");
    }
    put(field, "");
}

void EmailPageModel::removeAddress(int subPage) {
    if (subPage != kHddFailPage && subPage != kDeviceRemovePage) return;
    const int grid = subPage == kHddFailPage ? 0 : 1;
    const int r = rows_[static_cast<std::size_t>(grid)];
    if (r < 0 || static_cast<std::size_t>(r) >= working_.size()) return;
    working_.erase(working_.begin() + r);
    put(grid == 0 ? EmailField::NewAddress1 : EmailField::NewAddress2, "");
    redrawGrids();
}

void EmailPageModel::selectRow(int grid, int row) {
    if (row < 0 || row >= static_cast<int>(kMaxRecipients)) return;
    rows_[grid == 1 ? 1 : 0] = row;
    const std::string shownRow = static_cast<std::size_t>(row) < working_.size() ? working_[static_cast<std::size_t>(row)] : "";
    put(grid == 1 ? EmailField::NewAddress2 : EmailField::NewAddress1, shownRow);
}

void EmailPageModel::loginSwitched(bool on) {
    box_[static_cast<std::size_t>(EmailBox::Login)] = on;
    view_.setLoginFieldsVisible(on);
}

void EmailPageModel::boxClicked(EmailBox box, bool on) {
    if (box == EmailBox::Login) loginSwitched(on);
    else box_[static_cast<std::size_t>(box)] = on;
}

SettingsEdits EmailPageModel::valuesToSave() {
    if (text(EmailField::Port).empty()) setField(EmailField::Port, "25");
    if (text(EmailField::Timeout).empty()) setField(EmailField::Timeout, "0");
    // A name the page does not offer keeps what was shown.
    return values();
}

void EmailPageModel::saveEnded(const SettingsEdits& e, bool saved) {
    dirty_ = e.dirty;
    // What the store now holds for the page's values: the next save compares with it.
    if (saved) shown_ = e;
}

std::string EmailPageModel::save(NotificationSettings& s, SettingsStore& store) {
    SettingsEdits e = valuesToSave();
    const std::string error = store.save(s, e, shown_);
    saveEnded(e, error.empty());
    if (!error.empty()) view_.message(error, "E-Mail Message");
    return error;
}

void EmailPageModel::discard(const NotificationSettings& s) {
    fill(s, false);
    showSubPage();
    dirty_ = 0;
}

}  // namespace raid

// The E-mail page: the working recipient list, the dirty bits and the page's rules for
// opening, adding and removing addresses, saving and discarding.
//
// The model holds the page's values (the working copy); EmailPageView is where it
// publishes them for the window to draw, and is never read back. Whatever changes a
// field or a box - the user's typing, a scenario, opening the page - tells the model.
// The model knows no control names.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "notify/NotificationSettings.h"

namespace raid {

enum class EmailField {
    Port,         // Edit1
    Host,         // Edit2
    Name,         // Edit3
    Address,      // Edit4
    Timeout,      // Edit5
    Password,     // Edit8
    NewAddress1,  // Edit7, on "HDD_Fail"
    NewAddress2,  // Edit6, on "DeviceRemove"
    Subject1,     // Edit10
    Subject2,     // Edit11
    Contents1,    // Memo6
    Contents2,    // Memo4
    Working,      // the hidden list holding the working copy
    Security,     // ComboBox1: one of kSecurityNames
    LoginName,    // Edit12, shown with the password; "" logs in with the address before "@"
};
inline constexpr std::size_t kEmailFieldCount = 15;

enum class EmailBox { Login, NoMail1, NoMail2 };  // CheckBox8, CheckBox2, CheckBox4

class EmailPageView {
public:
    virtual ~EmailPageView() = default;
    virtual void setText(EmailField field, const std::string& text) = 0;
    virtual void setChecked(EmailBox box, bool on) = 0;
    // Both grids: the working list, one address a row.
    virtual void setRows(const std::vector<std::string>& rows) = 0;
    // The password and the login name, shown only while login is on.
    virtual void setLoginFieldsVisible(bool visible) = 0;
    virtual void message(const std::string& text, const std::string& caption) = 0;
};

// Sub-pages of the E-mail page.
enum EmailSubPageIndex { kSetupPage = 0, kHddFailPage = 1, kDeviceRemovePage = 2 };

// How many bytes a field takes (0: no limit of its own).
std::size_t emailFieldLimit(EmailField field);
// Text typed or pasted into a field as the field takes it: control characters left
// out (a memo keeps line feeds and tabs), cut to the field's limit.
std::string enteredText(EmailField field, const std::string& text);
// Why `text` may not go into `field` at all ("" when it may): a password longer than
// the record holds. A cut would store, and send, another password than the one typed.
std::string entryRefusal(EmailField field, const std::string& text);

class EmailPageModel {
public:
    explicit EmailPageModel(EmailPageView& view) : view_(view) {}

    // Image_EmailClick: fills the page from the settings (or the defaults without a key).
    void open(const NotificationSettings& s);
    // Choosing a sub-page empties both address fields.
    void showSubPage();
    // Opening and discarding end with the fields as loaded: nothing changed yet.
    void clearDirty() { dirty_ = 0; }
    // Image3_1P / Image3_2P on sub-page `subPage`.
    void addAddress(int subPage);
    // Image3_1M / Image3_2M.
    void removeAddress(int subPage);
    // StringGrid1SelectCell / StringGrid2SelectCell.
    void selectRow(int grid, int row);
    // CheckBox8Click.
    void loginSwitched(bool on);
    // CheckBox2Click / CheckBox4Click.
    void boxClicked(EmailBox box, bool on);
    // A connection field's text changed (the user's typing or the system's).
    void fieldChanged(EmailField field);
    // The user typed or pasted `text` into `field`, which held `before`: what the field
    // is to hold now. Text the field cannot take whole is cut (enteredText); where a
    // cut is no answer (entryRefusal) the field keeps `before` and a box says why.
    std::string typed(EmailField field, const std::string& before, const std::string& text);
    // Image3_OKClick, first half: the page's values as a save takes them (an empty port
    // or timeout is filled with its default, on the page too).
    SettingsEdits valuesToSave();
    // Second half: `values` as the save left them; when `saved`, the next save compares
    // with them.
    void saveEnded(const SettingsEdits& values, bool saved);
    // Both halves around the store's save. Returns "" or the error text the save ended
    // with (shown already).
    std::string save(NotificationSettings& s, SettingsStore& store);
    // Image3_IgnoreClick.
    void discard(const NotificationSettings& s);

    const std::vector<std::string>& working() const { return working_; }
    // The page's values as they stand, and what a save compares them with.
    SettingsEdits values() const;
    const SettingsEdits& shown() const { return shown_; }
    const std::string& text(EmailField field) const { return text_[static_cast<std::size_t>(field)]; }
    bool checked(EmailBox box) const { return box_[static_cast<std::size_t>(box)]; }
    std::uint8_t dirty() const { return dirty_; }
    int row(int grid) const { return rows_[grid == 1 ? 1 : 0]; }

private:
    void fill(const NotificationSettings& s, bool boxes);
    void fillFields(const NotificationSettings& s, bool boxes);
    void setField(EmailField field, const std::string& text);
    // Held and published.
    void put(EmailField field, const std::string& text);
    void putChecked(EmailBox box, bool on);
    void redrawGrids();

    EmailPageView& view_;
    std::vector<std::string> working_;
    std::uint8_t dirty_ = 0;
    std::array<int, 2> rows_{};
    SettingsEdits shown_;  // the page as filled, or as last saved
    std::array<std::string, kEmailFieldCount> text_{};
    std::array<bool, 3> box_{};
};

}  // namespace raid

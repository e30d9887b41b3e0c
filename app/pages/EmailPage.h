// The E-mail page's engine side: its handlers, which turn clicks into the mail
// operations (app/MailOperations) and present their outcomes, and the page's values,
// held by notify/EmailPageModel and published to the window's controls. The settings
// and their store are notify/NotificationSettings'.
#pragma once

#include <memory>
#include <string>

#include "app/ServiceFeed.h"
#include "app/pages/HandlerTable.h"
#include "notify/EmailPageModel.h"

namespace raid {

class MainForm;

class EmailPage final : private EmailPageView {
public:
    explicit EmailPage(MainForm& form);
    void registerHandlers(HandlerTable& table);
    // Image_EmailClick: fills the page from the settings.
    void load();
    // Shows the chosen sub-page with empty address fields and clears the dirty bits
    // (the end of opening the page).
    void refreshSubPage();
    void selectSubPage(int index);
    // The window's typing, check boxes and grid rows on this page. False when the
    // control is not one of the page's.
    // `text`: what was typed or pasted into the control.
    bool editChanged(const std::string& control, const std::string& text);
    bool checkBoxClicked(const std::string& control, bool checked);
    bool cellSelected(const std::string& control, int row);

    const EmailPageModel& model() const { return model_; }

private:
    // EmailPageView: the model's values published to the window's controls.
    void setText(EmailField field, const std::string& text) override;
    void setRows(const std::vector<std::string>& rows) override;
    void setChecked(EmailBox box, bool on) override;
    void setLoginFieldsVisible(bool visible) override;
    void message(const std::string& text, const std::string& caption) override;

    void okClick();
    void ignoreClick();
    void testMailClick();
    // A client window: the settings are the service's, asked for and saved there.
    void askService();
    void serviceSaved(const ServiceMailAnswer& answer, const SettingsEdits& values, unsigned opened);
    void serviceTestMail(const ServiceMailAnswer& answer);

    MainForm& form_;
    EmailPageModel model_{*this};
    // Each opening of the page counts: a save answered after the page was opened anew
    // leaves the new page's fields alone.
    unsigned opened_ = 0;
};

// The control that holds a field of the page.
const char* emailControl(EmailField field);

}  // namespace raid

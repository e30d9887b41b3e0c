#include "app/pages/EmailPage.h"

#include "app/MailOperations.h"
#include "app/MainForm.h"
#include "app/ServiceFeed.h"
#include "app/ViewOperations.h"

namespace raid {

namespace {

struct FieldName {
    EmailField field;
    const char* control;
};
constexpr FieldName kFields[] = {
    {EmailField::Port, names::Edit1},        {EmailField::Host, names::Edit2},
    {EmailField::Name, names::Edit3},        {EmailField::Address, names::Edit4},
    {EmailField::Timeout, names::Edit5},     {EmailField::Password, names::Edit8},
    {EmailField::NewAddress1, names::Edit7}, {EmailField::NewAddress2, names::Edit6},
    {EmailField::Subject1, names::Edit10},   {EmailField::Subject2, names::Edit11},
    {EmailField::Contents1, names::Memo6},   {EmailField::Contents2, names::Memo4},
    {EmailField::Working, names::Memo7},     {EmailField::Security, names::ComboBox1},
    {EmailField::LoginName, names::Edit12},
};

const char* boxControl(EmailBox box) {
    switch (box) {
        case EmailBox::Login: return names::CheckBox8;
        case EmailBox::NoMail1: return names::CheckBox2;
        case EmailBox::NoMail2: return names::CheckBox4;
    }
    return names::CheckBox8;
}

}  // namespace

const char* emailControl(EmailField field) {
    for (const auto& f : kFields)
        if (f.field == field) return f.control;
    return names::Edit1;
}

EmailPage::EmailPage(MainForm& form) : form_(form) {}

void EmailPage::registerHandlers(HandlerTable& table) {
    for (int i = 0; i < 3; ++i)
        table.on(names::emailSubPageImages[static_cast<std::size_t>(i)], [this, i] { selectSubPage(i); });
    table.on(names::Image3_1P, [this] { model_.addAddress(form_.EmailSubPage); });
    table.on(names::Image3_2P, [this] { model_.addAddress(form_.EmailSubPage); });
    table.on(names::Image3_1M, [this] { model_.removeAddress(form_.EmailSubPage); });
    table.on(names::Image3_2M, [this] { model_.removeAddress(form_.EmailSubPage); });
    table.on(names::Image3_OK, [this] { okClick(); });
    table.on(names::Image3_Ignore, [this] { ignoreClick(); });
    table.on(names::Image3_TestMail, [this] { testMailClick(); });
}

void EmailPage::setText(EmailField field, const std::string& t) { form_.controls().setText(emailControl(field), t); }

void EmailPage::setRows(const std::vector<std::string>& rows) {
    form_.controls().setRows(names::StringGrid1, rows);
    form_.controls().setRows(names::StringGrid2, rows);
}

void EmailPage::setChecked(EmailBox box, bool on) { form_.controls().setChecked(boxControl(box), on); }

void EmailPage::setLoginFieldsVisible(bool visible) {
    form_.controls().setVisible(names::Edit8, visible);
    form_.controls().setVisible(names::Edit12, visible);
}

void EmailPage::message(const std::string& t, const std::string& caption) { form_.messageBox(t, caption); }

void EmailPage::load() {
    ++opened_;
    model_.open(form_.settings());
    if (form_.serviceFeed()) askService();
}

void EmailPage::askService() {
    // The page opens at once with what the service said last; its answer fills the
    // page again unless the user has begun to change it meanwhile.
    form_.serviceFeed()->port().getMailSettings([this](const ServiceMailAnswer& a) {
        if (!a.errorName.empty()) {
            form_.messageBox(a.errorText, "E-Mail Message");
            return;
        }
        form_.settings() = settingsFromService(a.values);
        if (form_.CurrentPage != static_cast<int>(ShownPage::email) || model_.dirty() != 0) return;
        model_.open(form_.settings());
        refreshSubPage();
    });
}

void EmailPage::serviceSaved(const ServiceMailAnswer& a, const SettingsEdits& values, unsigned opened) {
    const bool samePage = opened == opened_;
    if (!a.errorName.empty()) {
        if (samePage) model_.saveEnded(values, false);
        form_.messageBox(a.errorText, "E-Mail Message");
        return;
    }
    if (samePage) model_.saveEnded(values, a.saved);
    if (!a.saved) {
        form_.messageBox(a.problem, "E-Mail Message");
        return;
    }
    form_.settings() = settingsFromService(a.values);
    // A page opened meanwhile, still untouched, shows what is saved now.
    if (!samePage && form_.CurrentPage == static_cast<int>(ShownPage::email) && model_.dirty() == 0) {
        model_.open(form_.settings());
        refreshSubPage();
    }
}

void EmailPage::serviceTestMail(const ServiceMailAnswer& a) {
    if (a.errorName.empty() && a.sent) {
        // The service's words for each recipient not reached: "address: code reason".
        std::vector<SmtpRefusal> refused;
        for (const std::string& r : a.refused) {
            SmtpRefusal one;
            const std::size_t colon = r.find(": ");
            one.address = r.substr(0, colon);
            std::string rest = colon == std::string::npos ? "" : r.substr(colon + 2);
            std::size_t digits = 0;
            while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
            if (digits == 3) {
                one.code = std::stoi(rest.substr(0, 3));
                rest.erase(0, rest.size() > 3 && rest[3] == ' ' ? 4 : 3);
            }
            one.reason = rest;
            refused.push_back(one);
        }
        form_.setPanel(3, "Send mail Success!");
        form_.setPanel(4, refused.empty() ? "" : smtpRefusalsText("Not delivered to ", refused));
        return;
    }
    form_.setPanel(3, kTestMailFailed);
    if (a.errorName.empty())
        form_.setPanel(4, a.sendError);
    else if (a.errorName == "org.qxraidgui.Monitor1.Error.NotSent")
        form_.setPanel(4, a.errorText);  // the page's own reason (no recipient)
    else
        form_.messageBox(a.errorText, "E-Mail Message");
}

void EmailPage::refreshSubPage() {
    selectSubPage(form_.EmailSubPage);
    model_.clearDirty();
}

void EmailPage::selectSubPage(int index) {
    static const std::array<const char*, 3> subPages = {"Setup", "HDD_Fail", "DeviceRemove"};
    MainForm& f = form_;
    f.EmailSubPage = index;
    selectTab(f, names::emailSubPageImages.data(), 3, static_cast<std::size_t>(index));
    f.controls().setPage(names::Notebook2, index, subPages[static_cast<std::size_t>(index)]);
    model_.showSubPage();
}

bool EmailPage::editChanged(const std::string& control, const std::string& text) {
    for (const auto& f : kFields) {
        if (control != f.control) continue;
        // The field's own rules hold whatever sends the text (a paste, a scenario): no
        // control character, no more than the field takes. The model holds what the
        // field took; the control is told when that is not what was typed.
        const std::string entered = model_.typed(f.field, model_.text(f.field), text);
        if (entered != text) form_.controls().setText(control, entered);
        return true;
    }
    return false;
}

bool EmailPage::checkBoxClicked(const std::string& control, bool on) {
    for (const EmailBox box : {EmailBox::Login, EmailBox::NoMail1, EmailBox::NoMail2}) {
        if (control != boxControl(box)) continue;
        model_.boxClicked(box, on);
        return true;
    }
    return false;
}

bool EmailPage::cellSelected(const std::string& control, int row) {
    if (control == names::StringGrid1)
        model_.selectRow(0, row);
    else if (control == names::StringGrid2)
        model_.selectRow(1, row);
    else
        return false;
    return true;
}

void EmailPage::okClick() {
    if (ServiceFeed* feed = form_.serviceFeed()) {
        const SettingsEdits values = model_.valuesToSave();
        // The password goes only when the user typed one: the field otherwise shows
        // what stands for the stored one.
        const bool fresh = (values.dirty & kDirtyPassword) != 0;
        SettingsEdits sent = values;
        if (!fresh) sent.fields[kPassword].clear();
        feed->port().saveMailSettings(sent, fresh, [this, values, opened = opened_](const ServiceMailAnswer& a) {
            serviceSaved(a, values, opened);
        });
        return;
    }
    const MailSaveResult r = saveMailSettings(form_, model_.valuesToSave(), model_.shown());
    model_.saveEnded(r.values, r.saved);
    if (!r.saved) form_.messageBox(r.problem, "E-Mail Message");
}

void EmailPage::testMailClick() {
    if (ServiceFeed* feed = form_.serviceFeed()) {
        form_.setPanel(3, kTestMailSending);
        feed->port().sendTestMail([this](const ServiceMailAnswer& a) { serviceTestMail(a); });
        return;
    }
    // Sends with the settings as saved: what an alert would go out with. Its outcome
    // comes to the status bar from the mail service, as an alert mail's does.
    const TestMailStart start = sendTestMail(form_);
    if (start.sending) {
        form_.setPanel(3, kTestMailSending);
    } else {
        form_.setPanel(3, kTestMailFailed);
        form_.setPanel(4, start.problem);
    }
}

void EmailPage::ignoreClick() {
    model_.discard(form_.settings());
    selectSubPage(form_.EmailSubPage);
}

}  // namespace raid

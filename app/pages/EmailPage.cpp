#include "app/pages/EmailPage.h"

#include "app/MailOperations.h"
#include "app/MainForm.h"

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

void EmailPage::load() { model_.open(form_.settings()); }

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
    const MailSaveResult r = saveMailSettings(form_, model_.valuesToSave(), model_.shown());
    model_.saveEnded(r.values, r.saved);
    if (!r.saved) form_.messageBox(r.problem, "E-Mail Message");
}

void EmailPage::testMailClick() {
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

#include "app/MailOperations.h"

#include "app/MainForm.h"

namespace raid {

MailSaveResult saveMailSettings(MainForm& form, SettingsEdits values, const SettingsEdits& shown) {
    MailSaveResult r;
    r.problem = form.settingsStore().save(form.settings(), values, shown);
    r.saved = r.problem.empty();
    r.values = std::move(values);
    // The alerts follow the saved boxes at once; the next mail reads the store again.
    if (r.saved) form.settingsSaved();
    return r;
}

MailSaveResult saveMailSettings(MainForm& form, SettingsEdits values) {
    return saveMailSettings(form, std::move(values), shownEdits(form.settings()));
}

TestMailStart sendTestMail(MainForm& form, TestMailDone done) {
    TestMailStart start;
    start.problem = form.mail().sendTestMail(std::move(done));
    start.sending = start.problem.empty();
    return start;
}

}  // namespace raid

#include "service/BusMail.h"

#include "app/MailOperations.h"
#include "notify/AlertProgram.h"
#include "service/AlertProgramRunner.h"
#include "service/bus/BusMessages.h"

namespace raid::service {

const char* passwordState(const NotificationSettings& s) {
    if (s.authState == 2) return bus::kPasswordDamaged;
    return s.password().empty() ? bus::kPasswordNone : bus::kPasswordStored;
}

void answerMail(MainForm& form, const bus::BusCall& call, const bus::BusEngine::MailReply& reply) {
    bus::MailAnswer a;
    switch (call.method) {
        case bus::BusMethod::getMailSettings:
            a.values = shownEdits(form.settings());
            break;
        case bus::BusMethod::saveMailSettings: {
            SettingsEdits values = call.mail;
            // No new password typed: the stored one stays, as on the page, whose field
            // holds it unchanged.
            if (!call.newPassword) values.fields[kPassword] = form.settings().password();
            MailSaveResult saved = saveMailSettings(form, std::move(values));
            a.saved = saved.saved;
            a.problem = saved.problem;
            a.values = std::move(saved.values);
            break;
        }
        case bus::BusMethod::sendTestMail: {
            const TestMailStart start = sendTestMail(form, [reply](const SmtpResult& r) {
                bus::MailAnswer done;
                done.sent = r.sent;
                done.sendError = r.error;
                for (const SmtpRefusal& x : r.refused)
                    done.refused.push_back(x.address + ": " + (x.code ? std::to_string(x.code) + " " : "") + x.reason);
                reply(std::move(done));
            });
            if (!start.sending) {
                a.errorName = bus::kErrorNotSent;
                a.errorText = start.problem;
                reply(std::move(a));
            }
            return;
        }
        case bus::BusMethod::setAlertCommand: {
            // Asked for with polkit's auth_admin: the program runs as root.
            std::string problem = call.alertCommand.empty() ? "" : alertProgramFileRefusal(call.alertCommand);
            if (problem.empty())
                problem = form.settingsStore().port().update(
                    {SettingsUpdate::set(kAlertCommandValue, RegValue::sz(call.alertCommand))});
            else
                problem = call.alertCommand + ": " + problem;
            a.saved = problem.empty();
            a.problem = problem;
            reply(std::move(a));
            return;
        }
        default:
            a.errorName = "org.freedesktop.DBus.Error.UnknownMethod";
            a.errorText = "no such mail method";
            reply(std::move(a));
            return;
    }
    // The password stays here: the caller learns only whether one is stored.
    a.values.fields[kPassword] = passwordState(form.settings());
    reply(std::move(a));
}

}  // namespace raid::service

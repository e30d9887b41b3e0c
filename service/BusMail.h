// The mail methods of the service on the bus, on the engine's side: the E-mail page's
// values out (never the password), a save through the page's own save, the test mail.
// Everything here runs on the engine thread.
#pragma once

#include "app/MainForm.h"
#include "service/bus/BusService.h"

namespace raid::service {

// "stored", "damaged" or "none": what the page shows of the stored password.
const char* passwordState(const NotificationSettings& s);

// Answers `call` (a mail method) through `reply`, at once or, for the test mail, when
// the mail server's dialogue is over.
void answerMail(MainForm& form, const bus::BusCall& call, const bus::BusEngine::MailReply& reply);

}  // namespace raid::service

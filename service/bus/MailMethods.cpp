// The mail methods (GetMailSettings, SaveMailSettings, SendTestMail) once the authority
// has allowed them, and the MailOutcome signal.
#include <systemd/sd-bus.h>

#include "service/bus/BusMessages.h"
#include "service/bus/BusServiceImpl.h"

namespace raid::bus {

void BusService::Impl::askMail(std::uint64_t id) {
    std::weak_ptr<Inbox> box = inbox;
    engine.mail(pending.at(id).call, [box, id](MailAnswer a) {
        if (const auto b = box.lock()) b->push([id, a = std::move(a)](Impl& self) { self.answerMail(id, a); });
    });
}

void BusService::Impl::answerMail(std::uint64_t id, const MailAnswer& a) {
    reply(id, a.errorName, a.errorText,
          [&a](sd_bus_message* m, const BusCall& call) { return appendMailAnswer(m, call.method, a); });
}

void BusService::Impl::emitMail(const MailEvent& e) {
    const std::string subject = busText(e.subject), error = busText(e.error);
    sd_bus_emit_signal(bus, kManagerPath, kManagerInterface, "MailOutcome", "iusbsub", e.kind, e.attempt,
                       subject.c_str(), static_cast<int>(e.sent), error.c_str(), e.refused, static_cast<int>(e.retry));
}

}  // namespace raid::bus

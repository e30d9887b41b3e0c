// The service's methods the window calls - the mail settings and test mail, the day
// log, the stored history and the firmware upgrade - each made on the window's thread
// and answered on the engine thread (the objects and signals it follows are in
// ServiceClient.cpp).
#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

#include <algorithm>
#include <type_traits>

#include "app/HistorySources.h"
#include "gui/ServiceBus.h"
#include "gui/ServiceClient.h"
#include "maintenance/ImageLoader.h"

namespace raid::gui {

using namespace servicebus;

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }
QStringList texts(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& s : list) out << text(s);
    return out;
}

QDBusMessage managerMethod(const QString& member, const QList<QVariant>& args = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kManager, kManagerInterface, member);
    call.setArguments(args);
    return call;
}

constexpr char kValuesSignature[] = "sssssssbbbuasasas";

// The mail values at `at` of a reply whose signature has been checked.
void readValues(const QList<QVariant>& a, qsizetype at, SettingsEdits& v) {
    for (std::size_t i = 0; i < 6; ++i) v.fields[i] = bounded(a.at(at + static_cast<qsizetype>(i)));
    v.loginName = bounded(a.at(at + 6));
    v.loginOn = a.at(at + 7).toBool();
    v.noMailKind1 = a.at(at + 8).toBool();
    v.noMailKind2 = a.at(at + 9).toBool();
    v.security = a.at(at + 10).toUInt();
    v.working = boundedList(a.at(at + 11), static_cast<qsizetype>(kMaxRecipients));
    const auto subjects = boundedList(a.at(at + 12), 2), contents = boundedList(a.at(at + 13), 2);
    for (std::size_t k = 0; k < 2; ++k) {
        v.subject[k] = k < subjects.size() ? subjects[k] : "";
        v.contents[k] = k < contents.size() ? contents[k] : "";
    }
}

// GetHistory's series, from a reply whose signature has been checked.
void readHistory(const QDBusMessage& m, ServiceHistoryAnswer& a) {
    const QList<QVariant> args = m.arguments();
    a.series.key = bounded(args.at(0));
    a.series.label = bounded(args.at(1));
    a.series.fanAlarmAt = args.at(2).toInt();
    a.series.temperatureAlarmAt = static_cast<std::int16_t>(args.at(3).toInt());
    const QDBusArgument samples = args.at(4).value<QDBusArgument>();
    samples.beginArray();
    while (!samples.atEnd()) {
        qlonglong minute = 0;
        short temperature = 0;
        int fan = 0;
        uchar alarms = 0, flags = 0, activity = 0, percent = 0;
        samples.beginStructure();
        samples >> minute >> temperature >> fan >> alarms >> flags >> activity >> percent;
        samples.endStructure();
        // Never more than the engine sends; a sample it would not write is left out.
        if (a.series.samples.size() >= kMaxHistorySamples || activity > 3 || percent > 100) continue;
        HistorySample s;
        s.minute = minute;
        s.temperature = temperature;
        s.fanSpeed = fan;
        s.alarms = alarms;
        s.driveFlags = flags;
        s.activity = static_cast<HistoryActivity>(activity);
        s.percent = percent;
        a.series.samples.push_back(s);
    }
    samples.endArray();
}

}  // namespace

void ServiceLink::attach(ServiceClient* client) {
    std::lock_guard<std::mutex> lock(mu_);
    client_ = client;
}

bool ServiceLink::call(std::function<void(ServiceClient&)> action) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!client_) return false;
    ServiceClient* client = client_;
    // Queued to the client's thread; dropped by Qt if the client goes first.
    QMetaObject::invokeMethod(client, [client, action = std::move(action)] { action(*client); }, Qt::QueuedConnection);
    return true;
}

template <class Answer>
static void noClient(const std::function<void(const Answer&)>& done) {
    Answer a;
    a.errorName = "org.freedesktop.DBus.Error.ServiceUnknown";
    a.errorText = kServiceMissingHelp;
    done(a);
}

void ServiceLink::getMailSettings(ServiceMailDone done) {
    if (!call([done](ServiceClient& c) { c.getMailSettings(done); })) noClient(done);
}

void ServiceLink::saveMailSettings(const SettingsEdits& values, bool newPassword, ServiceMailDone done) {
    if (!call([values, newPassword, done](ServiceClient& c) { c.saveMailSettings(values, newPassword, done); }))
        noClient(done);
}

void ServiceLink::sendTestMail(ServiceMailDone done) {
    if (!call([done](ServiceClient& c) { c.sendTestMail(done); })) noClient(done);
}

void ServiceLink::watchDayLog(ServiceDayLogDone done) {
    if (!call([done](ServiceClient& c) { c.dayLogCall(QStringLiteral("WatchDayLog"), {}, done); })) noClient(done);
}

void ServiceLink::unwatchDayLog() {
    call([](ServiceClient& c) { c.unwatchDayLog(); });
}

void ServiceLink::getDayLog(ServiceDayLogDone done) {
    if (!call([done](ServiceClient& c) { c.dayLogCall(QStringLiteral("GetDayLog"), {}, done); })) noClient(done);
}

void ServiceLink::getOlderDayLog(const std::string& day, ServiceDayLogDone done) {
    if (!call([day, done](ServiceClient& c) { c.dayLogCall(QStringLiteral("GetOlderDayLog"), {text(day)}, done); }))
        noClient(done);
}

void ServiceLink::startUpgrade(const std::string& enclosure, int imageFd, ServiceUpgradeDone done) {
    // The copy is made here, while the caller's descriptor is surely open.
    const QDBusUnixFileDescriptor image(imageFd);
    if (!call([enclosure, image, done](ServiceClient& c) { c.startUpgrade(text(enclosure), image, done); }))
        noClient(done);
}

void ServiceLink::getHistory(const std::string& enclosure, std::int64_t fromMinute, ServiceHistoryDone done) {
    if (!call([enclosure, fromMinute, done](ServiceClient& c) { c.getHistory(text(enclosure), fromMinute, done); }))
        noClient(done);
}

template <class Answer>
void ServiceClient::managerCall(const QDBusMessage& call, int timeoutMs, const QString& signature,
                                std::type_identity_t<std::function<void(const QDBusMessage&, Answer&)>> read,
                                std::function<void(const Answer&)> done) {
    auto answer = [this, done = std::move(done)](Answer a) {
        host_.post([done, a = std::move(a)](MainForm&) { done(a); });
    };
    if (!bus_ || !bus_->isConnected()) {
        Answer a;
        a.errorName = "org.freedesktop.DBus.Error.Disconnected";
        a.errorText = kServiceMissingHelp;
        answer(std::move(a));
        return;
    }
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call, timeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [pending, signature, read = std::move(read), answer = std::move(answer)] {
                pending->deleteLater();
                const QDBusMessage reply = pending->reply();
                Answer a;
                if (reply.type() == QDBusMessage::ErrorMessage) {
                    a.errorName = reply.errorName().left(256).toStdString();
                    a.errorText = reply.errorMessage().left(4096).toStdString();
                } else if (reply.signature() != signature) {
                    a.errorName = "org.freedesktop.DBus.Error.InvalidSignature";
                    a.errorText = "The service's answer cannot be read";
                } else {
                    read(reply, a);
                }
                answer(std::move(a));
            });
}

void ServiceClient::getMailSettings(ServiceMailDone done) {
    managerCall<ServiceMailAnswer>(
        managerMethod(QStringLiteral("GetMailSettings")), kMailCallTimeoutMs, QLatin1String(kValuesSignature),
        [](const QDBusMessage& m, ServiceMailAnswer& a) { readValues(m.arguments(), 0, a.values); }, std::move(done));
}

void ServiceClient::saveMailSettings(const SettingsEdits& v, bool newPassword, ServiceMailDone done) {
    const QList<QVariant> args = {text(v.fields[kPort]),
                                  text(v.fields[kHost]),
                                  text(v.fields[kSenderName]),
                                  text(v.fields[kSenderAddress]),
                                  text(v.fields[kTimeout]),
                                  text(v.loginName),
                                  newPassword,
                                  text(newPassword ? v.fields[kPassword] : std::string()),
                                  v.loginOn,
                                  v.noMailKind1,
                                  v.noMailKind2,
                                  QVariant::fromValue(static_cast<uint>(v.security)),
                                  texts(v.working),
                                  texts({v.subject[0], v.subject[1]}),
                                  texts({v.contents[0], v.contents[1]})};
    managerCall<ServiceMailAnswer>(managerMethod(QStringLiteral("SaveMailSettings"), args), kMailCallTimeoutMs,
                                   QStringLiteral("bs") + QLatin1String(kValuesSignature),
                                   [](const QDBusMessage& m, ServiceMailAnswer& a) {
                                       a.saved = m.arguments().at(0).toBool();
                                       a.problem = bounded(m.arguments().at(1));
                                       readValues(m.arguments(), 2, a.values);
                                   },
                                   std::move(done));
}

void ServiceClient::sendTestMail(ServiceMailDone done) {
    managerCall<ServiceMailAnswer>(managerMethod(QStringLiteral("SendTestMail")), kMailCallTimeoutMs,
                                   QStringLiteral("bsas"),
                                   [](const QDBusMessage& m, ServiceMailAnswer& a) {
                                       a.sent = m.arguments().at(0).toBool();
                                       a.sendError = bounded(m.arguments().at(1));
                                       a.refused = boundedList(m.arguments().at(2), 1000);
                                   },
                                   std::move(done));
}

void ServiceClient::dayLogCall(const QString& member, const QList<QVariant>& args, ServiceDayLogDone done) {
    // polkit may ask the user first.
    managerCall<ServiceDayLogAnswer>(managerMethod(member, args), kMailCallTimeoutMs, QStringLiteral("sas"),
                                     [](const QDBusMessage& m, ServiceDayLogAnswer& a) {
                                         a.day = bounded(m.arguments().at(0));
                                         a.lines = boundedList(m.arguments().at(1),
                                                               static_cast<qsizetype>(ServiceFeed::kMaxDayLines));
                                     },
                                     std::move(done));
}

void ServiceClient::unwatchDayLog() {
    if (!bus_ || !bus_->isConnected()) return;
    // Nobody waits for the answer: the service also stops when this client leaves.
    bus_->asyncCall(managerMethod(QStringLiteral("UnwatchDayLog")));
}

void ServiceClient::getHistory(const QString& enclosure, std::int64_t fromMinute, ServiceHistoryDone done) {
    const auto from = static_cast<std::uint32_t>(std::clamp<std::int64_t>(fromMinute, 0, 4102444800));
    managerCall<ServiceHistoryAnswer>(
        managerMethod(QStringLiteral("GetHistory"),
                      {QVariant::fromValue(QDBusObjectPath(enclosure)), QVariant::fromValue(from)}),
        kCallTimeoutMs, QStringLiteral("ssina(xniyyyy)"), readHistory, std::move(done));
}

void ServiceClient::startUpgrade(const QString& enclosure, const QDBusUnixFileDescriptor& image,
                                 ServiceUpgradeDone done) {
    if (bus_ && bus_->isConnected() && !image.isValid()) {
        // No copy of the image's descriptor could be made.
        ServiceUpgradeAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.Disconnected";
        a.errorText = kOpenFailText;
        host_.post([done = std::move(done), a = std::move(a)](MainForm&) { done(a); });
        return;
    }
    QDBusMessage call = managerMethod(QStringLiteral("StartUpgrade"),
                                      {QVariant::fromValue(QDBusObjectPath(enclosure)), QVariant::fromValue(image)});
    // The administrator may take a while over polkit's password prompt.
    call.setInteractiveAuthorizationAllowed(true);
    managerCall<ServiceUpgradeAnswer>(
        call, kUpgradeCallTimeoutMs, QStringLiteral("o"),
        [](const QDBusMessage& m, ServiceUpgradeAnswer& a) {
            a.job = m.arguments().at(0).value<QDBusObjectPath>().path().toStdString();
        },
        std::move(done));
}

}  // namespace raid::gui

#include "gui/ServiceClient.h"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <QtDBus/QDBusServiceWatcher>
#include <QtDBus/QDBusVariant>

#include <algorithm>
#include <atomic>

#include "app/HistorySources.h"
#include "maintenance/ImageLoader.h"

namespace raid::gui {

namespace {

const QString kName = QStringLiteral("org.qxraidgui.Monitor1");
const QString kManager = QStringLiteral("/org/qxraidgui/Monitor1");
const QString kManagerInterface = QStringLiteral("org.qxraidgui.Monitor1");
const QString kEnclosureInterface = QStringLiteral("org.qxraidgui.Monitor1.Enclosure");
const QString kEnclosurePrefix = QStringLiteral("/org/qxraidgui/Monitor1/enclosure/");
const QString kUpgradeInterface = QStringLiteral("org.qxraidgui.Monitor1.Upgrade");
const QString kJobPrefix = QStringLiteral("/org/qxraidgui/Monitor1/job/");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// More enclosure objects than any machine has: a service gone wrong cannot make the
// window keep without end.
constexpr std::size_t kMaxObjects = 64;

BusValue busValue(const QVariant& v) {
    switch (v.metaType().id()) {
        case QMetaType::Bool: return v.toBool();
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::UChar:
        case QMetaType::LongLong: return static_cast<std::int64_t>(v.toLongLong());
        case QMetaType::ULongLong: {
            const qulonglong u = v.toULongLong();
            return u > 0x7FFFFFFFFFFFFFFFull ? BusValue{} : BusValue{static_cast<std::int64_t>(u)};
        }
        case QMetaType::Double: return v.toDouble();
        case QMetaType::QString: return v.toString().toStdString();
        case QMetaType::QByteArray: {
            const QByteArray b = v.toByteArray();
            return std::vector<std::uint8_t>(b.begin(), b.end());
        }
        case QMetaType::QStringList: {
            std::vector<std::string> out;
            for (const QString& s : v.toStringList()) out.push_back(s.toStdString());
            return out;
        }
        default: break;
    }
    if (v.canConvert<QDBusObjectPath>()) return v.value<QDBusObjectPath>().path().toStdString();
    return {};
}

void merge(BusProperties& into, const QVariantMap& props) {
    for (auto it = props.begin(); it != props.end(); ++it) into[it.key().toStdString()] = busValue(it.value());
}

// a{sa{sv}}: each interface's properties.
std::map<QString, QVariantMap> interfacesOf(const QDBusArgument& arg) {
    std::map<QString, QVariantMap> out;
    arg.beginMap();
    while (!arg.atEnd()) {
        QString name;
        QVariantMap props;
        arg.beginMapEntry();
        arg >> name >> props;
        arg.endMapEntry();
        out[name] = props;
    }
    arg.endMap();
    return out;
}

std::vector<std::string> notesOf(const QVariantMap& props) {
    std::vector<std::string> notes;
    const auto it = props.find(QStringLiteral("Notes"));
    if (it != props.end())
        for (const QString& n : it.value().toStringList()) notes.push_back(n.toStdString());
    return notes;
}

std::atomic<unsigned> connections{0};

QString text(const std::string& s) { return QString::fromStdString(s); }
QStringList texts(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& s : list) out << text(s);
    return out;
}
// The service is trusted, its answer still measured: no text longer than the page takes
// at most (a contents), no more recipients than the page holds.
std::string bounded(const QVariant& v) { return v.toString().left(64 * 1024).toStdString(); }
std::vector<std::string> boundedList(const QVariant& v, qsizetype most) {
    std::vector<std::string> out;
    for (const QString& s : v.toStringList().mid(0, most)) out.push_back(s.left(64 * 1024).toStdString());
    return out;
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

void ServiceClient::getHistory(const QString& enclosure, std::int64_t fromMinute, ServiceHistoryDone done) {
    auto answer = [this, done](ServiceHistoryAnswer a) {
        host_.post([done, a = std::move(a)](MainForm&) { done(a); });
    };
    if (!bus_ || !bus_->isConnected()) {
        ServiceHistoryAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.Disconnected";
        a.errorText = kServiceMissingHelp;
        answer(std::move(a));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kManager, kManagerInterface, QStringLiteral("GetHistory"));
    const auto from = static_cast<std::uint32_t>(std::clamp<std::int64_t>(fromMinute, 0, 4102444800));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(enclosure)), QVariant::fromValue(from)});
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [pending, answer] {
        pending->deleteLater();
        const QDBusMessage reply = pending->reply();
        ServiceHistoryAnswer a;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            a.errorName = reply.errorName().left(256).toStdString();
            a.errorText = reply.errorMessage().left(4096).toStdString();
        } else if (reply.signature() != QLatin1String("ssina(xniyyyy)")) {
            a.errorName = "org.freedesktop.DBus.Error.InvalidSignature";
            a.errorText = "The service's answer cannot be read";
        } else {
            const QList<QVariant> args = reply.arguments();
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
        answer(std::move(a));
    });
}

void ServiceClient::startUpgrade(const QString& enclosure, const QDBusUnixFileDescriptor& image,
                                 ServiceUpgradeDone done) {
    auto answer = [this, done](ServiceUpgradeAnswer a) {
        host_.post([done, a = std::move(a)](MainForm&) { done(a); });
    };
    if (!bus_ || !bus_->isConnected() || !image.isValid()) {
        ServiceUpgradeAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.Disconnected";
        a.errorText = bus_ && bus_->isConnected() ? kOpenFailText : kServiceMissingHelp;
        answer(std::move(a));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kManager, kManagerInterface, QStringLiteral("StartUpgrade"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(enclosure)), QVariant::fromValue(image)});
    // The administrator may take a while over polkit's password prompt.
    call.setInteractiveAuthorizationAllowed(true);
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call, kUpgradeCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [pending, answer] {
        pending->deleteLater();
        const QDBusMessage reply = pending->reply();
        ServiceUpgradeAnswer a;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            a.errorName = reply.errorName().left(256).toStdString();
            a.errorText = reply.errorMessage().left(4096).toStdString();
        } else if (reply.signature() != QLatin1String("o")) {
            a.errorName = "org.freedesktop.DBus.Error.InvalidSignature";
            a.errorText = "The service's answer cannot be read";
        } else {
            a.job = reply.arguments().at(0).value<QDBusObjectPath>().path().toStdString();
        }
        answer(std::move(a));
    });
}

void ServiceClient::publishJob(const std::string& path) {
    const auto it = jobs_.find(path);
    if (it == jobs_.end()) return;
    if (auto job = jobFromProperties(path, it->second))
        post([job = std::move(*job)](ServiceFeed& feed) { feed.job(job); });
}

void ServiceClient::jobFinished(const QDBusMessage& message) {
    if (!present_ || message.signature() != QLatin1String("bs")) return;
    const std::string path = message.path().toStdString();
    if (!jobs_.count(path)) return;
    post([path, ok = message.arguments().at(0).toBool(), outcome = bounded(message.arguments().at(1))](
             ServiceFeed& feed) { feed.jobFinished(path, ok, outcome); });
}

void ServiceClient::dayLogCall(const QString& member, const QList<QVariant>& args, ServiceDayLogDone done) {
    auto answer = [this, done](ServiceDayLogAnswer a) {
        host_.post([done, a = std::move(a)](MainForm&) { done(a); });
    };
    if (!bus_ || !bus_->isConnected()) {
        ServiceDayLogAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.Disconnected";
        a.errorText = kServiceMissingHelp;
        answer(std::move(a));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kManager, kManagerInterface, member);
    call.setArguments(args);
    // polkit may ask the user first.
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call, kMailCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [pending, answer] {
        pending->deleteLater();
        const QDBusMessage reply = pending->reply();
        ServiceDayLogAnswer a;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            a.errorName = reply.errorName().left(256).toStdString();
            a.errorText = reply.errorMessage().left(4096).toStdString();
        } else if (reply.signature() != QLatin1String("sas")) {
            a.errorName = "org.freedesktop.DBus.Error.InvalidSignature";
            a.errorText = "The service's answer cannot be read";
        } else {
            a.day = bounded(reply.arguments().at(0));
            a.lines = boundedList(reply.arguments().at(1), static_cast<qsizetype>(ServiceFeed::kMaxDayLines));
        }
        answer(std::move(a));
    });
}

void ServiceClient::unwatchDayLog() {
    if (!bus_ || !bus_->isConnected()) return;
    // Nobody waits for the answer: the service also stops when this client leaves.
    bus_->asyncCall(QDBusMessage::createMethodCall(kName, kManager, kManagerInterface, QStringLiteral("UnwatchDayLog")));
}

void ServiceClient::dayLogLine(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("ss")) return;
    post([day = bounded(message.arguments().at(0)), line = bounded(message.arguments().at(1))](ServiceFeed& feed) {
        feed.dayLogLine(day, line);
    });
}

void ServiceClient::mailCall(const QString& member, const QList<QVariant>& args, const QString& signature,
                             std::function<void(const QDBusMessage&, ServiceMailAnswer&)> read, ServiceMailDone done) {
    auto answer = [this, done](ServiceMailAnswer a) {
        host_.post([done, a = std::move(a)](MainForm&) { done(a); });
    };
    if (!bus_ || !bus_->isConnected()) {
        ServiceMailAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.Disconnected";
        a.errorText = kServiceMissingHelp;
        answer(std::move(a));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kManager, kManagerInterface, member);
    call.setArguments(args);
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call, kMailCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [pending, signature, read, answer] {
        pending->deleteLater();
        const QDBusMessage reply = pending->reply();
        ServiceMailAnswer a;
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
    mailCall(QStringLiteral("GetMailSettings"), {}, QLatin1String(kValuesSignature),
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
    mailCall(QStringLiteral("SaveMailSettings"), args, QStringLiteral("bs") + QLatin1String(kValuesSignature),
             [](const QDBusMessage& m, ServiceMailAnswer& a) {
                 a.saved = m.arguments().at(0).toBool();
                 a.problem = bounded(m.arguments().at(1));
                 readValues(m.arguments(), 2, a.values);
             },
             std::move(done));
}

void ServiceClient::sendTestMail(ServiceMailDone done) {
    mailCall(QStringLiteral("SendTestMail"), {}, QStringLiteral("bsas"),
             [](const QDBusMessage& m, ServiceMailAnswer& a) {
                 a.sent = m.arguments().at(0).toBool();
                 a.sendError = bounded(m.arguments().at(1));
                 a.refused = boundedList(m.arguments().at(2), 1000);
             },
             std::move(done));
}

ServiceClient::ServiceClient(EngineHost& host, ServiceLink& link, QString address, QObject* parent)
    : QObject(parent), host_(host), link_(link), address_(std::move(address)) {
    connectionName_ = QStringLiteral("raid-gui-service-%1").arg(++connections);
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, [this] { start(); });
    link_.attach(this);
}
ServiceClient::~ServiceClient() {
    link_.attach(nullptr);
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
}

void ServiceClient::post(std::function<void(ServiceFeed&)> action) {
    host_.post([action = std::move(action)](MainForm& form) {
        if (ServiceFeed* feed = form.serviceFeed()) action(*feed);
    });
}

bool ServiceClient::connectBus() {
    if (bus_ && bus_->isConnected()) return true;
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    QDBusConnection c = address_.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName_)
                                           : QDBusConnection::connectToBus(address_, connectionName_);
    if (!c.isConnected()) {
        const QString why = c.lastError().message();
        QDBusConnection::disconnectFromBus(connectionName_);
        absent(false, why.isEmpty() ? QStringLiteral("no system bus") : why);
        retry_.start();
        return false;
    }
    bus_ = std::make_unique<QDBusConnection>(c);
    watcher_ = new QDBusServiceWatcher(kName, *bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, &ServiceClient::ownerChanged);
    bus_->connect(kName, kManager, kObjectManager, QStringLiteral("InterfacesAdded"), this,
                  SLOT(interfacesAdded(QDBusMessage)));
    bus_->connect(kName, kManager, kObjectManager, QStringLiteral("InterfacesRemoved"), this,
                  SLOT(interfacesRemoved(QDBusMessage)));
    // Every object of the service: the enclosures and the manager's notes.
    bus_->connect(kName, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(propertiesChanged(QDBusMessage)));
    bus_->connect(kName, kManager, kManagerInterface, QStringLiteral("AlertRaised"), this,
                  SLOT(alertRaised(QDBusMessage)));
    // Each upgrade job's end, whoever started it.
    bus_->connect(kName, QString(), kUpgradeInterface, QStringLiteral("Finished"), this,
                  SLOT(jobFinished(QDBusMessage)));
    // Sent to this client alone while it watches the day log.
    bus_->connect(kName, kManager, kManagerInterface, QStringLiteral("DayLogLine"), this,
                  SLOT(dayLogLine(QDBusMessage)));
    return true;
}

void ServiceClient::start() {
    if (!connectBus()) return;
    fetch();
}

void ServiceClient::fetch() {
    const unsigned generation = generation_;
    // Auto-start allowed: where systemd runs, the bus starts the service for this call.
    QDBusMessage call = QDBusMessage::createMethodCall(kName, kManager, kObjectManager, QStringLiteral("GetManagedObjects"));
    call.setAutoStartService(true);
    auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(call, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, generation] {
        pending->deleteLater();
        managedObjects(pending->reply(), generation);
    });
}

void ServiceClient::managedObjects(const QDBusMessage& reply, unsigned generation) {
    if (generation != generation_) return;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString name = reply.errorName();
        const bool nobody = name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                            name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
        absent(true, nobody ? QString() : reply.errorMessage());
        return;
    }
    if (reply.signature() != QLatin1String("a{oa{sa{sv}}}") || reply.arguments().size() != 1) {
        absent(true, QStringLiteral("the service's answer is not understood"));
        return;
    }
    objects_.clear();
    notes_.clear();
    // Jobs of a service listed afresh: those it no longer has are gone.
    for (const auto& [path, props] : jobs_) post([path = path](ServiceFeed& feed) { feed.jobGone(path); });
    jobs_.clear();
    const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
    arg.beginMap();
    while (!arg.atEnd()) {
        QDBusObjectPath path;
        arg.beginMapEntry();
        arg >> path;
        const auto interfaces = interfacesOf(arg);
        arg.endMapEntry();
        const QString p = path.path();
        if (p == kManager) {
            const auto m = interfaces.find(kManagerInterface);
            if (m != interfaces.end()) notes_ = notesOf(m->second);
            continue;
        }
        const auto job = interfaces.find(kUpgradeInterface);
        if (p.startsWith(kJobPrefix) && job != interfaces.end() && jobs_.size() < kMaxObjects) {
            merge(jobs_[p.toStdString()], job->second);
            continue;
        }
        const auto e = interfaces.find(kEnclosureInterface);
        if (!p.startsWith(kEnclosurePrefix) || e == interfaces.end() || objects_.size() >= kMaxObjects) continue;
        merge(objects_[p.toStdString()], e->second);
    }
    arg.endMap();
    present_ = true;
    publish();
    for (const auto& [path, props] : jobs_) publishJob(path);
}

void ServiceClient::publish() {
    if (!present_) return;
    std::vector<ServiceEnclosure> list;
    for (const auto& [path, props] : objects_)
        if (auto e = enclosureFromProperties(path, props)) list.push_back(std::move(*e));
    post([list = std::move(list), notes = notes_](ServiceFeed& feed) mutable { feed.update(std::move(list), notes); });
}

void ServiceClient::absent(bool busReachable, const QString& why) {
    present_ = false;
    objects_.clear();
    jobs_.clear();
    notes_.clear();
    post([busReachable, why = why.toStdString()](ServiceFeed& feed) { feed.absent(busReachable, why); });
}

void ServiceClient::ownerChanged(const QString&, const QString&, const QString& newOwner) {
    ++generation_;
    if (newOwner.isEmpty()) {
        absent(true, QString());
        return;
    }
    // A new service: its objects are listed afresh (its signals are matched by the
    // name, so they reach this client already).
    fetch();
}

void ServiceClient::interfacesAdded(const QDBusMessage& message) {
    if (!present_ || message.signature() != QLatin1String("oa{sa{sv}}")) return;
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    const auto interfaces = interfacesOf(message.arguments().at(1).value<QDBusArgument>());
    if (path.startsWith(kJobPrefix)) {
        const auto job = interfaces.find(kUpgradeInterface);
        const std::string key = path.toStdString();
        if (job == interfaces.end() || (!jobs_.count(key) && jobs_.size() >= kMaxObjects)) return;
        merge(jobs_[key], job->second);
        publishJob(key);
        return;
    }
    if (!path.startsWith(kEnclosurePrefix)) return;
    const auto e = interfaces.find(kEnclosureInterface);
    if (e == interfaces.end()) return;
    const std::string key = path.toStdString();
    if (!objects_.count(key) && objects_.size() >= kMaxObjects) return;
    merge(objects_[key], e->second);
    publish();
}

void ServiceClient::interfacesRemoved(const QDBusMessage& message) {
    if (!present_ || message.signature() != QLatin1String("oas")) return;
    const QString path = message.arguments().at(0).value<QDBusObjectPath>().path();
    const QStringList gone = message.arguments().at(1).toStringList();
    if (gone.contains(kUpgradeInterface) && jobs_.erase(path.toStdString()) != 0) {
        post([path = path.toStdString()](ServiceFeed& feed) { feed.jobGone(path); });
        return;
    }
    if (!gone.contains(kEnclosureInterface)) return;
    if (objects_.erase(path.toStdString()) != 0) publish();
}

void ServiceClient::propertiesChanged(const QDBusMessage& message) {
    if (!present_ || message.signature() != QLatin1String("sa{sv}as")) return;
    const QString interface = message.arguments().at(0).toString();
    const QVariantMap changed = qdbus_cast<QVariantMap>(message.arguments().at(1));
    if (message.path() == kManager && interface == kManagerInterface) {
        if (changed.contains(QStringLiteral("Notes"))) {
            notes_ = notesOf(changed);
            publish();
        }
        return;
    }
    if (interface == kUpgradeInterface) {
        const auto job = jobs_.find(message.path().toStdString());
        if (job == jobs_.end()) return;  // announced by InterfacesAdded first
        merge(job->second, changed);
        publishJob(job->first);
        return;
    }
    if (interface != kEnclosureInterface) return;
    const auto it = objects_.find(message.path().toStdString());
    if (it == objects_.end()) return;  // announced by InterfacesAdded first
    merge(it->second, changed);
    publish();
}

void ServiceClient::alertRaised(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("iiias")) return;
    std::vector<std::string> lines;
    for (const QString& l : message.arguments().at(3).toStringList()) lines.push_back(l.toStdString());
    post([lines = std::move(lines)](ServiceFeed& feed) { feed.alert(lines); });
}

}  // namespace raid::gui

// The service's objects and signals as the window follows them: the enclosures and
// upgrade jobs the ObjectManager lists, each poll's PropertiesChanged, the manager's
// notes, alerts and day log lines, and whether anybody owns the name (the method calls
// are in ServiceCalls.cpp).
#include "gui/ServiceClient.h"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusServiceWatcher>
#include <QtDBus/QDBusVariant>

#include <atomic>

#include "gui/ServiceBus.h"

namespace raid::gui {

using namespace servicebus;

namespace {

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

}  // namespace

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

void ServiceClient::dayLogLine(const QDBusMessage& message) {
    if (message.signature() != QLatin1String("ss")) return;
    post([day = bounded(message.arguments().at(0)), line = bounded(message.arguments().at(1))](ServiceFeed& feed) {
        feed.dayLogLine(day, line);
    });
}

}  // namespace raid::gui

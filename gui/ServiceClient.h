// The window's end of the service on the system bus (QtDBus).
//
// Lives on the window's thread. It follows org.qxraidgui.Monitor1: its enclosure
// objects (ObjectManager: listed, added, removed), each poll's PropertiesChanged, the
// manager's notes and AlertRaised, and whether anybody owns the name at all. What it
// learns it turns into plain values (app/ServiceFeed.h) posted to the engine thread;
// it never draws and never decides anything itself.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/EngineHost.h"
#include "app/ServiceFeed.h"

class QDBusServiceWatcher;

namespace raid::gui {

// The ServicePort a client form is built with; it reaches the bus through the client
// once the window has made one (the engine may be built first).
class ServiceLink final : public ServicePort {
public:
};

class ServiceClient : public QObject {
    Q_OBJECT
public:
    // `address` empty: the system bus; else that bus (tests).
    ServiceClient(EngineHost& host, ServiceLink& link, QString address, QObject* parent = nullptr);
    ~ServiceClient() override;

    // Connects and asks the service for its objects (starting it where the bus can).
    void start();

    // Bound on a call the service answers at once.
    static constexpr int kCallTimeoutMs = 25000;
    // While the bus itself cannot be reached, it is tried again this often.
    static constexpr int kRetryMs = 5000;

private slots:
    void interfacesAdded(const QDBusMessage& message);
    void interfacesRemoved(const QDBusMessage& message);
    void propertiesChanged(const QDBusMessage& message);
    void alertRaised(const QDBusMessage& message);
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    bool connectBus();
    void fetch();
    void managedObjects(const QDBusMessage& reply, unsigned generation);
    void publish();
    void absent(bool busReachable, const QString& why);
    void post(std::function<void(ServiceFeed&)> action);

    EngineHost& host_;
    ServiceLink& link_;
    QString address_;
    QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer retry_;
    // Every enclosure object and its properties as last heard, by path.
    std::map<std::string, BusProperties> objects_;
    std::vector<std::string> notes_;
    bool present_ = false;
    // Answers to a listing asked before the latest owner change are stale.
    unsigned generation_ = 0;
};

}  // namespace raid::gui

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
#include <QtDBus/QDBusUnixFileDescriptor>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "app/EngineHost.h"
#include "app/ServiceFeed.h"

class QDBusServiceWatcher;

namespace raid::gui {

// The ServicePort a client form is built with; it reaches the bus through the client
// once the window has made one (the engine may be built first).
class ServiceClient;
class ServiceLink final : public ServicePort {
public:
    // Window's thread: the client the calls go to (nullptr: none any more).
    void attach(ServiceClient* client);
    // Engine thread: each call goes to the window's thread and is made from there.
    void getMailSettings(ServiceMailDone done) override;
    void saveMailSettings(const SettingsEdits& values, bool newPassword, ServiceMailDone done) override;
    void sendTestMail(ServiceMailDone done) override;
    void watchDayLog(ServiceDayLogDone done) override;
    void unwatchDayLog() override;
    void getDayLog(ServiceDayLogDone done) override;
    void getOlderDayLog(const std::string& day, ServiceDayLogDone done) override;
    void startUpgrade(const std::string& enclosure, int imageFd, ServiceUpgradeDone done) override;
    void getHistory(const std::string& enclosure, std::int64_t fromMinute, ServiceHistoryDone done) override;

private:
    // False (nothing queued) when there is no client.
    bool call(std::function<void(ServiceClient&)> action);
    std::mutex mu_;
    ServiceClient* client_ = nullptr;
};

class ServiceClient : public QObject {
    Q_OBJECT
public:
    // `address` empty: the system bus; else that bus (tests).
    ServiceClient(EngineHost& host, ServiceLink& link, QString address, QObject* parent = nullptr);
    ~ServiceClient() override;

    // Connects and asks the service for its objects (starting it where the bus can).
    void start();

    // Bound on a call the service answers at once. A mail method may wait for polkit's
    // password prompt, and the test mail for the mail server: those wait longer.
    static constexpr int kCallTimeoutMs = 25000;
    static constexpr int kMailCallTimeoutMs = 600000;

    // Window's thread: the mail methods; `done` runs on the engine thread.
    void getMailSettings(ServiceMailDone done);
    void saveMailSettings(const SettingsEdits& values, bool newPassword, ServiceMailDone done);
    void sendTestMail(ServiceMailDone done);
    void dayLogCall(const QString& member, const QList<QVariant>& args, ServiceDayLogDone done);
    void unwatchDayLog();
    // Window's thread: StartUpgrade with the image's descriptor (a copy of the window's).
    void startUpgrade(const QString& enclosure, const QDBusUnixFileDescriptor& image, ServiceUpgradeDone done);
    // Window's thread: GetHistory of the enclosure object from `fromMinute` (Unix time).
    void getHistory(const QString& enclosure, std::int64_t fromMinute, ServiceHistoryDone done);
    // polkit may ask for the administrator's password before the upgrade starts.
    static constexpr int kUpgradeCallTimeoutMs = 300000;
    // While the bus itself cannot be reached, it is tried again this often.
    static constexpr int kRetryMs = 5000;

private slots:
    void interfacesAdded(const QDBusMessage& message);
    void interfacesRemoved(const QDBusMessage& message);
    void propertiesChanged(const QDBusMessage& message);
    void alertRaised(const QDBusMessage& message);
    void dayLogLine(const QDBusMessage& message);
    void jobFinished(const QDBusMessage& message);
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    bool connectBus();
    void fetch();
    void managedObjects(const QDBusMessage& reply, unsigned generation);
    void publish();
    void publishJob(const std::string& path);
    void absent(bool busReachable, const QString& why);
    void post(std::function<void(ServiceFeed&)> action);
    // Sends `call` (a method of the manager) and hands the answer to `done` on the
    // engine thread: the service's error, an error of its own when there is no bus or
    // the reply is not of `signature`, else what `read` takes from the reply. Answer is
    // one of the Service*Answer types of app/ServiceFeed.h.
    template <class Answer>
    void managerCall(const QDBusMessage& call, int timeoutMs, const QString& signature,
                     std::type_identity_t<std::function<void(const QDBusMessage&, Answer&)>> read,
                     std::function<void(const Answer&)> done);

    EngineHost& host_;
    ServiceLink& link_;
    QString address_;
    QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer retry_;
    // Every enclosure object and its properties as last heard, by path.
    std::map<std::string, BusProperties> objects_;
    // Every upgrade job object and its properties as last heard, by path.
    std::map<std::string, BusProperties> jobs_;
    std::vector<std::string> notes_;
    bool present_ = false;
    // Answers to a listing asked before the latest owner change are stale.
    unsigned generation_ = 0;
};

}  // namespace raid::gui

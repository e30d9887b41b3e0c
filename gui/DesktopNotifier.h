// Alerts as desktop notifications: org.freedesktop.Notifications on the session bus.
//
// The engine hands each alert's lines over (post, any thread); the call itself is made
// on the window's thread and never waited for, so neither thread stalls on D-Bus. No
// session bus, or nobody serving notifications on it, means simply nothing is shown.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtDBus/QDBusConnection>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace raid::gui {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // How long the notification service may take to answer a call.
    static constexpr int kCallTimeoutMs = 5000;

    // On the session bus, connected when the first alert arrives.
    explicit DesktopNotifier(QObject* parent = nullptr);
    ~DesktopNotifier() override;
    // On the bus at `address` instead (a private bus in tests); before the first alert.
    void setBusAddress(const QString& address) { address_ = address; }

    // Any thread: the alert's detail lines go to the window's thread and are shown
    // from there.
    void post(std::vector<std::string> lines);
    // Window's thread: shows the alert (first line as summary, the rest as body).
    void notify(const std::vector<std::string>& lines);

    // Device text made safe: control and format characters removed.
    static QString plainLine(const std::string& line);
    // The body: lines made plain, joined with "\n", markup characters escaped.
    static QString bodyText(const std::vector<std::string>& lines, std::size_t from);

    // Calls handed to the bus so far (window's thread).
    int callsSent() const { return sent_; }

signals:
    // A call was answered: accepted by the service, or an error (no service, timeout).
    void answered(bool accepted);
    // The bus was reached (or found missing); alerts before this wait for it.
    void busResolved(bool connected);

private:
    // Ties the connecting thread to this object: cleared when it goes.
    struct Link {
        std::mutex mu;
        DesktopNotifier* owner = nullptr;
    };
    enum class Bus { Unresolved, Connecting, Ready, Missing };

    void send(const std::vector<std::string>& lines);
    void connectBus();
    void resolved(const QDBusConnection& bus);

    std::optional<QString> address_;  // none: the session bus
    std::optional<QDBusConnection> bus_;
    Bus state_ = Bus::Unresolved;
    std::vector<std::vector<std::string>> waiting_;
    std::shared_ptr<Link> link_;
    int sent_ = 0;
};

}  // namespace raid::gui

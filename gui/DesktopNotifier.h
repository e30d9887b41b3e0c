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
    // On `bus` (a private bus in tests).
    void setConnection(const QDBusConnection& bus) { bus_ = bus; }

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

private:
    std::optional<QDBusConnection> bus_;
    int sent_ = 0;
};

}  // namespace raid::gui

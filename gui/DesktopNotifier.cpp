#include "gui/DesktopNotifier.h"

#include <QMetaObject>
#include <QVariantMap>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>

namespace raid::gui {

namespace {
constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";
}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

void DesktopNotifier::post(std::vector<std::string> lines) {
    QMetaObject::invokeMethod(this, [this, lines = std::move(lines)] { notify(lines); }, Qt::QueuedConnection);
}

QString DesktopNotifier::plainLine(const std::string& line) {
    // Names and models come from the enclosure: whatever bytes it holds. Bytes that
    // are not UTF-8 become replacement characters (D-Bus carries UTF-8 only); control
    // and format characters (C0, DEL, C1, direction overrides) would break or disguise
    // the lines, so they go.
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category cat = c.category();
        if (cat == QChar::Other_Control || cat == QChar::Other_Format) continue;
        out.append(c);
    }
    return out;
}

QString DesktopNotifier::bodyText(const std::vector<std::string>& lines, std::size_t from) {
    // Some servers read the body as simple markup: the three markup characters are
    // escaped so a model name shows as it is.
    QString body;
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (i > from) body += QLatin1Char('\n');
        QString line = plainLine(lines[i]);
        line.replace(QLatin1Char('&'), QLatin1String("&amp;"));
        line.replace(QLatin1Char('<'), QLatin1String("&lt;"));
        line.replace(QLatin1Char('>'), QLatin1String("&gt;"));
        body += line;
    }
    return body;
}

void DesktopNotifier::notify(const std::vector<std::string>& lines) {
    // A suppressed alert has no lines and nothing to show.
    if (lines.empty()) return;
    if (!bus_) bus_ = QDBusConnection::sessionBus();
    if (!bus_->isConnected()) return;

    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), QStringLiteral("Notify"));
    call << QStringLiteral("RAID GUI") << 0u << QString() << plainLine(lines.front()) << bodyText(lines, 1)
         << QStringList() << QVariantMap() << -1;
    // The call is never waited for: its answer arrives as an event (or the timeout
    // ends it), so a service that never answers costs one pending call, nothing more.
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call, kCallTimeoutMs), this);
    ++sent_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        emit answered(!w->isError());
        w->deleteLater();
    });
}

}  // namespace raid::gui

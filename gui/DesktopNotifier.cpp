#include "gui/DesktopNotifier.h"

#include <QMetaObject>
#include <QtGlobal>
#include <QVariantMap>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>

#include <atomic>
#include <thread>

namespace raid::gui {

namespace {
constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";
// Alerts kept while the bus is being reached; a burst beyond this is not worth a
// screenful of notifications.
constexpr std::size_t kMaxWaiting = 8;
}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent), link_(std::make_shared<Link>()) {
    link_->owner = this;
    // A bus that does not greet this program makes Qt drop the half-made connection in
    // a way libdbus treats as fatal by default: the window must not die for the
    // desktop's sake, so that check only warns here (unless the user chose otherwise).
    if (!qEnvironmentVariableIsSet("DBUS_FATAL_WARNINGS")) qputenv("DBUS_FATAL_WARNINGS", "0");
}

DesktopNotifier::~DesktopNotifier() {
    std::lock_guard<std::mutex> lock(link_->mu);
    link_->owner = nullptr;
}

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
    switch (state_) {
    case Bus::Ready: send(lines); return;
    case Bus::Missing: return;
    case Bus::Unresolved: connectBus(); [[fallthrough]];
    case Bus::Connecting:
        if (waiting_.size() < kMaxWaiting) waiting_.push_back(lines);
        return;
    }
}

void DesktopNotifier::connectBus() {
    state_ = Bus::Connecting;
    // Reaching the bus waits for its greeting, up to half a minute from a bus that
    // does not answer: that wait happens on a thread of its own, never the window's.
    // The thread is left to finish by itself; the link tells it whether anyone still
    // wants the answer.
    static std::atomic<int> count{0};
    const QString name = QStringLiteral("raid-gui-notify-%1").arg(++count);
    std::thread([link = link_, address = address_, name] {
        const QDBusConnection bus = address ? QDBusConnection::connectToBus(*address, name) : QDBusConnection::sessionBus();
        std::lock_guard<std::mutex> lock(link->mu);
        if (DesktopNotifier* owner = link->owner)
            QMetaObject::invokeMethod(owner, [owner, bus] { owner->resolved(bus); }, Qt::QueuedConnection);
    }).detach();
}

void DesktopNotifier::resolved(const QDBusConnection& bus) {
    const bool connected = bus.isConnected();
    state_ = connected ? Bus::Ready : Bus::Missing;
    if (connected) bus_ = bus;
    std::vector<std::vector<std::string>> waiting;
    waiting.swap(waiting_);
    emit busResolved(connected);
    if (connected)
        for (const auto& lines : waiting) send(lines);
}

void DesktopNotifier::send(const std::vector<std::string>& lines) {
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

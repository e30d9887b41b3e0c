// Alerts on the desktop: the real window on the simulated enclosure, a private D-Bus
// session bus (dbus-daemon) and a notification service of the test's own on it. A
// pulled drive is one Notify call with the alert's text; no service, a service that
// never answers, or no bus at all show nothing and hold nothing up.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVirtualObject>

#include <mutex>

#include "GuiRig.h"
#include "gui/DesktopNotifier.h"
#include "gui/pages/BaysPicture.h"

namespace raid::gui::test {
namespace {

// A session bus of the test's own, gone with the object.
class PrivateBus {
public:
    // Empty when dbus-daemon is missing or does not come up.
    // greets false: a bus whose policy swallows every reply, so the greeting a client
    // waits for never comes.
    QString start(const QString& folder, bool greets = true) {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return {};
        const QString config = folder + QStringLiteral("/bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) return {};
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                  "<busconfig><type>session</type><listen>unix:path=%1/bus</listen>\n"
                                  "<auth>EXTERNAL</auth><policy context=\"default\">\n"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/>%2\n"
                                  "<allow own=\"*\"/></policy></busconfig>\n")
                       .arg(folder, greets ? QStringLiteral("<allow eavesdrop=\"true\"/>") : QString())
                       .toUtf8());
        file.close();
        daemon_.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(5000)) return {};
        QByteArray line;
        QElapsedTimer waited;
        waited.start();
        while (!line.contains('\n') && waited.elapsed() < 5000 && daemon_.waitForReadyRead(1000))
            line += daemon_.readAllStandardOutput();
        return QString::fromUtf8(line).trimmed();
    }
    ~PrivateBus() {
        if (daemon_.state() == QProcess::NotRunning) return;
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) daemon_.kill();
        daemon_.waitForFinished(5000);
    }

private:
    QProcess daemon_;
};

// The desktop's notification service as far as the program sees it.
class NotificationServer final : public QDBusVirtualObject {
public:
    bool answers = true;  // false: takes every call and never replies

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.Notifications") ||
            message.member() != QLatin1String("Notify"))
            return false;
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back(message);
        if (answers) connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(calls_.size()))));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    std::vector<QDBusMessage> calls() {
        std::lock_guard<std::mutex> lock(mu_);
        return calls_;
    }

private:
    std::mutex mu_;
    std::vector<QDBusMessage> calls_;
};

class DesktopNotifierTest : public GuiRig {
protected:
    void TearDown() override {
        GuiRig::TearDown();
        for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
    }

    // Starts the private bus; false (and the test skips) without dbus-daemon.
    bool startBus(bool greets = true) {
        address_ = bus_.start(folder_.path(), greets);
        return !address_.isEmpty();
    }
    QDBusConnection connect(const QString& address) {
        static int count = 0;
        const QString name = QStringLiteral("raid-test-%1").arg(++count);
        connections_.push_back(name);
        return QDBusConnection::connectToBus(address, name);
    }
    // Puts a notification service on the bus.
    void serve(NotificationServer& server) {
        QDBusConnection c = connect(address_);
        ASSERT_TRUE(c.isConnected()) << c.lastError().message().toStdString();
        ASSERT_TRUE(c.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &server));
        ASSERT_TRUE(c.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    // The window on one enclosure with this model name, watched, the notifier on the
    // bus at `address`.
    void startWatched(const QString& address, const std::string& model = "SIM DUAL BAY RAID ENCLOSURE") {
        startWindow(1, sim::makeIdentityPage(sim::IdentityOptions().setModel(model)), sim::makeStatusRecord());
        session_->notifier().setBusAddress(address);
        QObject::connect(&session_->notifier(), &DesktopNotifier::answered, &session_->notifier(),
                         [this](bool ok) { ++(ok ? accepted_ : refused_); });
        QObject::connect(&session_->notifier(), &DesktopNotifier::busResolved, &session_->notifier(),
                         [this](bool connected) { resolved_ = connected ? 1 : 0; });
        ASSERT_TRUE(waitFor([this] {
            return onEngine([](MainForm& f) { return (f.RequestMask & kPollingArmed) != 0; }).value_or(false);
        }));
        // Both drives seen present first, so pulling one is a change (an alert).
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
        ASSERT_TRUE(waitFor([this] {
            const BaysView& v = widget<BaysPicture>(names::Image0_Bays)->view();
            return v.bay[0] == BayLook::Present && v.bay[1] == BayLook::Present;
        }));
    }
    // Pulls drive 2 and polls at once; returns the alert's lines.
    std::vector<std::string> pullDrive() {
        platform_.setStatus(1, sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent)));
        EXPECT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
        std::vector<std::string> lines;
        EXPECT_TRUE(waitFor([&] {
            lines = onEngine([](MainForm& f) { return f.alerts().AlertInfoLines; }).value_or(std::vector<std::string>{});
            return !lines.empty();
        }));
        return lines;
    }
    // The engine answers and the window paints within a short time.
    void expectResponsive() {
        QElapsedTimer t;
        t.start();
        settle();
        window().repaint();
        EXPECT_LT(t.elapsed(), 1000);
    }

    QTemporaryDir folder_;
    PrivateBus bus_;
    QString address_;
    std::vector<QString> connections_;
    int accepted_ = 0, refused_ = 0;
    int resolved_ = -1;  // -1: not yet; 1 connected; 0 missing
};

#define REQUIRE_BUS() \
    if (!startBus()) GTEST_SKIP() << "dbus-daemon (Debian's dbus-daemon) is not installed or does not start"

TEST_F(DesktopNotifierTest, APulledDriveIsOneNotificationWithTheAlertsText) {
    REQUIRE_BUS();
    NotificationServer server;
    serve(server);
    // A tool's own alert watcher (raid-gui-sim prints each alert) keeps working beside
    // the notifications.
    auto watched = std::make_shared<std::atomic<int>>(0);
    configureForm = [watched](MainForm& f) { f.onAlertRaised = [watched](int, int, int) { ++*watched; }; };
    startWatched(address_);
    const std::vector<std::string> lines = pullDrive();
    ASSERT_GE(lines.size(), 2u);
    ASSERT_TRUE(waitFor([&] { return !server.calls().empty() && accepted_ == 1; }));

    const QDBusMessage call = server.calls().front();
    EXPECT_EQ(call.signature(), QLatin1String("susssasa{sv}i"));
    const QList<QVariant> args = call.arguments();
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[0].toString(), QLatin1String("RAID GUI"));
    EXPECT_EQ(args[1].toUInt(), 0u);
    EXPECT_EQ(args[3].toString().toStdString(), lines.front());
    std::string body;
    for (std::size_t i = 1; i < lines.size(); ++i) body += (i > 1 ? "\n" : "") + lines[i];
    EXPECT_EQ(args[4].toString().toStdString(), body);
    EXPECT_NE(body.find("is absent"), std::string::npos) << body;

    // Polling goes on; the drive stays pulled, which is no new alert.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
        ASSERT_TRUE(waitFor([this] {
            return onEngine([](MainForm& f) { return (f.RequestMask & kRequestPoll) == 0; }).value_or(false);
        }));
    }
    settle();
    QTest::qWait(200);
    EXPECT_EQ(server.calls().size(), 1u);
    EXPECT_EQ(session_->notifier().callsSent(), 1);
    EXPECT_EQ(watched->load(), 1);
    EXPECT_EQ(refused_, 0);
}

TEST_F(DesktopNotifierTest, ControlCharactersAreDroppedAndMarkupEscaped) {
    REQUIRE_BUS();
    NotificationServer server;
    serve(server);
    // The model field as the enclosure fills it: markup characters reach the alert.
    startWatched(address_, "ACME <b>&amp; BAY");
    const std::vector<std::string> lines = pullDrive();
    ASSERT_TRUE(waitFor([&] { return server.calls().size() == 1; }));
    const QString body = server.calls().front().arguments().at(4).toString();
    EXPECT_TRUE(body.contains(QLatin1String("Model# ACME &lt;b&gt;&amp;amp; BAY"))) << body.toStdString();
    EXPECT_EQ(static_cast<std::size_t>(body.count(QLatin1Char('\n'))), lines.size() - 2);

    // Lines with every kind of control character, a direction override and bytes that
    // are not UTF-8: each line stays one line, nothing invisible gets through.
    session_->notifier().notify({"Dev\x1b[31mice\a\r\n1", "a\tb\x7f\xc2\x85" "c\xe2\x80\xae" "d\xff", std::string("x\0y", 3)});
    ASSERT_TRUE(waitFor([&] { return server.calls().size() == 2; }));
    const QList<QVariant> args = server.calls().back().arguments();
    EXPECT_EQ(args[3].toString(), QLatin1String("Dev[31mice1"));
    EXPECT_EQ(args[4].toString(), QStringLiteral("abcd\uFFFD\nxy"));
}

TEST_F(DesktopNotifierTest, ABusWithoutTheServiceShowsNothingAndHoldsNothingUp) {
    REQUIRE_BUS();
    startWatched(address_);
    pullDrive();
    // The bus says at once that nobody serves notifications.
    ASSERT_TRUE(waitFor([this] { return refused_ == 1; }));
    EXPECT_EQ(accepted_, 0);
    expectResponsive();
}

TEST_F(DesktopNotifierTest, AServiceThatNeverAnswersHoldsNothingUp) {
    REQUIRE_BUS();
    NotificationServer server;
    server.answers = false;
    serve(server);
    startWatched(address_);
    pullDrive();
    ASSERT_TRUE(waitFor([&] { return server.calls().size() == 1; }));
    // The call is outstanding; the engine polls and the window paints meanwhile.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
        expectResponsive();
    }
    EXPECT_EQ(accepted_ + refused_, 0);
    // The call times out in the end and is let go.
    ASSERT_TRUE(QTest::qWaitFor([this] { return refused_ == 1; }, DesktopNotifier::kCallTimeoutMs + kWaitMs));
}

TEST_F(DesktopNotifierTest, NoBusAtAllShowsNothing) {
    // Nothing listens at this address.
    startWatched(QStringLiteral("unix:path=") + folder_.path() + QStringLiteral("/no-bus"));
    pullDrive();
    ASSERT_TRUE(waitFor([this] { return resolved_ == 0; }));
    QTest::qWait(100);
    EXPECT_EQ(session_->notifier().callsSent(), 0);
    EXPECT_EQ(accepted_ + refused_, 0);
    expectResponsive();
}

TEST_F(DesktopNotifierTest, ABusThatNeverGreetsHoldsNothingUpAndTakesNothingDown) {
    if (!startBus(false)) GTEST_SKIP() << "dbus-daemon (Debian's dbus-daemon) is not installed or does not start";
    startWatched(address_);
    pullDrive();
    // Reaching the bus is waiting for its answer meanwhile; the window and the engine
    // go on as if there were no desktop at all.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
        expectResponsive();
        QTest::qWait(300);
    }
    EXPECT_EQ(resolved_, -1);
    // The connection attempt gives up in the end: nothing shown, the program alive.
    ASSERT_TRUE(QTest::qWaitFor([this] { return resolved_ == 0; }, 60000));
    EXPECT_EQ(session_->notifier().callsSent(), 0);
    expectResponsive();
}

}  // namespace
}  // namespace raid::gui::test

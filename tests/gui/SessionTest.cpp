// Session end: SIGTERM / SIGHUP / SIGINT ask the engine, the window keeps working while it
// waits, and the programs built on runWindow end cleanly.
#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

#include "GuiRig.h"

#ifdef __linux__
#include "platform/linux/LinuxInstanceLock.h"
#endif

namespace raid::gui::test {
namespace {

using SessionTest = GuiRig;

TEST_F(SessionTest, TerminateSignalEndsTheProgramThroughTheEngine) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(session_->sessionEnd().signalsInstalled());
    std::raise(SIGTERM);
    ASSERT_TRUE(waitFor([this] { return quits_.load() == 1; }));
    EXPECT_FALSE(session_->sessionEnd().asking());
    // The engine closed the form on its way out.
    EXPECT_EQ(onEngine([](MainForm& f) { return f.scheduler().timerEnabled(f.Timer4); }), false);
    EXPECT_TRUE(window().close()) << "the application may now close the window";
}

// SIGHUP when the terminal goes, SIGINT from Ctrl-C in it: both are the session's end,
// refused while the flash is written.
TEST_F(SessionTest, HangUpOrCtrlCDuringUpgradeIsRefusedWithTheBoxShownMeanwhile) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(session_->sessionEnd().signalsInstalled());
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.MaintenanceBusy = true; }).has_value());
    // Shown for real: the engine asks while the window is waiting for its answer.
    dialogs().setTestHook(nullptr);
    for (const int signal : {SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        QString seenText, seenTitle;
        bool askingWhileShown = false;
        auto* clicker = new QTimer(&window());
        QObject::connect(clicker, &QTimer::timeout, [&, clicker] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            clicker->stop();
            clicker->deleteLater();
            seenText = box->text();
            seenTitle = box->windowTitle();
            askingWhileShown = session_->sessionEnd().asking();
            box->button(QMessageBox::Ok)->click();
        });
        clicker->start(10);

        std::raise(signal);
        ASSERT_TRUE(waitFor([&] { return !seenText.isEmpty() && !session_->sessionEnd().asking(); }));
        EXPECT_EQ(seenText, QLatin1String("Firmware is upgrading, please wait a moment."));
        EXPECT_EQ(seenTitle, QLatin1String("Message"));
        EXPECT_TRUE(askingWhileShown) << "the box was shown while the session end waited for the engine";
        settle();
        EXPECT_EQ(quits_.load(), 0);
        EXPECT_TRUE(window().isVisible());
        EXPECT_FALSE(window().close()) << "a refused session end does not let the window close";
    }
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.MaintenanceBusy = false; }).has_value());
}

TEST_F(SessionTest, RequestWhileAnsweringIsTheSameSessionEnd) {
    startWindow(0);
    settle();
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.MaintenanceBusy = true; }).has_value());
    dialogs().setTestHook(nullptr);
    bool nested = true;
    auto* clicker = new QTimer(&window());
    QObject::connect(clicker, &QTimer::timeout, [&, clicker] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        clicker->stop();
        nested = session_->sessionEnd().query();  // a second request meanwhile
        box->button(QMessageBox::Ok)->click();
    });
    clicker->start(10);
    EXPECT_FALSE(session_->sessionEnd().query());
    EXPECT_FALSE(nested);
    EXPECT_EQ(dialogs().shown().size(), 1u) << "the second request asked the engine again";
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.MaintenanceBusy = false; }).has_value());
}

QProcessEnvironment offscreen() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

TEST(ProgramTest, WindowProgramEndsCleanlyOnTerminate) {
    QProcess program;
    program.setProcessEnvironment(offscreen());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(RAID_GUI_SMOKE), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray out;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            program.waitForReadyRead(50);
            out += program.readAllStandardOutput();
            return out.contains("engine started") && out.contains("detected");
        },
        20000))
        << out.constData();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    out += program.readAllStandardOutput();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "killed by the signal instead of ending";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(out.contains("exited 0")) << out.constData();
}

#ifdef __linux__
// Starts raid-gui while another instance holds the lock: it must end at once, with 0.
void expectSecondInstanceEnds(const QProcessEnvironment& env) {
    QProcess second;
    second.setProcessEnvironment(env);
    // A bus nobody listens on: the test never reaches the machine's own system bus.
    second.start(QStringLiteral(RAID_GUI_PROGRAM), {QStringLiteral("--bus"), QStringLiteral("unix:path=/nonexistent/bus")});
    ASSERT_TRUE(second.waitForStarted(10000));
    // A second instance that opened its window would run until told to stop.
    const bool ended = second.waitForFinished(20000);
    if (!ended) second.kill();
    ASSERT_TRUE(ended) << "the second instance kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
}

TEST(ProgramTest, SecondInstanceEndsAtOnceWithoutAWindow) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    // The running instance: this test holds the lock the program takes.
    linuxport::LinuxInstanceLock first(runtime.path().toStdString());
    ASSERT_TRUE(first.acquire("QX_GUI"));

    QProcessEnvironment env = offscreen();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    expectSecondInstanceEnds(env);
    first.release();
}

TEST(ProgramTest, StartedTwiceTheFirstKeepsRunning) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    QProcessEnvironment env = offscreen();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(RAID_GUI_PROGRAM), {QStringLiteral("--bus"), QStringLiteral("unix:path=/nonexistent/bus")});
    ASSERT_TRUE(first.waitForStarted(10000));
    // The first is up once it holds the lock.
    linuxport::LinuxInstanceLock probe(runtime.path().toStdString());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (!probe.acquire("QX_GUI")) return true;
            probe.release();
            return false;
        },
        20000));

    expectSecondInstanceEnds(env);
    // The first is undisturbed, and still ends normally when the session does.
    EXPECT_FALSE(first.waitForFinished(500));
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}
#endif

}  // namespace
}  // namespace raid::gui::test

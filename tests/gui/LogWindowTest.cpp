// The event log window: live while polling is armed, paused (grey, no new lines)
// while it is not, and a log file on request.
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "GuiRig.h"
#include "gui/LogWindow.h"

namespace raid::gui::test {
namespace {

struct LogWindowTest : GuiRig {
    // The window with no enclosure, `line` in the day log and the event log window opened
    // by its image; nullptr when it did not open.
    TForm5* openLogWith(const char* line) {
        startWindow(0);  // no enclosure: polling is never armed
        if (!waitFor([this] { return widget<QLabel>("StaticText1")->text() == QLatin1String("No Drive found! "); }))
            return nullptr;
        const bool clicked = onEngine([line](MainForm& f) {
                                 f.eventLog().addLine(line);
                                 f.Click("Image0_Log");
                                 return 0;
                             }).has_value();
        if (!clicked || !waitFor([this] { return session_->logWindow() && session_->logWindow()->isVisible(); }))
            return nullptr;
        return session_->logWindow();
    }
};

TEST_F(LogWindowTest, FollowsTheDayLinesAndPausesWithPolling) {
    TForm5* log = openLogWith("first line");
    ASSERT_NE(log, nullptr);
    auto* text = log->findChild<QPlainTextEdit*>(QStringLiteral("LogText"));
    ASSERT_NE(text, nullptr);
    // Opening shows what there is, even while paused.
    ASSERT_TRUE(waitFor([&] { return text->toPlainText() == QLatin1String("first line"); }));
    EXPECT_EQ(log->windowTitle(), TForm5::kPausedCaption);
    EXPECT_EQ(text->palette().color(QPalette::Text), QColor(0x80, 0x80, 0x80));

    // A click on the log image while the window is open does not open another.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.Click("Image0_Log"), 0; }).has_value());
    settle();
    EXPECT_EQ(session_->logWindow(), log);
    EXPECT_EQ(window().findChildren<TForm5*>().size(), 1);

    // Lines written while paused wait for monitoring to resume.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.eventLog().addLine("second line"), 0; }).has_value());
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kPollingArmed; }).has_value());
    ASSERT_TRUE(waitFor([&] { return log->windowTitle() == TForm5::kLiveCaption; }));
    ASSERT_TRUE(waitFor([&] { return text->toPlainText() == QLatin1String("first line\nsecond line"); }));
    EXPECT_NE(text->palette().color(QPalette::Text), QColor(0x80, 0x80, 0x80));
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.eventLog().addLine("third line"), 0; }).has_value());
    ASSERT_TRUE(waitFor([&] { return text->toPlainText().endsWith(QLatin1String("second line\nthird line")); }));
    EXPECT_EQ(text->toPlainText().count(QLatin1String("first line")), 1) << "lines were appended twice";

    // An older file, then back to the live log.
    const QString path = logs_.filePath(QStringLiteral("261207.log"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old one\r\nold two\r\n");
    file.close();
    log->viewFile(path);
    ASSERT_TRUE(waitFor([&] { return log->windowTitle() == QLatin1String("Event log - 261207.log"); }));
    EXPECT_EQ(text->toPlainText(), QLatin1String("old one\nold two"));
    const QString missing = logs_.filePath(QStringLiteral("missing.log"));
    log->viewFile(missing);
    ASSERT_TRUE(waitFor([&] { return !dialogs().shown().empty(); }));
    EXPECT_EQ(dialogs().shown().back().text, "Log file " + missing.toStdString() + " does not exist");
    EXPECT_EQ(text->toPlainText(), QLatin1String("old one\nold two"));
    log->realTime();
    ASSERT_TRUE(waitFor([&] { return text->toPlainText() == QLatin1String("first line\nsecond line\nthird line"); }));
    EXPECT_EQ(log->windowTitle(), TForm5::kLiveCaption);
}

// "View Log File" on files the window's thread must never open: a FIFO (opening it
// waits for a writer), /dev/zero and a link to it (reading never ends), a file of 1 GiB.
// Each is refused at once with a box saying why; the window stays as it was and goes on.
TEST_F(LogWindowTest, AFileThatWouldBlockOrNeverEndIsRefusedAtOnce) {
    TForm5* log = openLogWith("live line");
    ASSERT_NE(log, nullptr);
    auto* text = log->findChild<QPlainTextEdit*>(QStringLiteral("LogText"));
    ASSERT_TRUE(waitFor([&] { return text->toPlainText() == QLatin1String("live line"); }));
    const QString caption = log->windowTitle();
    const auto refused = [&](const std::string& path, const std::string& why) {
        const std::size_t before = dialogs().shown().size();
        if (!waitFor([&] { return dialogs().shown().size() > before; })) return ::testing::AssertionFailure() << "no box";
        const std::string said = dialogs().shown().back().text;
        if (said != "Log file " + path + why) return ::testing::AssertionFailure() << said;
        if (text->toPlainText() != QLatin1String("live line") || log->windowTitle() != caption)
            return ::testing::AssertionFailure() << "the window changed";
        return ::testing::AssertionSuccess();
    };

    // Should the window's thread block on the FIFO, a writer comes after a while and
    // lets it go, so that the test fails rather than hangs.
    const std::string fifo = logs_.filePath(QStringLiteral("fifo.log")).toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::atomic<bool> returned{false}, released{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (returned) return;
        released = true;
        const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    log->viewFile(QString::fromStdString(fifo));
    returned = true;
    watchdog.join();
    ASSERT_FALSE(released) << "the window's thread blocked on the FIFO";
    ASSERT_TRUE(refused(fifo, " is not a regular file"));

    // Through the button and the file dialog, as the user does it.
    std::string chosen;
    dialogs().setFileHook([&](const std::string&) { return chosen; });
    auto* button = log->findChild<QPushButton*>(QStringLiteral("ViewLogFile"));
    ASSERT_NE(button, nullptr);
    chosen = "/dev/zero";
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(refused(chosen, " is not a regular file"));
    chosen = logs_.filePath(QStringLiteral("zero.log")).toStdString();
    ASSERT_EQ(::symlink("/dev/zero", chosen.c_str()), 0);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(refused(chosen, " is not a regular file"));
    chosen = logs_.filePath(QStringLiteral("huge.log")).toStdString();
    {
        QFile huge(QString::fromStdString(chosen));
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_TRUE(huge.resize(qint64{1} << 30));  // sparse
    }
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(refused(chosen, " is larger than 16 MiB"));
    chosen.clear();  // the dialog cancelled: nothing happens
    const std::size_t boxes = dialogs().shown().size();
    QTest::mouseClick(button, Qt::LeftButton);
    settle();
    EXPECT_EQ(dialogs().shown().size(), boxes);

    // The window goes on: back to the day log, which has grown meanwhile.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.eventLog().addLine("later line"), 0; }).has_value());
    QTest::mouseClick(log->findChild<QPushButton*>(QStringLiteral("RealTimeLog")), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return text->toPlainText() == QLatin1String("live line\nlater line"); }));
}

// Closed with Escape before the engine has answered its first question: the answer
// arrives for a window that is gone and is dropped (a keyboard user is that fast).
TEST_F(LogWindowTest, ClosedBeforeTheEngineAnswersDropsTheAnswer) {
    startWindow(0);
    settle();
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> held = release->get_future().share();
    host_->post([held](MainForm& f) {
        f.Click("Image0_Log");
        held.wait();  // the engine is busy until the window is gone
    });
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() && session_->logWindow()->isVisible(); }));
    session_->logWindow()->activateWindow();
    QTest::keyClick(session_->logWindow(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(session_->logWindow(), nullptr);
    release->set_value();
    settle();
    QCoreApplication::processEvents();
    EXPECT_EQ(onEngine([](MainForm& f) { return f.logWindowOpen(); }), false);
}

}  // namespace
}  // namespace raid::gui::test

// The event log window: live while polling is armed, paused (grey, no new lines)
// while it is not, and a log file on request.
#include <QFile>
#include <QPlainTextEdit>

#include "GuiRig.h"
#include "gui/LogWindow.h"

namespace raid::gui::test {
namespace {

using LogWindowTest = GuiRig;

TEST_F(LogWindowTest, FollowsTheDayLinesAndPausesWithPolling) {
    startWindow(0);  // no enclosure: polling is never armed
    ASSERT_TRUE(waitFor([this] { return widget<QLabel>("StaticText1")->text() == QLatin1String("No Drive found! "); }));
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    f.eventLog().addLine("first line");
                    f.Click("Image0_Log");
                    return 0;
                }).has_value());
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() && session_->logWindow()->isVisible(); }));
    TForm5* log = session_->logWindow();
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
    ASSERT_TRUE(log->viewFile(path));
    EXPECT_EQ(log->windowTitle(), QLatin1String("Event log - 261207.log"));
    EXPECT_EQ(text->toPlainText(), QLatin1String("old one\nold two"));
    EXPECT_FALSE(log->viewFile(logs_.filePath(QStringLiteral("missing.log"))));
    EXPECT_EQ(text->toPlainText(), QLatin1String("old one\nold two"));
    log->realTime();
    ASSERT_TRUE(waitFor([&] { return text->toPlainText() == QLatin1String("first line\nsecond line\nthird line"); }));
    EXPECT_EQ(log->windowTitle(), TForm5::kLiveCaption);
}

}  // namespace
}  // namespace raid::gui::test

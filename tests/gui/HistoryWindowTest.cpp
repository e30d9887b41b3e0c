// The history chart window: opened from the fan and temperature panel of a real
// Status page on a simulated enclosure, fed by a source standing in for the store.
#include <QKeyEvent>
#include <QPushButton>

#include <ctime>

#include "GuiRig.h"
#include "gui/HistoryWindow.h"
#include "sim/run/SyntheticHistory.h"

namespace raid::gui::test {
namespace {

struct HistoryWindowTest : GuiRig {
    // One enclosure on the Status page with `source` as its history.
    void startWith(HistorySource* source) {
        configureForm = [source](MainForm& f) { f.historyWindow().setSource(source); };
        startWindow(1);
        ASSERT_TRUE(waitForDetection());
        ASSERT_TRUE(waitFor([this] { return widget<QWidget>("Panel11")->isVisible(); }));
    }
    // Engine-thread poster for the fake source.
    std::function<void(std::function<void()>)> engine() {
        return [this](std::function<void()> fn) { host_->post([fn = std::move(fn)](MainForm&) { fn(); }); };
    }
    HistoryWindow* chartWindow() { return session_->historyWindow(); }
    bool showing(const std::string& message) {
        return chartWindow() && chartWindow()->isVisible() && chartWindow()->chart().message == message;
    }
};

TEST_F(HistoryWindowTest, PanelClickShowsTheChartAndTheRangeButtonsSwitchIt) {
    sim::FakeHistorySource source(engine(), sim::fanFailureHistory(static_cast<double>(std::time(nullptr))));
    startWith(&source);
    // The "Fan" caption, not a control of its own: the panel takes the click.
    auto* panel = widget<QWidget>("Panel11");
    QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(20, 16));
    ASSERT_TRUE(waitFor([&] { return showing("") && !chartWindow()->chart().fan.lines.empty(); }));
    HistoryWindow* w = chartWindow();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("History - SIM DUAL BAY RAID ENCLOSURE 0000000001 - last 24 hours"));
    EXPECT_EQ(w->chart().range, HistoryRange::Day);
    EXPECT_TRUE(w->rangeButton(HistoryRange::Day)->isChecked());
    EXPECT_GE(w->chart().timeTicks.size(), 7u);

    // 7 days: the fan alarm of day 3 and its threshold; asked from the range's start.
    QTest::mouseClick(w->rangeButton(HistoryRange::Week), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return showing("") && w->chart().range == HistoryRange::Week; }));
    EXPECT_EQ(w->chart().fan.alarms.size(), 1u);
    EXPECT_TRUE(w->chart().fan.threshold.shown);
    EXPECT_TRUE(w->rangeButton(HistoryRange::Week)->isChecked());
    EXPECT_FALSE(w->rangeButton(HistoryRange::Day)->isChecked());
    EXPECT_NEAR(static_cast<double>(source.lastFrom()), static_cast<double>(std::time(nullptr)) - 7 * 86400.0, 600.0);
    // Drawn: the alarm's shading, the fan's line and the dashed threshold are on screen,
    // at any size the window is given.
    for (QSize size : {QSize(900, 620), QSize(480, 400)}) {
        w->resize(size);
        QCoreApplication::processEvents();
        const QImage image = w->view()->grab().toImage();
        int alarm = 0, fanInk = 0, threshold = 0;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 240 && c.green() > 200 && c.green() < 235 && c.blue() < 235 && c.blue() > 200) ++alarm;
                if (c == QColor(0x2E, 0x6D, 0xA4)) ++fanInk;
                if (c == QColor(0xC0, 0x20, 0x20)) ++threshold;
            }
        EXPECT_GT(alarm, 50) << size.width();
        EXPECT_GT(fanInk, 20) << size.width();
        EXPECT_GT(threshold, 5) << size.width();
    }
    // Tab reaches the range buttons; 90 days by the keyboard.
    w->activateWindow();
    w->rangeButton(HistoryRange::Week)->setFocus();
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->rangeButton(HistoryRange::Quarter));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return showing("") && w->chart().range == HistoryRange::Quarter; }));
}

TEST_F(HistoryWindowTest, SilentOrMissingSourceLeavesTheWindowResponsive) {
    sim::FakeHistorySource source(engine(), sim::fanFailureHistory(static_cast<double>(std::time(nullptr))), true);
    startWith(&source);
    // The temperature figure opens it too; the source never answers.
    QTest::mouseClick(widget<QWidget>("Label7"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return showing("Loading..."); }));
    QPointer<HistoryWindow> w = chartWindow();
    // The main window and the engine go on: a page switch is served.
    QTest::mouseClick(widget<QWidget>("Image_About"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return currentPage() == 4; }));
    QTest::mouseClick(widget<QWidget>("Image_Sts"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return currentPage() == 0; }));
    // Escape closes it; the answer that comes afterwards opens nothing.
    QTest::keyClick(w.data(), Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return w.isNull(); }));
    ASSERT_TRUE(waitFor([&] { return !onEngine([](MainForm& f) { return f.historyWindow().open(); }).value_or(true); }));
    source.release();
    settle();
    settle();
    EXPECT_EQ(chartWindow(), nullptr);

    // No history source at all: the window says so.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.historyWindow().setSource(nullptr), 0; }).has_value());
    QTest::mouseClick(widget<QWidget>("Panel11"), Qt::LeftButton, {}, QPoint(200, 16));
    ASSERT_TRUE(waitFor([&] { return showing("The history is not available"); }));
}

}  // namespace
}  // namespace raid::gui::test

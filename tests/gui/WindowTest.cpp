// The main window as the user meets it: layout, start-up with and without an
// enclosure, navigation, and what the window forwards to the engine.
#include <QAbstractButton>
#include <QCheckBox>
#include <QProgressBar>
#include <QStackedWidget>

#include "GuiRig.h"
#include "gui/LogWindow.h"

namespace raid::gui::test {
namespace {

using WindowTest = GuiRig;

TEST_F(WindowTest, LayoutAndEveryControlTheEngineFills) {
    startWindow(0);
    TForm1& w = window();
    EXPECT_EQ(w.objectName(), QLatin1String("TForm1"));
    EXPECT_EQ(w.size(), QSize(620, 440));
    EXPECT_EQ(w.minimumSize(), QSize(620, 440));
    EXPECT_EQ(w.maximumSize(), QSize(620, 440));
    const Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.font().family(), QLatin1String("Arial"));
    EXPECT_EQ(w.font().pixelSize(), 13);
    EXPECT_EQ(w.palette().color(QPalette::Window), QColor(Qt::white));
    // The other two forms exist from the start, hidden, created in this order.
    QStringList order;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("TForm5") || top->objectName() == QLatin1String("TForm7"))
            order << top->objectName();
    EXPECT_TRUE(order.contains(QStringLiteral("TForm5")));
    EXPECT_TRUE(order.contains(QStringLiteral("TForm7")));

    auto* book = widget<QStackedWidget>("Notebook1");
    ASSERT_NE(book, nullptr);
    EXPECT_EQ(book->geometry(), QRect(216, 74, 385, 321));
    EXPECT_EQ(book->count(), 5);

    auto* bar = widget("StatusBar1");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(0, 421, 620, 19));
    const int panelStart[5] = {0, 120, 200, 280, 380};
    for (int i = 0; i < 5; ++i) {
        auto* panel = window().control<QLabel>(QString::fromStdString(panelName(i)));
        ASSERT_NE(panel, nullptr) << i;
        EXPECT_EQ(panel->parentWidget(), bar);
        EXPECT_GE(panel->x(), panelStart[i]) << i;
        EXPECT_LE(panel->x(), panelStart[i] + 5) << i;
    }

    // Every control of the shared list exists in the window by its name, and is found
    // by objectName the way tests and tools look for it; the other windows' controls
    // live in their own windows.
    const std::set<std::string> elsewhere = {"TForm1", "TForm5", "TForm7", "LogText", "RealTimeLog", "ViewLogFile"};
    for (const std::string& name : names::all()) {
        if (elsewhere.count(name)) continue;
        QWidget* c = window().control(QString::fromStdString(name));
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c, w.findChild<QWidget*>(QString::fromStdString(name))) << name;
    }
    // And the other way round: every named control of the window is in the list, so
    // the engine can reach it (the drive pictures are the window's own decoration).
    for (QWidget* child : w.findChildren<QWidget*>()) {
        const std::string name = child->objectName().toStdString();
        if (name.empty() || name.rfind("qt_", 0) == 0 || name.rfind("DrivePicture", 0) == 0) continue;
        EXPECT_TRUE(names::known(name)) << name;
    }
    EXPECT_EQ(widget<QCheckBox>("CheckBox2")->text(), QLatin1String("Don't send EMail for this event."));
    auto* sub = widget<QStackedWidget>("Notebook2");
    ASSERT_EQ(sub->count(), 3);
    EXPECT_EQ(sub->widget(1)->property("pageCaption").toString(), QLatin1String("HDD_Fail"));
    for (const char* hidden : {"Memo1", "Memo2", "Memo7"}) EXPECT_TRUE(widget(hidden)->isHidden()) << hidden;
}

// The captions are the engine's to publish like any other text: once start-up has
// settled (the engine has resent its whole picture), every captioned control still
// reads its caption, on every page and sub-page the user can open.
TEST_F(WindowTest, EveryCaptionShowsAfterStartUpOnEveryPageAndSubPage) {
    const std::map<std::string, QString> captions = {
        {names::CheckBox1, QStringLiteral("Device1")},
        {names::CheckBox3, QStringLiteral("Device2")},
        {names::CheckBox8, QStringLiteral("SMTP Login Authentication")},
        {names::CheckBox2, QStringLiteral("Don't send EMail for this event.")},
        {names::CheckBox4, QStringLiteral("Don't send EMail for this event.")},
    };
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return !f.dev.FirstPass; }).value_or(false); }));
    settle();
    std::set<std::string> seen;
    auto look = [&](const char* where) {
        settle();
        for (const auto& [name, caption] : captions) {
            auto* box = widget<QAbstractButton>(name.c_str());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text().toStdString(), caption.toStdString()) << name << " on " << where;
            if (box->isVisible()) seen.insert(name);
        }
    };
    auto click = [this](const char* name) {
        QTest::mouseClick(widget(name), Qt::LeftButton, {}, centre(widget(name)));
    };
    look("the Status page");
    click(names::Image_FWUpg);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 2; }));
    look("the Upgrade page");
    click(names::Image_About);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 4; }));
    look("the About page");
    click(names::Image_Email);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 3; }));
    auto* sub = widget<QStackedWidget>(names::Notebook2);
    for (int i = 2; i >= 0; --i) {
        click(names::emailSubPageImages[static_cast<std::size_t>(i)]);
        ASSERT_TRUE(waitFor([&] { return sub->currentIndex() == i; }));
        look(sub->currentWidget()->property("pageCaption").toString().toLatin1().constData());
    }
    // Each caption was on the screen somewhere (the second device's box waits for a
    // second enclosure).
    EXPECT_EQ(seen, (std::set<std::string>{names::CheckBox1, names::CheckBox8, names::CheckBox2, names::CheckBox4}));
}

TEST_F(WindowTest, WithoutEnclosureNavigationStaysDisabled) {
    startWindow(0);
    ASSERT_TRUE(waitFor([this] { return window().windowTitle() == QLatin1String("RAID GUI v0.23.7-3"); }));
    ASSERT_TRUE(waitFor([this] { return widget<QLabel>("StaticText1")->text() == QLatin1String("No Drive found! "); }));
    settle();
    EXPECT_TRUE(widget("StaticText1")->isVisible());
    EXPECT_EQ(widget<QLabel>("Label63")->text(), QLatin1String("RAID Management Sofeware"));
    EXPECT_EQ(widget<QLabel>("Label65")->text(), QLatin1String("v0.23.7-3"));

    // Four navigation images in the first four slots; page 1's image never shows.
    const char* nav[] = {"Image_Sts", "Image_FWUpg", "Image_Email", "Image_About"};
    const int slotY[] = {112, 168, 224, 280};
    for (int i = 0; i < 4; ++i) {
        QWidget* img = widget(nav[i]);
        EXPECT_TRUE(img->isVisible()) << nav[i];
        EXPECT_EQ(img->pos(), QPoint(16, slotY[i])) << nav[i];
        EXPECT_EQ(img->size(), QSize(169, 44)) << nav[i];
        EXPECT_FALSE(img->isEnabled()) << nav[i];
    }
    EXPECT_FALSE(widget("Image_Page1")->isVisible());
    EXPECT_FALSE(widget("CheckBox1")->isVisible());
    EXPECT_FALSE(widget("CheckBox3")->isVisible());

    // A disabled image does not react to the mouse.
    QTest::mouseClick(widget("Image_FWUpg"), Qt::LeftButton, {}, centre(widget("Image_FWUpg")));
    settle();
    EXPECT_EQ(currentPage(), 0);
    EXPECT_EQ(widget<QStackedWidget>("Notebook1")->currentIndex(), 0);
}

TEST_F(WindowTest, OneEnclosureEnablesNavigationAndShowsDevice1) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    settle();
    for (const char* nav : {"Image_Sts", "Image_FWUpg", "Image_Email", "Image_About"})
        EXPECT_TRUE(widget(nav)->isEnabled()) << nav;
    auto* box = widget<QCheckBox>("CheckBox1");
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(box->text(), QLatin1String("Device1"));
    EXPECT_FALSE(widget("CheckBox3")->isVisible());
    EXPECT_TRUE(widget("Image0_D1")->isVisible());
    EXPECT_FALSE(widget("Image0_D2")->isVisible());
    EXPECT_FALSE(widget("StaticText1")->isVisible());
    EXPECT_TRUE(window().windowTitle().startsWith(QLatin1String("RAID GUI v0.23.7-3")));
    // Hints stay up six seconds, on every control.
    EXPECT_EQ(window().hintHidePause(), 6000);
    EXPECT_EQ(widget("CheckBox1")->toolTipDuration(), 6000);
}

TEST_F(WindowTest, BeforeTheFirstStatusDrawOnlyUpgradeReacts) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    // Hold the start-up pass where it is (no poll can draw the Status page now), so
    // the test does not race the first poll.
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    f.scheduler().setTimerEnabled(f.Timer2, false);
                    f.RequestMask = 0;
                    f.dev.FirstPass = true;
                    return 0;
                }).has_value());
    settle();
    auto* book = widget<QStackedWidget>("Notebook1");
    auto click = [this](const char* name) {
        QWidget* img = widget(name);
        ASSERT_TRUE(img->isEnabled()) << name;
        QTest::mouseClick(img, Qt::LeftButton, {}, centre(img));
        settle();
    };

    click("Image_Email");
    EXPECT_EQ(currentPage(), 0);
    click("Image_About");
    EXPECT_EQ(currentPage(), 0);
    EXPECT_EQ(book->currentIndex(), 0);

    click("Image_FWUpg");
    EXPECT_EQ(currentPage(), 2);
    EXPECT_EQ(book->currentIndex(), 2);
    EXPECT_EQ(widget<ImageControl>("Image_FWUpg")->pictureName(), QLatin1String("Image_FWUpg_Yellow"));
    EXPECT_EQ(widget<ImageControl>("Image_Sts")->pictureName(), QLatin1String("Image_Sts_White"));
    EXPECT_EQ(widget<ImageControl>("Image_FWUpg")->shown().cacheKey(),
              widget<ImageControl>("Image_FWUpg_Yellow")->ownPicture().cacheKey());

    click("Image_Sts");
    EXPECT_EQ(currentPage(), 2);

    // Once the Status page has been drawn, the other pages open too.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.dev.FirstPass = false; }).has_value());
    click("Image_About");
    EXPECT_EQ(currentPage(), 4);
    EXPECT_EQ(book->currentIndex(), 4);
}

TEST_F(WindowTest, StatusBarDoubleClickShowsSystemInformation) {
    startWindow(0);
    settle();
    QWidget* bar = widget("StatusBar1");
    QTest::mouseDClick(window().control(QStringLiteral("StatusBar1.Panel3")), Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return !dialogs().shown().empty(); }));
    settle();
    std::vector<GuiDialogs::Shown> boxes = dialogs().shown();
    ASSERT_EQ(boxes.size(), 1u) << "one double click, one box";
    EXPECT_EQ(boxes[0].caption, "System Information");
    EXPECT_EQ(boxes[0].buttons, DialogPort::OkOnly);
    const std::string& text = boxes[0].text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
    EXPECT_NE(text.find("=========== [System Information] =============="), std::string::npos) << text;
    EXPECT_NE(text.find("\nMotherBoard : Acme - Board-7"), std::string::npos) << text;
    EXPECT_NE(text.find("\nSystem Name : HOST1"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIP Address  : 10.0.0.7"), std::string::npos) << text;

    // The bar itself (between panels) answers the same way.
    QTest::mouseDClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 2, 10));
    ASSERT_TRUE(waitFor([this] { return dialogs().shown().size() == 2; }));
}

TEST_F(WindowTest, PushImagePressedLookAndClickOpensTheEventLog) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    settle();
    auto* log = widget<ImageControl>("Image0_Log");
    ASSERT_TRUE(log->isVisible());
    const QPoint rest = log->pos();

    // A release away from the image is no click, but the image still comes back up.
    QTest::mousePress(log, Qt::LeftButton, {}, centre(log));
    settle();
    EXPECT_EQ(log->pos(), rest + QPoint(0, 2));
    QTest::mouseRelease(log, Qt::LeftButton, {}, QPoint(-20, -20));
    settle();
    EXPECT_EQ(log->pos(), rest);
    QCoreApplication::processEvents();
    EXPECT_EQ(session_->logWindow(), nullptr);

    QTest::mousePress(log, Qt::LeftButton, {}, centre(log));
    settle();
    EXPECT_EQ(log->pos(), rest + QPoint(0, 2));
    QTest::mouseRelease(log, Qt::LeftButton, {}, centre(log));
    settle();
    EXPECT_EQ(log->pos(), rest);
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() && session_->logWindow()->isVisible(); }));
    TForm5* logWindow = session_->logWindow();
    // Polling is armed once the enclosure is found: the log is live.
    ASSERT_TRUE(waitFor([&] { return logWindow->windowTitle() == TForm5::kLiveCaption; }));
    EXPECT_EQ(onEngine([](MainForm& f) { return f.logWindowOpen(); }), true);

    logWindow->close();
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() == nullptr; }));
    settle();
    EXPECT_EQ(onEngine([](MainForm& f) { return f.logWindowOpen(); }), false);
}

TEST_F(WindowTest, LabelClicksReachTheEngine) {
    startWindow(0);
    settle();
    QWidget* label = widget("Label17");
    QTest::mouseClick(label, Qt::LeftButton, {}, centre(label));
    settle();
    const std::vector<std::string> seen = clicks();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "Label17"), 1);
}

TEST_F(WindowTest, CheckBoxClicksAreForwardedAndEngineChangesAreNotEchoed) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    settle();
    auto* box = widget<QCheckBox>("CheckBox1");
    ASSERT_TRUE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    settle();
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(onEngine([](MainForm& f) { return f.controls().checked("CheckBox1"); }), false);
    EXPECT_EQ(checkBoxClicks(), std::vector<std::string>{"CheckBox1=off"});

    ASSERT_TRUE(onEngine([](MainForm& f) { return f.controls().setChecked("CheckBox1", true), 0; }).has_value());
    settle();
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(checkBoxClicks(), std::vector<std::string>{"CheckBox1=off"}) << "the engine's own change came back";
}

TEST_F(WindowTest, CloseButtonAsksTheEngine) {
    startWindow(0);
    settle();
    // While the firmware is written the close is refused and the window stays.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.MaintenanceBusy = true; }).has_value());
    EXPECT_FALSE(window().close());
    settle();
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(quits_.load(), 0);

    ASSERT_TRUE(onEngine([](MainForm& f) { return f.MaintenanceBusy = false; }).has_value());
    EXPECT_FALSE(window().close()) << "the window waits for the engine's decision";
    ASSERT_TRUE(waitFor([this] { return quits_.load() == 1; }));
    // The granted close goes through when the application closes its windows.
    EXPECT_TRUE(window().close());
}

}  // namespace
}  // namespace raid::gui::test

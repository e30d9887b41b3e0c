// Engine changes reaching the widgets: every property, whole-state resends, colours,
// pictures, pages, positions, and user edits travelling the other way.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTextDocument>

#include "GuiRig.h"
#include "gui/pages/BaysPicture.h"

namespace raid::gui::test {
namespace {

using BridgeTest = GuiRig;

QColor ink(QWidget* w) { return w->palette().color(QPalette::Active, QPalette::WindowText); }

TEST_F(BridgeTest, ColoursHintsAndUnknownNames) {
    startWindow(0);
    settle();
    auto* label = widget<QLabel>("Label25");
    const QColor plain = ink(label);
    auto paint = [this](const char* color) {
        std::string c = color;
        ASSERT_TRUE(onEngine([c](MainForm& f) { return f.controls().setColor("Label25", c), 0; }).has_value());
        settle();
    };
    paint("red");
    EXPECT_EQ(ink(label), QColor(0xFF, 0, 0));
    paint("navy");
    EXPECT_EQ(ink(label), QColor(0, 0, 0x80));
    paint("grey");
    EXPECT_EQ(ink(label), QColor(0x80, 0x80, 0x80));
    paint("blue");
    EXPECT_EQ(ink(label), QColor(0, 0, 0xFF));
    paint("gray");
    EXPECT_EQ(ink(label), QColor(0x80, 0x80, 0x80));
    paint("");
    EXPECT_EQ(ink(label), plain);

    // A name outside the list is refused on the engine side; what follows still
    // arrives, in order.
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    EXPECT_THROW(f.controls().setText("NoSuchControl", "x"), UnknownControl);
                    f.controls().setHint("CheckBox1", "SIM DUAL BAY <RAID> [E]");
                    f.controls().setText("Label17", "Striping(RAID0)");
                    return 0;
                }).has_value());
    settle();
    EXPECT_EQ(widget<QLabel>("Label17")->text(), QLatin1String("Striping(RAID0)"));
    // A hint reads exactly as given, markup-looking characters included. Tool tips
    // guess at markup the way Qt::mightBeRichText does, so read it the same way.
    auto shownTip = [this] {
        const QString tip = widget("CheckBox1")->toolTip();
        if (!Qt::mightBeRichText(tip)) return tip;
        QTextDocument doc;
        doc.setHtml(tip);
        return doc.toPlainText();
    };
    EXPECT_EQ(shownTip(), QLatin1String("SIM DUAL BAY <RAID> [E]"));
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.controls().setHint("CheckBox1", "<b>SIM</b> [E]"), 0; }).has_value());
    settle();
    EXPECT_EQ(shownTip(), QLatin1String("<b>SIM</b> [E]"));
}

TEST_F(BridgeTest, WholeStateResendAppliesEveryProperty) {
    startWindow(0);
    settle();
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    ControlState s;
                    s.text = "JBOD";
                    s.color = "red";
                    s.hint = "mode";
                    s.visible = false;
                    s.enabled = false;
                    f.controls().declare("Label17", s);  // no notification
                    ControlState box;
                    box.text = "Device1";
                    box.checked = true;
                    f.controls().declare("CheckBox1", box);
                    // The typed views travel with the resend too.
                    ControlState book;
                    book.page = {4, ""};
                    f.controls().declare("Notebook1", book);
                    ControlState bar;
                    bar.progress = {5, 10};
                    f.controls().declare("ProgressBar1", bar);
                    ControlState grid;
                    grid.rows = {"z@x"};
                    f.controls().declare("StringGrid2", grid);
                    ControlState bays;
                    bays.bays.controller = BayController::Hybrid;
                    bays.bays.bay[0] = bays.bays.bay[1] = BayLook::Present;
                    bays.bays.work = BayWork::Flush;
                    f.controls().declare("Image0_Bays", bays);
                    f.controls().broadcastAll();
                    return 0;
                }).has_value());
    settle();
    auto* label = widget<QLabel>("Label17");
    EXPECT_EQ(label->text(), QLatin1String("JBOD"));
    EXPECT_EQ(ink(label), QColor(0xFF, 0, 0));
    EXPECT_EQ(label->toolTip(), QLatin1String("mode"));
    EXPECT_TRUE(label->isHidden());
    EXPECT_FALSE(label->isEnabled());
    auto* box = widget<QCheckBox>("CheckBox1");
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isHidden());
    EXPECT_EQ(widget<QStackedWidget>("Notebook1")->currentIndex(), 4);
    EXPECT_EQ(widget<QProgressBar>("ProgressBar1")->value(), 5);
    EXPECT_EQ(widget<QProgressBar>("ProgressBar1")->maximum(), 10);
    EXPECT_EQ(widget<QTableWidget>("StringGrid2")->item(0, 0)->text(), QLatin1String("z@x"));
    EXPECT_EQ(baysWords(widget<BaysPicture>("Image0_Bays")->view()), "hybrid present present flush");
    // The resend carries every control: the window did not move a control the engine
    // never placed, nor hide the window.
    EXPECT_EQ(widget("Image3_OK")->pos(), QPoint(96, 284));
    EXPECT_EQ(widget("Image_About")->pos(), QPoint(16, 280));
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().windowTitle(), QLatin1String("RAID GUI v0.23.7-3"));
}

TEST_F(BridgeTest, PicturesPagesProgressAndGrids) {
    startWindow(0);
    settle();
    auto* tab = widget<ImageControl>("Image0_D2");
    auto* yellow = widget<ImageControl>("Image0_D2_Yellow");
    const qint64 own = tab->ownPicture().cacheKey();
    auto run = [this](std::function<void(Controls&)> fn) {
        ASSERT_TRUE(onEngine([fn](MainForm& f) { return fn(f.controls()), 0; }).has_value());
        settle();
    };
    run([](Controls& c) { c.setText("Image0_D2", "Image0_D2_Yellow"); });
    EXPECT_EQ(tab->shown().cacheKey(), yellow->ownPicture().cacheKey());
    run([](Controls& c) { c.setText("Image0_D2", "Image0_D2_Missing"); });
    EXPECT_EQ(tab->shown().cacheKey(), yellow->ownPicture().cacheKey()) << "an unknown picture keeps the last one";
    run([](Controls& c) { c.setText("Image0_D2", ""); });
    EXPECT_EQ(tab->shown().cacheKey(), own);

    auto* book = widget<QStackedWidget>("Notebook1");
    auto* sub = widget<QStackedWidget>("Notebook2");
    run([](Controls& c) {
        c.setPage("Notebook1", 3);
        c.setPage("Notebook2", 2, "DeviceRemove");
    });
    EXPECT_EQ(book->currentIndex(), 3);
    EXPECT_EQ(sub->currentIndex(), 2);
    run([](Controls& c) {
        c.setPage("Notebook1", 9);
        c.setPage("Notebook2", 1, "HDD_Fail");
    });
    EXPECT_EQ(book->currentIndex(), 3) << "no such page: the page stays";
    EXPECT_EQ(sub->currentIndex(), 1);

    auto* bar = widget<QProgressBar>("ProgressBar1");
    run([](Controls& c) { c.setProgress("ProgressBar1", 700, 2218); });
    EXPECT_EQ(bar->maximum(), 2218);
    EXPECT_EQ(bar->value(), 700);
    run([](Controls& c) { c.setProgress("ProgressBar1", 9000, 2218); });
    EXPECT_EQ(bar->value(), 2218) << "a bar never runs over";
    // More than Qt counts in: drawn to scale.
    run([](Controls& c) { c.setProgress("ProgressBar1", 3'000'000'000u, 4'000'000'000u); });
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_NEAR(double(bar->value()) / bar->maximum(), 0.75, 0.001);
    // Nothing to count: an empty bar, not Qt's busy animation.
    run([](Controls& c) { c.setProgress("ProgressBar1", 0, 0); });
    EXPECT_EQ(bar->maximum(), 1);
    EXPECT_EQ(bar->value(), 0);

    auto* grid = widget<QTableWidget>("StringGrid1");
    run([](Controls& c) { c.setRows("StringGrid1", {"a@x", "b@x"}); });
    EXPECT_EQ(grid->item(0, 0)->text(), QLatin1String("a@x"));
    EXPECT_EQ(grid->item(1, 0)->text(), QLatin1String("b@x"));
    EXPECT_EQ(grid->item(2, 0)->text(), QString());
    run([](Controls& c) { c.setRows("StringGrid1", {"c@x"}); });
    EXPECT_EQ(grid->item(0, 0)->text(), QLatin1String("c@x"));
    EXPECT_EQ(grid->item(1, 0)->text(), QString()) << "rows past the list are emptied";
    EXPECT_EQ(grid->rowCount(), 10);
    run([](Controls& c) { c.setRows("StringGrid1", std::vector<std::string>(12, "d@x")); });
    EXPECT_EQ(grid->item(9, 0)->text(), QLatin1String("d@x")) << "a longer list shows its head";

    // A text on these controls is not read as their view: nothing travels as words.
    run([](Controls& c) {
        c.setText("Notebook1", "0");
        c.setText("ProgressBar1", "1/2");
        c.setText("StringGrid1", "e@x\nf@x");
    });
    EXPECT_EQ(book->currentIndex(), 3);
    EXPECT_EQ(bar->maximum(), 1);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(grid->item(0, 0)->text(), QLatin1String("d@x"));
}

TEST_F(BridgeTest, NavigationSlotsComeFromTheEngineThePressedLookFromTheWindow) {
    startWindow(0);
    settle();
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.controls().setSlot("Image_About", 4), 0; }).has_value());
    settle();
    EXPECT_EQ(widget("Image_About")->pos(), QPoint(16, 336));
    // The pressed look is the window's own: 2 px down while held, back on release.
    auto* ok = widget("Image3_OK");
    const QPoint at = ok->pos();
    QTest::mousePress(ok, Qt::LeftButton);
    EXPECT_EQ(ok->pos(), at + QPoint(0, 2));
    QTest::mouseRelease(ok, Qt::LeftButton);
    EXPECT_EQ(ok->pos(), at);
    // A navigation image is no push button.
    auto* sts = widget("Image_Sts");
    const QPoint navAt = sts->pos();
    QTest::mousePress(sts, Qt::LeftButton);
    EXPECT_EQ(sts->pos(), navAt);
    QTest::mouseRelease(sts, Qt::LeftButton);
}

TEST_F(BridgeTest, TypedTextReachesTheEngineAndItsEchoDoesNotFightTheUser) {
    startWindow(0);
    settle();
    auto* edit = widget<QLineEdit>("Edit7");
    QTest::keyClicks(edit, "ops@example.com");
    settle();
    EXPECT_EQ(onEngine([](MainForm& f) { return f.controls().text("Edit7"); }), std::string("ops@example.com"));
    EXPECT_EQ(edit->text(), QLatin1String("ops@example.com"));

    // The engine's own change (clearing the field after adding the address) shows.
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.controls().setText("Edit7", ""), 0; }).has_value());
    settle();
    EXPECT_EQ(edit->text(), QString());

    auto* memo = widget<QPlainTextEdit>("Memo6");
    QTest::keyClicks(memo, "Replace it");
    settle();
    EXPECT_EQ(onEngine([](MainForm& f) { return f.controls().text("Memo6"); }), std::string("Replace it"));
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.controls().setText("Memo6", "From file"), 0; }).has_value());
    settle();
    EXPECT_EQ(memo->toPlainText(), QLatin1String("From file"));

    // Typing runs ahead of the engine: the echo of an earlier keystroke arriving late
    // must not take back what was typed since.
    auto* subject = widget<QLineEdit>("Edit10");
    QTest::keyClicks(subject, "ab");
    ControlChange stale;
    stale.control = "Edit10";
    stale.prop = Prop::Text;
    stale.state.text = "a";
    window().applyChange(stale);
    EXPECT_EQ(subject->text(), QLatin1String("ab"));
    settle();
    EXPECT_EQ(subject->text(), QLatin1String("ab"));
    EXPECT_EQ(onEngine([](MainForm& f) { return f.controls().text("Edit10"); }), std::string("ab"));
}

}  // namespace
}  // namespace raid::gui::test

// The Status page of a real (offscreen) window driven the way the engine drives it,
// change by change: every control by name, a layout in which the longest texts the
// enclosure can report neither overlap nor leave their boxes, the colours and greyed
// states of the drive labels, and the enclosure picture in each state it can be told.
#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QStackedWidget>
#include <QTest>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "gui/MainWindow.h"
#include "gui/pages/BaysPicture.h"
#include "gui/pages/FitLabel.h"
#include "monitor/StatusBays.h"

namespace raid::gui::test {
namespace {

const char* const kStatusControls[] = {
    names::Image0_D1, names::Image0_D2, names::Image0_Log, names::Label17, names::Label27, names::Label48,
    names::Label45,   names::Label25,   names::Label51,    names::Label46, names::Label26, names::Label52,
    names::Label18,   names::Label20,   names::Label21,    names::Panel11, names::Label5,  names::Label7,
    names::Image0_Bays, names::WorkTimeLeft};

// Longest texts of each kind the engine writes.
const char* const kModes[] = {"Striping(RAID0)", "Mirroring(RAID1)", "NRAID", "JBOD", "Bypass", "Undefine",
                              "CacheHDD", "Safe", "Extended", "CacheSSD", "SingleHDD", "VirtualDisk", "Undefined"};
const char* const kCentreTexts[] = {"Normal", "Single HDD\nPresent", "Failure", "100%\n<<<<\nRebuilding",
                                    "255%\n>>>>\nRebuilding", "255%\nHDD1 Scan", "255%\nHDD2 Scan",
                                    "-> flushing ->"};
// Drive models as the record holds them: 40 characters, blank-filled.
const char* const kModels[] = {"WDC WD40EFRX-68N32N0                    ", "ST4000NM0035-1V4107                     ",
                               "Samsung SSD 870 QVO 8TB                 ", "SAMSUNG MZ7LH3T8HMLT-00005 ABCDEFGHIJKLM",
                               "HGST HUS726T4TALA6L4 TOSHIBA MG08ACA16TE"};

BaysView view(BayController c, BayLook bay1, BayLook bay2, BayWork work = BayWork::Idle, int target = 0,
              int percent = 0) {
    BaysView v;
    v.controller = c;
    v.bay[0] = bay1;
    v.bay[1] = bay2;
    v.work = work;
    v.target = target;
    v.percent = percent;
    return v;
}

class StatusPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<TForm1>(ActionPoster{});
        window_->show();
        QCoreApplication::processEvents();
    }

    TForm1& window() { return *window_; }

    template <class W = QWidget>
    W* widget(const char* name) {
        W* w = window().control<W>(qname(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    void change(const char* name, Prop prop, const std::function<void(ControlState&)>& edit) {
        ControlChange c{name, prop, {}};
        edit(c.state);
        window().applyChange(c);
    }
    void text(const char* name, const std::string& t) {
        change(name, Prop::Text, [&](ControlState& s) { s.text = t; });
    }
    void color(const char* name, const std::string& c) {
        change(name, Prop::Color, [&](ControlState& s) { s.color = c; });
    }
    void enabled(const char* name, bool on) {
        change(name, Prop::Enabled, [&](ControlState& s) { s.enabled = on; });
    }
    void visible(const char* name, bool on) {
        change(name, Prop::Visible, [&](ControlState& s) { s.visible = on; });
    }
    void bays(const BaysView& v) {
        change(names::Image0_Bays, Prop::Bays, [&](ControlState& s) { s.bays = v; });
    }

    QWidget* statusPage() { return widget<QStackedWidget>(names::Notebook1)->widget(0); }

    // The window as drawn over one control's box.
    QImage drawn(QWidget* w) {
        QCoreApplication::processEvents();
        return window().grab(QRect(w->mapTo(&window(), QPoint(0, 0)), w->size())).toImage();
    }

    std::unique_ptr<TForm1> window_;
};

// Visible children of `parent` must not overlap each other and must stay inside it.
void expectApart(QWidget* parent) {
    QList<QWidget*> shown;
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisibleTo(parent)) shown << child;
    auto label = [](QWidget* w) {
        auto* l = qobject_cast<QLabel*>(w);
        return (w->objectName().isEmpty() ? QStringLiteral("<unnamed>") : w->objectName()) +
               (l ? QStringLiteral(" \"") + l->text() + QLatin1Char('"') : QString());
    };
    for (qsizetype i = 0; i < shown.size(); ++i) {
        EXPECT_TRUE(parent->rect().contains(shown[i]->geometry())) << label(shown[i]).toStdString();
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << label(shown[i]).toStdString() << " and " << label(shown[j]).toStdString();
    }
}

// Every text on `parent` (captions and the engine's labels) fits its box, measured
// with the label's own font.
void expectTextsFit(QWidget* parent, bool wholeTexts) {
    for (QLabel* l : parent->findChildren<QLabel*>()) {
        if (!l->isVisibleTo(parent)) continue;
        const QFontMetrics fm(l->font());
        const QRect box = l->contentsRect();
        QString shown = l->text();
        if (auto* fit = qobject_cast<FitLabel*>(l)) {
            shown = fit->shownLines().join(QLatin1Char('\n'));
            if (wholeTexts) {
                EXPECT_TRUE(fit->showsAll()) << l->objectName().toStdString() << " cut: " << shown.toStdString();
            }
        } else if (l->wordWrap()) {
            continue;  // fixed captions that wrap are checked by the look of the page
        }
        const QRect need = fm.boundingRect(box, int(l->alignment()), shown);
        EXPECT_LE(need.width(), box.width()) << l->objectName().toStdString() << " \"" << shown.toStdString() << '"';
        EXPECT_LE(need.height(), box.height()) << l->objectName().toStdString() << " \"" << shown.toStdString() << '"';
    }
}

TEST_F(StatusPageTest, EveryControlByNameAndTheLongestTextsNeitherOverlapNorSpill) {
    QWidget* page = statusPage();
    for (const char* name : kStatusControls) {
        QWidget* w = widget(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(page->isAncestorOf(w)) << name;
        EXPECT_EQ(w, window().findChild<QWidget*>(qname(name))) << name;
    }
    for (const char* name : {names::Image0_D1, names::Image0_D2, names::Image0_Log, names::Panel11})
        visible(name, true);
    text(names::Label45, "HDD1");
    text(names::Label46, "HDD2");
    text(names::Label5, "65535");
    text(names::Label7, "255");
    bays(view(BayController::Raid, BayLook::Present, BayLook::Present, BayWork::Rebuild, 1, 100));

    // Each mode and centre text against the biggest numbers and each model.
    for (std::size_t i = 0; i < std::size(kModes); ++i) {
        text(names::Label17, kModes[i]);
        text(names::Label18, kCentreTexts[i % std::size(kCentreTexts)]);
        text(names::Label27, i % 2 ? "524287 GB" : "37253 GB");
        text(names::Label48, i % 2 ? "101208.0.A01" : "999999.9.ZZZ");
        text(names::Label25, "524287 GB\n");
        text(names::Label26, "18626 GB\n");
        text(names::Label51, kModels[i % std::size(kModels)]);
        text(names::Label52, kModels[(i + 1) % std::size(kModels)]);
        text(names::Label20, i % 2 ? "LBA: 1099511627775" : "LBA: 4294967295");
        text(names::Label21, "LBA: 1099511627775");
        // A long time left (very slow rebuilds may be longer still; the label then cuts it).
        text(names::WorkTimeLeft, i % 2 ? "about 99 h 59 min left (1.0 %/h)" : "time left unknown");
        SCOPED_TRACE(kModes[i]);
        expectApart(page);
        expectApart(widget(names::Panel11));
        expectTextsFit(page, true);
    }
    for (const char* centre : kCentreTexts) {
        text(names::Label18, centre);
        expectTextsFit(page, true);
    }
    // The capacity's line break and the model's blanks are not drawn: the text stands
    // in the middle of its box.
    EXPECT_EQ(widget<FitLabel>(names::Label25)->shownLines(), QStringList{QStringLiteral("524287 GB")});
    EXPECT_EQ(widget<QLabel>(names::Label25)->text(), QLatin1String("524287 GB\n"));
    text(names::Label51, kModels[0]);
    EXPECT_EQ(widget<FitLabel>(names::Label51)->shownLines(),
              (QStringList{QStringLiteral("WDC WD40EFRX-"), QStringLiteral("68N32N0")}));
    EXPECT_EQ(widget<QLabel>(names::Label51)->text(), QString::fromLatin1(kModels[0]));

    // What no drive reports: wide letters without a blank, control characters, a huge
    // text. It is cut to its box, never beyond.
    text(names::Label51, std::string(60, 'W'));
    text(names::Label52, std::string(100000, 'M') + "\n\n\n\n");
    text(names::Label18, "1%\n2\n3\n4\n5\n6");
    text(names::Label17, std::string(200, '@'));
    text(names::Label20, std::string(64, '\t'));
    expectTextsFit(page, false);
    EXPECT_FALSE(widget<FitLabel>(names::Label51)->showsAll());
    EXPECT_TRUE(widget<FitLabel>(names::Label51)->shownLines().last().endsWith(QChar(0x2026)));
    // Emptied labels show nothing.
    text(names::Label51, "");
    text(names::Label52, std::string(40, ' '));
    EXPECT_TRUE(widget<FitLabel>(names::Label51)->shownLines().isEmpty());
    EXPECT_TRUE(widget<FitLabel>(names::Label52)->shownLines().isEmpty());
    EXPECT_TRUE(widget<FitLabel>(names::Label52)->showsAll());
}

bool reddish(QRgb p) { return qRed(p) > 180 && qGreen(p) < 110 && qBlue(p) < 110; }
bool greenish(QRgb p) { return qGreen(p) > 140 && qRed(p) < 110 && qBlue(p) < 130; }
bool amberish(QRgb p) { return qRed(p) > 220 && qGreen(p) > 150 && qGreen(p) < 215 && qBlue(p) < 70; }
bool bluish(QRgb p) { return qBlue(p) > 130 && qRed(p) < 90 && qGreen(p) > 80 && qGreen(p) < 150; }
bool darkInk(QRgb p) { return qGray(p) < 120; }

int count(const QImage& image, const QRect& area, bool (*is)(QRgb)) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (is(image.pixel(x, y))) ++n;
    return n;
}

TEST_F(StatusPageTest, DriveColoursGreyedLabelsAndTheFanPanel) {
    text(names::Label25, "3726 GB\n");
    text(names::Label26, "3726 GB\n");
    text(names::Label51, kModels[0]);
    text(names::Label52, kModels[1]);
    color(names::Label25, "navy");
    color(names::Label26, "red");
    enabled(names::Label52, false);  // a failed drive: red capacity, greyed model

    auto* failedCapacity = widget<QLabel>(names::Label26);
    EXPECT_TRUE(failedCapacity->isEnabled());
    EXPECT_GT(count(drawn(failedCapacity), failedCapacity->rect(), reddish), 10);
    EXPECT_EQ(count(drawn(widget(names::Label25)), widget(names::Label25)->rect(), reddish), 0);

    // Greyed: nothing of the model is drawn in the dark ink an enabled one has.
    auto* greyed = widget<QLabel>(names::Label52);
    auto* shown = widget<QLabel>(names::Label51);
    EXPECT_FALSE(greyed->isEnabled());
    EXPECT_EQ(count(drawn(greyed), greyed->rect(), darkInk), 0);
    EXPECT_GT(count(drawn(shown), shown->rect(), darkInk), 10);
    // An absent drive greys both, whatever colour the capacity had.
    enabled(names::Label26, false);
    EXPECT_EQ(count(drawn(failedCapacity), failedCapacity->rect(), reddish), 0);
    EXPECT_EQ(count(drawn(failedCapacity), failedCapacity->rect(), darkInk), 0);
    enabled(names::Label26, true);
    enabled(names::Label52, true);
    EXPECT_GT(count(drawn(greyed), greyed->rect(), darkInk), 10);

    // Fan and temperature only on a panel the engine shows.
    QWidget* panel = widget(names::Panel11);
    EXPECT_FALSE(panel->isVisible());
    visible(names::Panel11, true);
    text(names::Label5, "1800");
    color(names::Label5, "red");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(widget(names::Label5)->isVisible());
    EXPECT_GT(count(drawn(widget(names::Label5)), widget(names::Label5)->rect(), reddish), 5);
    visible(names::Panel11, false);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(widget(names::Label5)->isVisible());
    EXPECT_FALSE(widget(names::Label7)->isVisible());
}

TEST_F(StatusPageTest, PictureSourcesStayHiddenWhenTheEngineResendsEverything) {
    // A whole-state resend carries the engine's default "visible" for every control,
    // the tabs' hidden picture holders included; the tab shows the picture, the holder
    // never shows itself over it.
    for (const std::string& source : {names::whitePicture(names::Image0_D2), names::yellowPicture(names::Image0_D2),
                                      names::whitePicture(names::Image_Sts)}) {
        change(source.c_str(), Prop::All, [](ControlState& s) { s.visible = true; });
        QWidget* holder = window().control(qname(source));
        ASSERT_NE(holder, nullptr) << source;
        EXPECT_FALSE(holder->isVisible()) << source;
    }
    visible(names::Image0_D2, true);
    text(names::Image0_D2, names::whitePicture(names::Image0_D2));
    EXPECT_TRUE(widget(names::Image0_D2)->isVisible());
    visible(names::Image0_D2, false);
    EXPECT_FALSE(widget(names::Image0_D2)->isVisible());
}

struct Area {
    QRect bay1, centre, bay2;
};

Area areas() {
    const int col = BaysPicture::kColumnWidth, w = BaysPicture::kSize.width(), h = BaysPicture::kSize.height();
    return {QRect(0, 0, col, h), QRect(col, 0, w - 2 * col, h), QRect(w - col, 0, col, h)};
}

TEST_F(StatusPageTest, ThePictureDrawsEachStateItIsTold) {
    auto* picture = widget<BaysPicture>(names::Image0_Bays);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), BaysPicture::kSize);
    const Area a = areas();
    auto show = [&](const BaysView& v) {
        bays(v);
        EXPECT_EQ(picture->view(), v) << baysWords(v);
        return picture->picture().toImage().scaled(BaysPicture::kSize);
    };

    // Every controller with every pair of bay looks and each kind of work is drawn as
    // told, and red stands on a bay exactly when its drive failed.
    int views = 0;
    for (BayController c : {BayController::None, BayController::Raid, BayController::Hybrid})
        for (int l1 = 0; l1 < 5; ++l1)
            for (int l2 = 0; l2 < 5; ++l2)
                for (int work = 0; work < 6; ++work) {
                    BaysView v;
                    v.controller = c;
                    v.bay[0] = BayLook(l1);
                    v.bay[1] = BayLook(l2);
                    const BayWork works[6] = {BayWork::Idle, BayWork::Rebuild, BayWork::Rebuild,
                                              BayWork::Scan, BayWork::Scan, BayWork::Flush};
                    v.work = works[work];
                    if (work >= 1 && work <= 4) {
                        v.target = work % 2 ? 1 : 2;
                        v.percent = 37;
                    }
                    const QImage img = show(v);
                    ++views;
                    // The bays' own colours: green light for a healthy drive, red for a failed one.
                    for (int i = 0; i < 2; ++i) {
                        const QRect bay = i == 0 ? a.bay1 : a.bay2;
                        const bool failed = v.bay[i] == BayLook::Failed;
                        EXPECT_EQ(count(img, bay, reddish) > 0, failed) << baysWords(v) << " bay " << i + 1;
                    }
                }
    EXPECT_EQ(views, 3 * 5 * 5 * 6);

    using C = BayController;
    using L = BayLook;
    using W = BayWork;
    // All is well: two healthy lights and the green verdict between them.
    QImage img = show(view(C::Raid, L::Present, L::Present));
    EXPECT_GT(count(img, a.bay1, greenish), 10);
    EXPECT_GT(count(img, a.bay2, greenish), 10);
    EXPECT_GT(count(img, a.centre, greenish), 200);
    EXPECT_EQ(count(img, a.centre, reddish), 0);
    // A failed drive: red bay and a red verdict, no green one.
    img = show(view(C::Raid, L::Present, L::Failed));
    EXPECT_GT(count(img, a.bay2, reddish), 50);
    EXPECT_GT(count(img, a.centre, reddish), 200);
    EXPECT_EQ(count(img, a.centre, greenish), 0);
    // Absent and empty bays show no light.
    img = show(view(C::Raid, L::Absent, L::Empty));
    EXPECT_EQ(count(img, a.bay1, greenish), 0);
    EXPECT_EQ(count(img, a.bay2, greenish), 0);

    // A rebuild runs amber from the source bay into the target: the arrow's head (the
    // only part of it above its shaft) is on the target's side, and the target bay is
    // marked.
    auto amberHalf = [&](const QImage& i, bool leftHalf) {
        const QRect c = a.centre;
        const int top = BaysPicture::kWorkRow - 8;
        return count(i, leftHalf ? QRect(c.left(), top, c.width() / 2, 5) : QRect(c.center().x(), top, c.width() / 2, 5),
                     amberish);
    };
    const QImage toBay1 = show(view(C::Raid, L::Present, L::Present, W::Rebuild, 1, 37));
    const QImage toBay2 = show(view(C::Raid, L::Present, L::Present, W::Rebuild, 2, 37));
    EXPECT_GT(amberHalf(toBay1, true), 20) << "head on bay 1's side";
    EXPECT_EQ(amberHalf(toBay1, false), 0);
    EXPECT_GT(amberHalf(toBay2, false), 20) << "head on bay 2's side";
    EXPECT_EQ(amberHalf(toBay2, true), 0);
    EXPECT_GT(count(toBay1, a.bay1, amberish), count(toBay1, a.bay2, amberish) + 50);
    EXPECT_GT(count(toBay2, a.bay2, amberish), count(toBay2, a.bay1, amberish) + 50);
    // The percentage changes the picture (the arrow stays).
    EXPECT_TRUE(show(view(C::Raid, L::Present, L::Present, W::Rebuild, 1, 38)) != toBay1);
    // A scan shows its progress in blue on the scanned bay.
    img = show(view(C::Raid, L::Present, L::Present, W::Scan, 2, 12));
    EXPECT_GT(count(img, a.bay2, bluish), count(img, a.bay1, bluish) + 50);
    // The hybrid flush: a blue arrow between SSD and HDD.
    img = show(view(C::Hybrid, L::Present, L::Present, W::Flush));
    EXPECT_GT(count(img, a.centre, bluish), 150);
}

TEST_F(StatusPageTest, APictureOutOfRangeShowsNothingAndTheSameViewIsDrawnOnce) {
    auto* picture = widget<BaysPicture>(names::Image0_Bays);
    ASSERT_NE(picture, nullptr);
    const Area a = areas();
    const BaysView failed = view(BayController::Raid, BayLook::Present, BayLook::Failed);
    // A view with a value the picture does not know (one that came from elsewhere than
    // the Status page model) says nothing about the drives.
    const std::function<void(BaysView&)> outOfRange[] = {
        [](BaysView& v) { v.controller = static_cast<BayController>(3); },
        [](BaysView& v) { v.controller = static_cast<BayController>(-1); },
        [](BaysView& v) { v.bay[0] = static_cast<BayLook>(5); },
        [](BaysView& v) { v.bay[1] = static_cast<BayLook>(-7); },
        [](BaysView& v) { v.work = static_cast<BayWork>(4); },
        [](BaysView& v) { v.work = BayWork::Rebuild, v.target = 3; },
        [](BaysView& v) { v.work = BayWork::Scan, v.target = -1; },
        [](BaysView& v) { v.work = BayWork::Rebuild, v.target = 1, v.percent = 256; },
        [](BaysView& v) { v.work = BayWork::Scan, v.target = 2, v.percent = -1; },
    };
    for (std::size_t i = 0; i < std::size(outOfRange); ++i) {
        bays(failed);
        ASSERT_EQ(picture->view(), failed);
        BaysView bad = failed;
        outOfRange[i](bad);
        bays(bad);
        EXPECT_EQ(picture->view(), BaysView{}) << i;
        const QImage img = picture->picture().toImage().scaled(BaysPicture::kSize);
        EXPECT_EQ(count(img, img.rect(), reddish) + count(img, img.rect(), greenish), 0) << i;
    }
    bays(view(BayController::Hybrid, BayLook::Present, BayLook::Present));

    // The same view again (a poll that changed nothing, a resend of every control's
    // state) draws nothing; a new view draws once.
    const int drawnSoFar = picture->renders();
    bays(view(BayController::Hybrid, BayLook::Present, BayLook::Present));
    change(names::Image0_Bays, Prop::All,
           [](ControlState& s) { s.bays = view(BayController::Hybrid, BayLook::Present, BayLook::Present); });
    picture->repaint();
    EXPECT_EQ(picture->renders(), drawnSoFar);
    bays(view(BayController::Hybrid, BayLook::Present, BayLook::Absent));
    picture->repaint();
    EXPECT_EQ(picture->renders(), drawnSoFar + 1);
    // The window shows what the picture holds.
    const QImage onScreen = drawn(picture);
    EXPECT_EQ(count(onScreen, a.bay1, greenish) > 0, true);
    EXPECT_EQ(count(onScreen, a.bay2, greenish), 0);
}

}  // namespace
}  // namespace raid::gui::test

// The Status page through the engine: simulated enclosures polled by the real engine
// thread, drawn in a real window. And the scenarios the README's pictures come from:
// the committed files are what the builders make, and raid-gui-sim plays them into
// the states the pictures show.
#include <QImage>

#include <fstream>
#include <iterator>

#include "GuiRig.h"
#include "StatusScenarios.h"
#include "gui/pages/BaysPicture.h"
#include "gui/pages/FitLabel.h"
#include "sim/run/SimRunner.h"

namespace raid::gui::test {
namespace {

class StatusEndToEndTest : public GuiRig {
protected:
    // Detection done, then a poll at once rather than at the next tick of the clock.
    void startAndPoll(const sim::IdentityOptions& identity, const sim::StatusOptions& status) {
        startWindow(1, sim::makeIdentityPage(identity), sim::makeStatusRecord(status));
        // Found and watched (the status bar's "Detected OK" may already have given way
        // to a hybrid enclosure's status texts).
        ASSERT_TRUE(waitFor([this] {
            return onEngine([](MainForm& f) { return (f.RequestMask & kPollingArmed) != 0; }).value_or(false);
        }));
        pollNow();
    }
    void pollNow() {
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
    }
    QString shown(const char* name) { return widget<QLabel>(name)->text(); }
    BaysPicture* bays() { return widget<BaysPicture>(names::Image0_Bays); }
    bool baysAre(const char* words) { return baysWords(bays()->view()) == words; }
    QImage drawnOver(QWidget* w) {
        QCoreApplication::processEvents();
        return window().grab(QRect(w->mapTo(&window(), QPoint(0, 0)), w->size())).toImage();
    }
};

int redPixels(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            if (qRed(p) > 180 && qGreen(p) < 110 && qBlue(p) < 110) ++n;
        }
    return n;
}

TEST_F(StatusEndToEndTest, ARebuildingMirrorShowsItsProgressInTextAndPicture) {
    startAndPoll(scenarios::raidIdentity(), scenarios::raidRebuild());
    ASSERT_TRUE(waitFor([this] { return shown(names::Label18) == QLatin1String("37%\n<<<<\nRebuilding"); }));
    ASSERT_TRUE(waitFor([this] { return baysAre("raid present present rebuild 1 37"); }));
    settle();
    EXPECT_EQ(shown(names::Label17), QLatin1String("Mirroring(RAID1)"));
    EXPECT_EQ(shown(names::Label25), QLatin1String("3726 GB\n"));
    EXPECT_EQ(shown(names::Label51).size(), 40) << "the model as the record holds it";
    EXPECT_TRUE(widget(names::Image0_Log)->isVisible());
    EXPECT_TRUE(widget(names::Panel11)->isVisible());
    // The device's name heads the caption and is the hint of its box and tabs.
    const QString deviceName = QStringLiteral("SIM DUAL BAY RAID ENCLOSURE [E]");
    EXPECT_EQ(window().windowTitle(), QStringLiteral("RAID GUI v0.23.7-3 - ") + deviceName);
    for (const char* hinted : {names::CheckBox1, names::Image0_D1, names::Image2_D1})
        EXPECT_EQ(widget(hinted)->toolTip(), deviceName) << hinted;
    // What the engine wrote fits the page, drawn whole.
    for (const char* name : {names::Label17, names::Label27, names::Label48, names::Label25, names::Label26,
                             names::Label51, names::Label52, names::Label18, names::Label5, names::Label7}) {
        auto* l = widget<FitLabel>(name);
        EXPECT_TRUE(l->showsAll()) << name << ": " << l->text().toStdString();
    }

    // The next poll with the next percentage: text and picture move on, the picture
    // drawn once for it; a poll that changes nothing draws nothing.
    const int drawn = bays()->renders();
    sim::StatusOptions next = scenarios::raidRebuild();
    next.setActivity(0x01, 38);
    platform_.setStatus(1, sim::makeStatusRecord(next));
    pollNow();
    ASSERT_TRUE(waitFor([this] { return baysAre("raid present present rebuild 1 38"); }));
    EXPECT_EQ(shown(names::Label18), QLatin1String("38%\n<<<<\nRebuilding"));
    EXPECT_EQ(bays()->renders(), drawn + 1);
    pollNow();
    ASSERT_TRUE(waitFor([this] {
        return onEngine([](MainForm& f) { return (f.RequestMask & kRequestPoll) == 0; }).value_or(false);
    }));
    settle();
    EXPECT_EQ(bays()->renders(), drawn + 1);

    // Drive 2 takes its turn: the copy now runs the other way.
    next.setActivity(0x02, 5);
    platform_.setStatus(1, sim::makeStatusRecord(next));
    pollNow();
    ASSERT_TRUE(waitFor([this] { return baysAre("raid present present rebuild 2 5"); }));
    EXPECT_EQ(shown(names::Label18), QLatin1String("5%\n>>>>\nRebuilding"));
}

TEST_F(StatusEndToEndTest, AFailedDriveIsRedItsModelGreyedAndNoBoxIsShown) {
    sim::StatusOptions status = scenarios::raidRebuild();
    status.setActivity(0, 0);
    status.setDriveState(1, sim::kDriveFailed);
    startAndPoll(scenarios::raidIdentity(), status);
    ASSERT_TRUE(waitFor([this] { return baysAre("raid present failed idle"); }));
    settle();
    auto* capacity = widget<QLabel>(names::Label26);
    EXPECT_EQ(capacity->text(), QLatin1String("3726 GB\n"));
    EXPECT_TRUE(capacity->isEnabled());
    EXPECT_EQ(capacity->palette().color(QPalette::Active, QPalette::WindowText), QColor(0xFF, 0, 0));
    EXPECT_GT(redPixels(drawnOver(capacity)), 10);
    EXPECT_FALSE(widget(names::Label52)->isEnabled());
    EXPECT_TRUE(widget(names::Label25)->isEnabled());
    EXPECT_EQ(redPixels(drawnOver(widget(names::Label25))), 0);
    // The failed bay is red in the picture, the healthy one is not.
    const QImage picture = drawnOver(bays());
    const int col = BaysPicture::kColumnWidth;
    EXPECT_GT(redPixels(picture.copy(picture.width() - col, 0, col, picture.height())), 50);
    EXPECT_EQ(redPixels(picture.copy(0, 0, col, picture.height())), 0);
    EXPECT_TRUE(dialogs().shown().empty());

    // The drive is pulled: both of its labels greyed, the bay empty of light.
    status.setDriveState(1, sim::kDriveAbsent);
    platform_.setStatus(1, sim::makeStatusRecord(status));
    pollNow();
    ASSERT_TRUE(waitFor([this] { return baysAre("raid present absent idle"); }));
    settle();
    EXPECT_FALSE(capacity->isEnabled());
    EXPECT_FALSE(widget(names::Label52)->isEnabled());
    EXPECT_EQ(redPixels(drawnOver(capacity)), 0);
}

TEST_F(StatusEndToEndTest, AHybridEnclosureFlushingItsCache) {
    startAndPoll(scenarios::hybridIdentity(), scenarios::hybridFlush());
    ASSERT_TRUE(waitFor([this] { return baysAre("hybrid present present flush"); }));
    settle();
    EXPECT_EQ(shown(names::Label17), QLatin1String("CacheHDD"));
    EXPECT_EQ(shown(names::Label45), QLatin1String("SSD"));
    EXPECT_EQ(shown(names::Label46), QLatin1String("HDD"));
    EXPECT_EQ(shown(names::Label18), QLatin1String("-> flushing ->"));
    EXPECT_TRUE(shown(names::Label20).startsWith(QLatin1String("LBA: ")));
    EXPECT_FALSE(widget(names::Panel11)->isVisible());
    for (const char* name : {names::Label18, names::Label20, names::Label21, names::Label51, names::Label52})
        EXPECT_TRUE(widget<FitLabel>(name)->showsAll()) << name;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(StatusScenarios, TheCommittedFilesAreWhatTheBuildersMakeAndPlayIntoTheirStates) {
    const std::string folder = std::string(RAID_SOURCE_DIR) + "/docs/scenarios/";
    for (const scenarios::File& f : scenarios::files())
        EXPECT_EQ(fileText(folder + f.name), f.bytes) << f.name << " differs: run raid_status_scenarios docs/scenarios";

    QTemporaryDir logs;
    const std::pair<const char*, const char*> plays[] = {
        {"status-rebuild.scenario", "raid present present rebuild 1 37"},
        {"status-hybrid.scenario", "hybrid present present flush"}};
    for (const auto& [file, words] : plays) {
        sim::RunOptions options;
        options.scenarioPath = folder + file;
        options.untilSeconds = 10;  // past the first poll at 4 s
        options.logDir = options.fallbackLogDir = logs.path().toStdString();
        options.startWallSeconds = 1796601600.0;
        sim::SimRunner runner(options, nullptr);
        std::string error;
        ASSERT_TRUE(runner.load(error)) << error;
        ASSERT_TRUE(runner.start(error)) << error;
        runner.run();
        EXPECT_EQ(baysWords(runner.controls().get(names::Image0_Bays).bays), words) << file;
    }
}

}  // namespace
}  // namespace raid::gui::test

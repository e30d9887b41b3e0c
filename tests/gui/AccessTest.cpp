// The window without a mouse, and as assistive technology sees it: every control that
// reacts to a click is reached with Tab and acts on Space or Enter by the same command
// a click sends; the pages have Alt keys; the event log closes with Escape; every
// actionable control has a role and a name, and the enclosure picture's words follow
// what it draws; the artwork is drawn for the screen's density, so it stays sharp and
// in its boxes at 150 % and 200 % as at 100 %.
#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableWidget>

#include <fstream>
#include <set>

#include "GuiRig.h"
#include "StatusScenarios.h"
#include "app/AccessibleText.h"
#include "gui/HistoryWindow.h"
#include "gui/LogWindow.h"
#include "gui/pages/BaysPicture.h"
#include "sim/FirmwareImages.h"

namespace raid::gui::test {
namespace {

class AccessTest : public GuiRig {
protected:
    static QWidget* focused() { return QApplication::focusWidget(); }
    static void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* to = focused();
        ASSERT_NE(to, nullptr) << "nothing has the focus";
        QTest::keyClick(to, Qt::Key(k), mods);
    }
    // Tab until the named control has the focus (at most once round the window).
    ::testing::AssertionResult tabTo(const char* name) {
        settle();  // what the engine last changed is on screen
        std::string seen;
        for (int i = 0; i < 80; ++i) {
            if (focused()) seen += focused()->objectName().toStdString() + " ";
            if (focused() && focused()->objectName() == QLatin1String(name)) return ::testing::AssertionSuccess();
            QWidget* at = focused();
            if (!at) return ::testing::AssertionFailure() << "nothing has the focus";
            // Disabled and hidden controls take no focus.
            if (!at->isEnabled() || !at->isVisible())
                return ::testing::AssertionFailure() << at->objectName().toStdString() << " took the focus";
            QTest::keyClick(at, Qt::Key_Tab);
        }
        return ::testing::AssertionFailure() << "Tab never reaches " << name << ": " << seen;
    }
    // The engine shows the page and the window has drawn it.
    bool waitForPage(int page) {
        if (!waitFor([this, page] { return currentPage() == page; })) return false;
        settle();
        return true;
    }
};

TEST_F(AccessTest, TheWholeWindowByKeysOnly) {
    const QString path =
        QDir::temp().filePath(QStringLiteral("raid-gui-keys-%1.bin").arg(QCoreApplication::applicationPid()));
    {
        const auto bytes = sim::makeFirmwareImage();
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return !f.dev.FirstPass; }).value_or(false); }));
    dialogs().setFileHook([&](const std::string&) { return path.toStdString(); });
    std::mutex m;
    std::vector<std::string> boxes;
    dialogs().setTestHook([&](const std::string& text, const std::string& caption, int) {
        std::lock_guard<std::mutex> lock(m);
        boxes.push_back(caption + ":" + text);
        return DialogPort::Ok;
    });
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    settle();

    // The order Tab takes: the pages' pictures top to bottom, the device boxes, then
    // the page shown; the chosen picture shows where the focus is.
    auto* status = widget<ImageControl>(names::Image_Sts);
    status->setFocus(Qt::TabFocusReason);
    const QImage framed = status->grab().toImage();
    std::vector<std::string> order;
    for (int i = 0; i < 6; ++i) {
        order.push_back(focused()->objectName().toStdString());
        key(Qt::Key_Tab);
    }
    EXPECT_EQ(order, (std::vector<std::string>{names::Image_Sts, names::Image_FWUpg, names::Image_Email,
                                               names::Image_About, names::CheckBox1, names::Image0_D1}));
    EXPECT_NE(status->grab().toImage(), framed) << "no focus frame";

    // Alt+U, Load (Space) through the file dialog, Upgrade (Enter).
    key(Qt::Key_U, Qt::AltModifier);
    ASSERT_TRUE(waitForPage(2));
    EXPECT_EQ(focused(), widget(names::Image_FWUpg));
    ASSERT_TRUE(waitFor([this] { return widget(names::Image2_Load)->isEnabled(); }));
    ASSERT_TRUE(tabTo(names::Image2_Load));
    key(Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return widget<QLineEdit>(names::Edit9)->text() == path; }));
    ASSERT_TRUE(waitFor([this] { return widget(names::Image2_Upgrade)->isEnabled(); }));
    ASSERT_TRUE(tabTo(names::Image2_Upgrade));
    key(Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(m);
        return !boxes.empty();
    }));
    EXPECT_EQ(boxes[0].rfind("Firmware Upgrade Message:Firmware Upgrade 2/2completed!", 0), 0u) << boxes[0];

    // Alt+E: a recipient added with the plus sign and saved with OK.
    key(Qt::Key_E, Qt::AltModifier);
    ASSERT_TRUE(waitForPage(3));
    ASSERT_TRUE(tabTo(names::Image3_HDDFail));
    key(Qt::Key_Space);
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return f.EmailSubPage; }).value_or(-1) == 1; }));
    ASSERT_TRUE(tabTo(names::Edit7));
    QTest::keyClicks(focused(), QStringLiteral("keys@example.org"));
    ASSERT_TRUE(tabTo(names::Image3_1P));
    key(Qt::Key_Space);
    auto* grid = widget<QTableWidget>(names::StringGrid1);
    ASSERT_TRUE(waitFor([grid] { return grid->item(0, 0)->text() == QLatin1String("keys@example.org"); }));
    ASSERT_TRUE(tabTo(names::Image3_OK));
    key(Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return f.settings().loaded; }).value_or(false); }));
    EXPECT_EQ(onEngine([](MainForm& f) { return f.settings().recipients; }),
              std::vector<std::string>{"keys@example.org"});

    // Alt+A, then Alt+S: the device tab, the event log (closed with Escape) and the
    // fan panel's history chart.
    key(Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(waitForPage(4));
    key(Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(waitForPage(0));
    ASSERT_TRUE(tabTo(names::Image0_D1));
    key(Qt::Key_Space);
    settle();
    ASSERT_TRUE(tabTo(names::Image0_Log));
    key(Qt::Key_Space);
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() && session_->logWindow()->isActiveWindow(); }));
    key(Qt::Key_Escape);
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() == nullptr; }));
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return !f.logWindowOpen(); }).value_or(false); }));
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    ASSERT_TRUE(waitFor([this] { return widget(names::Panel11)->isVisible(); }));
    ASSERT_TRUE(tabTo(names::Panel11));
    key(Qt::Key_Return);
    ASSERT_TRUE(waitFor([this] { return session_->historyWindow() != nullptr; }));
    ASSERT_TRUE(waitFor([this] { return session_->historyWindow()->isActiveWindow(); }));
    key(Qt::Key_Escape);
    ASSERT_TRUE(waitFor([this] { return session_->historyWindow() == nullptr; }));
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));

    // Space on the device box stops watching, as a click does.
    ASSERT_TRUE(tabTo(names::CheckBox1));
    key(Qt::Key_Space);
    settle();
    EXPECT_EQ(checkBoxClicks(), std::vector<std::string>{"CheckBox1=off"});
    QFile::remove(path);
}

TEST_F(AccessTest, EveryActionableControlHasARoleAndANameAndThePictureSpeaks) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    settle();
    const std::pair<const char*, QAccessible::Role> expected[] = {
        {names::Image_Sts, QAccessible::PageTab},      {names::Image_FWUpg, QAccessible::PageTab},
        {names::Image_Email, QAccessible::PageTab},    {names::Image_About, QAccessible::PageTab},
        {names::Image0_D1, QAccessible::PageTab},      {names::Image2_D2, QAccessible::PageTab},
        {names::Image3_Setup, QAccessible::PageTab},   {names::Image0_Log, QAccessible::Button},
        {names::Image2_Load, QAccessible::Button},     {names::Image2_Upgrade, QAccessible::Button},
        {names::Image3_OK, QAccessible::Button},       {names::Image3_Ignore, QAccessible::Button},
        {names::Image3_1P, QAccessible::Button},       {names::Image3_2M, QAccessible::Button},
        {names::Image3_TestMail, QAccessible::Button}, {names::Panel11, QAccessible::Button},
        {names::CheckBox1, QAccessible::CheckBox},     {names::CheckBox8, QAccessible::CheckBox},
        {names::StringGrid1, QAccessible::Table},      {names::ProgressBar1, QAccessible::ProgressBar},
        {names::Edit2, QAccessible::EditableText},     {names::Image0_Bays, QAccessible::Graphic},
    };
    for (const auto& [name, role] : expected) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget(name));
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->role(), role) << name;
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << name;
    }
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(widget(names::Image_Sts));
    EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("Status"));
    EXPECT_EQ(status->text(QAccessible::Accelerator), QStringLiteral("Alt+S"));
    EXPECT_TRUE(status->state().checked) << "the page shown";
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(widget(names::Image_About))->state().checked);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(widget(names::CheckBox1))->state().checked);
    // Pressing a picture from assistive technology is a click.
    QAccessibleInterface* about = QAccessible::queryAccessibleInterface(widget(names::Image_About));
    ASSERT_TRUE(about->actionInterface());
    about->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(waitForPage(4));

    // The enclosure picture in words, from what the engine gave it to draw.
    auto* bays = widget<BaysPicture>(names::Image0_Bays);
    QAccessibleInterface* picture = QAccessible::queryAccessibleInterface(bays);
    BaysView rebuild{BayController::Raid, {BayLook::Failed, BayLook::Present}, BayWork::Rebuild, 1, 37};
    bays->setView(rebuild);
    EXPECT_EQ(picture->text(QAccessible::Name), QStringLiteral("Enclosure. Drive 1: failed. Drive 2: present."));
    EXPECT_EQ(picture->text(QAccessible::Description),
              QStringLiteral("Drive 1: failed. Drive 2: present. Rebuilding drive 1 from drive 2, 37 %."));
    bays->setView({BayController::Hybrid, {BayLook::Present, BayLook::Absent}, BayWork::Flush, 0, 0});
    EXPECT_EQ(picture->text(QAccessible::Description),
              QStringLiteral("Drive 1 (SSD): present. Drive 2 (HDD): removed. Flushing the cache from the SSD to "
                             "the HDD."));
    bays->setView({BayController::Raid, {BayLook::Present, BayLook::Present}, BayWork::Scan, 2, 255});
    EXPECT_EQ(picture->text(QAccessible::Description),
              QStringLiteral("Drive 1: present. Drive 2: present. Scanning drive 2, 255 %."));
    bays->setView({BayController::Raid, {BayLook::Present, BayLook::Present}, BayWork::Scan, 7, 0});
    EXPECT_EQ(picture->text(QAccessible::Description), QStringLiteral("Drive states unknown."));
}

TEST_F(AccessTest, ArtworkIsDrawnAtTheScreensDensity) {
    startWindow(0);
    settle();
    const qreal dpr = window().devicePixelRatioF();
    // Run at another scale by the test below: the scale must have reached the window.
    if (const char* scale = std::getenv("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(dpr, std::atof(scale));
    }
    int images = 0;
    for (ImageControl* img : window().findChildren<ImageControl*>()) {
        ++images;
        const std::string name = img->objectName().toStdString();
        EXPECT_DOUBLE_EQ(img->shown().devicePixelRatio(), dpr) << name << ": a picture scaled up";
        EXPECT_EQ(img->size(), img->shown().deviceIndependentSize().toSize()) << name;
    }
    EXPECT_GT(images, 20);
    EXPECT_DOUBLE_EQ(widget<BaysPicture>(names::Image0_Bays)->picture().devicePixelRatio(), dpr);
    const QPixmap shot = window().grab();
    EXPECT_EQ(shot.size(), (QSizeF(TForm1::kClientWidth, TForm1::kClientHeight) * dpr).toSize());
}

// The real window over AT-SPI, read by Debian's pyatspi as a screen reader reads it
// (run through scripts/atspi-test.sh: a private bus and a virtual display).
class AtSpiTest : public GuiRig {
protected:
    struct Node {
        QString role, name, description, actions, states;
    };
    // The showing objects of this process's tree; empty when the reader failed.
    std::vector<Node> readTree() {
        QProcess reader;
        reader.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(RAID_SOURCE_DIR "/tests/gui/atspi_dump.py"),
                      QString::number(QCoreApplication::applicationPid())});
        // The reader asks this process over the bus: keep its event loop turning.
        if (!waitFor([&] { return reader.state() == QProcess::NotRunning; })) reader.kill();
        std::vector<Node> nodes;
        if (reader.exitCode() != 0) {
            ADD_FAILURE() << reader.readAllStandardError().toStdString();
            return nodes;
        }
        for (const QString& line : QString::fromUtf8(reader.readAllStandardOutput()).split(QLatin1Char('\n'))) {
            const QStringList f = line.split(QLatin1Char('\t'));
            if (f.size() == 5) nodes.push_back({f[0], f[1], f[2], f[3], f[4]});
        }
        return nodes;
    }
    // The enclosure picture's name and description as read over the bus.
    std::optional<Node> enclosure() {
        for (const Node& n : readTree())
            if (n.name.startsWith(QLatin1String("Enclosure."))) return n;
        return std::nullopt;
    }
    void pollNow() {
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
    }
};

TEST_F(AtSpiTest, EveryActionableControlHasARoleAndANameAndThePictureFollowsTheDrives) {
    if (!std::getenv("RAID_ATSPI")) GTEST_SKIP() << "reads the window over AT-SPI: run scripts/atspi-test.sh";
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import pyatspi")}) != 0 ||
        !QFile::exists(QStringLiteral("/usr/libexec/at-spi-bus-launcher")))
        GTEST_SKIP() << "python3-pyatspi or at-spi2-core is not installed (scripts/deps.sh)";

    sim::StatusOptions status = scenarios::raidRebuild();
    status.setActivity(0, 0);
    startWindow(1, sim::makeIdentityPage(scenarios::raidIdentity()), sim::makeStatusRecord(status));
    ASSERT_TRUE(waitFor([this] {
        return onEngine([](MainForm& f) { return (f.RequestMask & kPollingArmed) != 0; }).value_or(false);
    }));
    pollNow();
    ASSERT_TRUE(waitFor([this] {
        return baysWords(widget<BaysPicture>(names::Image0_Bays)->view()) == "raid present present idle";
    }));

    const std::vector<Node> tree = readTree();
    ASSERT_FALSE(tree.empty());
    std::set<std::string> seen;
    for (const Node& n : tree) {
        const bool actionable = !n.actions.isEmpty() || n.role == QLatin1String("push button") ||
                                n.role == QLatin1String("page tab") || n.role == QLatin1String("check box");
        // A grid's cells are its content (an empty row reads as empty), not controls.
        if (!actionable || n.role == QLatin1String("table cell")) continue;
        EXPECT_FALSE(n.role.isEmpty() || n.role == QLatin1String("unknown")) << n.name.toStdString();
        EXPECT_FALSE(n.name.trimmed().isEmpty()) << "a " << n.role.toStdString() << " without a name";
        seen.insert((n.role + QLatin1Char(':') + n.name).toStdString());
    }
    for (const char* expected : {"page tab:Status", "page tab:Upgrade", "page tab:E-mail", "page tab:About",
                                 "page tab:Device1", "push button:Event Log", "check box:Device1",
                                 "push button:Fan and temperature history"})
        EXPECT_TRUE(seen.count(expected)) << expected;

    // The second drive is pulled, then comes back and is rebuilt from the first.
    status.setDriveState(1, sim::kDriveAbsent);
    platform_.setStatus(1, sim::makeStatusRecord(status));
    pollNow();
    ASSERT_TRUE(waitFor([this] {
        const auto n = enclosure();
        return n && n->name == QLatin1String("Enclosure. Drive 1: present. Drive 2: removed.");
    }));
    status.setDriveState(1, sim::kDrivePresent);
    status.setActivity(0x02, 12);
    platform_.setStatus(1, sim::makeStatusRecord(status));
    pollNow();
    ASSERT_TRUE(waitFor([this] {
        const auto n = enclosure();
        return n && n->description == QLatin1String(
                        "Drive 1: present. Drive 2: present. Rebuilding drive 2 from drive 1, 12 %.");
    })) << (enclosure() ? enclosure()->description.toStdString() : std::string("no enclosure picture"));
}

// A dark or high-contrast desktop: the window's light card keeps its fields light
// with dark text, so nothing on it is dark on dark or light on light.
TEST(DesktopColours, TheCardStaysReadableUnderADarkOrHighContrastPalette) {
    const QPalette before = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::Base, QColor(0x10, 0x10, 0x10));
    dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::Button, QColor(0x30, 0x30, 0x30));
    dark.setColor(QPalette::ButtonText, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::PlaceholderText, QColor(0x30, 0x30, 0x30));
    QPalette contrast(Qt::white, Qt::black);  // white on black
    for (const QPalette& desktop : {dark, contrast}) {
        QApplication::setPalette(desktop);
        TForm1 w{ActionPoster{}};
        const auto luminance = [](const QColor& c) { return c.lightnessF(); };
        for (QWidget* c : w.findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(c) && !qobject_cast<QComboBox*>(c) && !qobject_cast<QTableWidget*>(c) &&
                !qobject_cast<QPlainTextEdit*>(c))
                continue;
            const QPalette& p = c->palette();
            const std::string name = c->objectName().toStdString();
            EXPECT_GT(luminance(p.color(QPalette::Base)), 0.8) << name << ": a dark field on the white card";
            EXPECT_LT(luminance(p.color(QPalette::Text)), 0.4) << name;
            EXPECT_LT(luminance(p.color(QPalette::PlaceholderText)), 0.6) << name;
            EXPECT_LT(luminance(p.color(QPalette::ButtonText)), 0.4) << name;
        }
    }
    QApplication::setPalette(before);
}

// The layout tests again on screens of 150 % and 200 %: the same boxes, the texts
// measured with the scaled fonts, the pictures drawn at the density.
TEST(HighDensity, LayoutAndArtworkAt150And200Percent) {
    for (const char* scale : {"1.5", "2"}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=StatusPageTest.EveryControlByName*:StatusPageTest.ThePicture*:"
                                    "AccessTest.ArtworkIsDrawnAtTheScreensDensity:WindowTest.EveryCaption*")});
        ASSERT_TRUE(child.waitForFinished(kWaitMs)) << scale;
        const QString out = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << "at " << scale << ":\n" << out.toStdString();
        EXPECT_TRUE(out.contains(QLatin1String("[  PASSED  ] 4 tests"))) << out.toStdString();
    }
}

}  // namespace
}  // namespace raid::gui::test

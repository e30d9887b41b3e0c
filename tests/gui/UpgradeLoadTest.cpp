// The Load image in a real window: the engine asks the window's file dialog, and the
// chosen file's path and checksum come back to the page and the status bar; Upgrade
// then shows its progress in the page's bar.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>

#include <fstream>

#include "GuiRig.h"
#include "sim/FirmwareImages.h"

namespace raid::gui::test {
namespace {

class UpgradeLoadTest : public GuiRig {};

TEST_F(UpgradeLoadTest, TheChosenFileIsLoadedAndShown) {
    EXPECT_EQ(GuiDialogs::qtFilter("Binary code (*.bin)|*.bin|All files (*.*)|*.*"),
              QStringLiteral("Binary code (*.bin);;All files (*.*)"));
    const QString path = QDir::temp().filePath(QStringLiteral("raid-gui-load-%1.bin").arg(QCoreApplication::applicationPid()));
    {
        const auto bytes = sim::makeFirmwareImage();
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    std::string askedWith;
    dialogs().setFileHook([&](const std::string& filter) {
        askedWith = filter;
        return path.toStdString();
    });
    auto* load = widget(names::Image2_Load);
    ASSERT_TRUE(waitFor([load] { return load->isEnabled(); }));
    QTest::mouseClick(widget(names::Image_FWUpg), Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 2; }));
    QTest::mouseClick(load, Qt::LeftButton, {}, load->rect().center());
    ASSERT_TRUE(waitFor([this, path] { return widget<QLineEdit>(names::Edit9)->text() == path; }));
    EXPECT_EQ(askedWith, "Binary code (*.bin)|*.bin|All files (*.*)|*.*");
    EXPECT_TRUE(onEngine([](MainForm& f) { return f.firmwareImage().loaded(); }).value_or(false));

    // Upgrade: the window shows the progress and ends with the bar full and the panel gone.
    std::mutex m;
    std::vector<std::string> boxes;
    dialogs().setTestHook([&](const std::string& text, const std::string& caption, int) {
        std::lock_guard<std::mutex> lock(m);
        boxes.push_back(caption + ":" + text);
        return DialogPort::Ok;
    });
    auto* upgrade = widget(names::Image2_Upgrade);
    ASSERT_TRUE(upgrade->isEnabled());
    QTest::mouseClick(upgrade, Qt::LeftButton, {}, upgrade->rect().center());
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(m);
        return !boxes.empty();
    }));
    settle();
    EXPECT_EQ(boxes[0].rfind("Firmware Upgrade Message:Firmware Upgrade 2/2completed!", 0), 0u) << boxes[0];
    auto* bar = widget<QProgressBar>(names::ProgressBar1);
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(widget<QLabel>(names::UpgradePanel)->isVisible());
    EXPECT_EQ(widget<QLabel>(names::UpgradeTitle)->text(), QStringLiteral("Firmware Update..."));

    // An image that lists no sub-code has nothing to count: the bar must not keep the
    // full picture of the upgrade before.
    {
        sim::FirmwareImageOptions none;
        none.subCodes.clear();
        const auto bytes = sim::makeFirmwareImage(none);
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    QTest::mouseClick(load, Qt::LeftButton, {}, load->rect().center());
    ASSERT_TRUE(waitFor([this] {
        return onEngine([](MainForm& f) {
                   const auto record = f.firmwareImage().configRecord();
                   return record && !record->entry(0).present();
               })
            .value_or(false);
    }));
    {
        std::lock_guard<std::mutex> lock(m);
        boxes.clear();
    }
    QTest::mouseClick(upgrade, Qt::LeftButton, {}, upgrade->rect().center());
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(m);
        return !boxes.empty();
    }));
    settle();
    EXPECT_EQ(boxes[0].rfind("Firmware Upgrade Message:Firmware Upgrade 0/0completed!", 0), 0u) << boxes[0];
    EXPECT_EQ(bar->value(), bar->minimum()) << bar->value() << "/" << bar->maximum();
    QFile::remove(path);
}

}  // namespace
}  // namespace raid::gui::test

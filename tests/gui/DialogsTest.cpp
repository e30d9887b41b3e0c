// Message boxes asked for on another thread: shown on the window's thread, the asker
// blocked until the user answers, and never a hang once the window is gone.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "gui/GuiDialogs.h"

namespace raid::gui::test {
namespace {

// A box runs its own modal loop on this thread, so the test acts on it from inside
// that loop: `act` runs on the first box that is open.
void whenBoxOpens(std::function<void(QMessageBox*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(box);
    });
    timer->start();
}

bool ready(std::future<int>& f) { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }

struct Case {
    int buttons;
    QMessageBox::StandardButton press;
    int answer;
};

TEST(GuiDialogsTest, AskerWaitsForTheUsersAnswer) {
    const Case cases[] = {
        {DialogPort::OkOnly, QMessageBox::Ok, DialogPort::Ok},
        {DialogPort::OkCancel, QMessageBox::Cancel, DialogPort::Cancel},
        {DialogPort::OkCancel, QMessageBox::Ok, DialogPort::Ok},
        {DialogPort::YesNo, QMessageBox::Yes, DialogPort::Yes},
        {DialogPort::YesNo, QMessageBox::No, DialogPort::No},
    };
    GuiDialogs dialogs;
    for (const Case& c : cases) {
        std::future<int> answer;
        bool seen = false;
        whenBoxOpens([&](QMessageBox* box) {
            seen = true;
            EXPECT_EQ(box->windowTitle(), QLatin1String("Message"));
            EXPECT_EQ(box->text(), QLatin1String("Erase the flash?"));
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_FALSE(ready(answer)) << "the asker went on before the user answered";
            QAbstractButton* button = box->button(c.press);
            ASSERT_NE(button, nullptr) << c.buttons;
            button->click();
        });
        answer = std::async(std::launch::async, [&] { return dialogs.messageBox("Erase the flash?", "Message", c.buttons); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return ready(answer); }, 10000));
        EXPECT_TRUE(seen);
        EXPECT_EQ(answer.get(), c.answer) << c.buttons;
    }
}

TEST(GuiDialogsTest, EmptyCaptionShowsAsErrorAndEscapeIsTheCautiousAnswer) {
    GuiDialogs dialogs;
    whenBoxOpens([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle(), QLatin1String("Error"));
        // Closing from the title bar (or the application closing it on quit) must
        // work for every kind of box, and gives the cautious answer.
        EXPECT_TRUE(box->close());
    });
    std::future<int> answer =
        std::async(std::launch::async, [&] { return dialogs.messageBox("Invalid Drive", "", DialogPort::YesNo); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready(answer); }, 10000));
    EXPECT_EQ(answer.get(), DialogPort::No);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].caption, "Error");
}

// The icon follows the caption: errors (a firmware file that cannot be read included)
// show the error icon, the upgrade's closing words the warning icon.
TEST(GuiDialogsTest, TheCaptionChoosesTheIcon) {
    const std::pair<const char*, QMessageBox::Icon> cases[] = {
        {"Error", QMessageBox::Critical},
        {"Warning:", QMessageBox::Critical},
        {"Firmware Upgrade Message", QMessageBox::Warning},
        {"Message", QMessageBox::Information},
    };
    GuiDialogs dialogs;
    for (const auto& [caption, icon] : cases) {
        QMessageBox::Icon seen = QMessageBox::NoIcon;
        whenBoxOpens([&seen](QMessageBox* box) {
            seen = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        std::future<int> answer = std::async(std::launch::async, [&dialogs, caption = caption] {
            return dialogs.messageBox("Error read from Source file. ByteCount = 7", caption, DialogPort::OkOnly);
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return ready(answer); }, 10000));
        EXPECT_EQ(seen, icon) << caption;
    }
}

TEST(GuiDialogsTest, ShutdownReleasesAWaitingAskerAndAnswersLaterOnesAtOnce) {
    GuiDialogs dialogs;
    std::future<int> answer;
    whenBoxOpens([&](QMessageBox* box) {
        // The window goes away with the box still open: the asker must be let go
        // without anyone answering (blocking here proves it needs nothing from us).
        dialogs.shutdown();
        EXPECT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        box->close();
    });
    answer = std::async(std::launch::async,
                        [&] { return dialogs.messageBox("Mail is Sending...", "Message", DialogPort::OkCancel); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready(answer); }, 10000));
    EXPECT_EQ(answer.get(), DialogPort::Ok);

    // After shutdown nothing is shown; the asker is not held at all.
    std::future<int> late =
        std::async(std::launch::async, [&] { return dialogs.messageBox("late", "Message", DialogPort::YesNo); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready(late); }, 10000));
    EXPECT_EQ(late.get(), DialogPort::Ok);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(GuiDialogsTest, TestHookAnswersAndRecords) {
    GuiDialogs dialogs;
    int calls = 0;
    dialogs.setTestHook([&](const std::string& text, const std::string& caption, int buttons) {
        ++calls;
        EXPECT_EQ(text, "q");
        EXPECT_EQ(caption, "Error");
        EXPECT_EQ(buttons, DialogPort::YesNo);
        return static_cast<int>(DialogPort::No);
    });
    std::thread asker([&] { EXPECT_EQ(dialogs.messageBox("q", "", DialogPort::YesNo), DialogPort::No); });
    asker.join();
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "q");
    EXPECT_EQ(dialogs.shown()[0].caption, "Error");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace raid::gui::test

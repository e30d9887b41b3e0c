// Message boxes and the open-file dialog, real ones: the engine's question is asked on
// another thread, shown on the window's thread (this one, pumping), and answered by a
// user on a third thread who finds the box by its caption, reads it and presses a button.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "WinWindowRig.h"
#include "WindowRig.h"
#include "app/ControlNames.h"
#include "sim/FirmwareImages.h"
#include "gui-win32/Dialogs.h"
#include "gui-win32/UiThread.h"
#include "gui-win32/WinApp.h"

namespace raid::win::test {
namespace {

struct DialogsTest : ::testing::Test {
    void SetUp() override {
        owner = makeOwner();
        dialogs.setOwner(owner);
    }
    void TearDown() override {
        dialogs.shutdown();
        DestroyWindow(owner);
    }
    UiThread ui;
    WinDialogs dialogs{ui};
    HWND owner = nullptr;
};

struct Case {
    const char* caption;
    const char* shownAs;
    int buttons;
    int press;
    int answer;
    LPCWSTR icon;
};

// One box after another: each caption as given ("Error" for none) with its icon, the
// text as sent (non-ASCII included), the owner held while it is open, the asker held
// until the user answers and given the button pressed.
TEST_F(DialogsTest, EachBoxWaitsForItsAnswerOnTheAskersThread) {
    const Case cases[] = {
        {"Message", "Message", DialogPort::OkOnly, IDOK, DialogPort::Ok, IDI_INFORMATION},
        {"", "Error", DialogPort::OkOnly, IDOK, DialogPort::Ok, IDI_ERROR},
        {"Warning:", "Warning:", DialogPort::OkOnly, IDOK, DialogPort::Ok, IDI_ERROR},
        {"Firmware Upgrade Message", "Firmware Upgrade Message", DialogPort::OkCancel, IDCANCEL, DialogPort::Cancel,
         IDI_WARNING},
        {"E-Mail Message", "E-Mail Message", DialogPort::OkCancel, IDOK, DialogPort::Ok, IDI_INFORMATION},
        {"Message", "Message", DialogPort::YesNo, IDYES, DialogPort::Yes, IDI_QUESTION},
        {"System Information", "System Information", DialogPort::YesNo, IDNO, DialogPort::No, IDI_QUESTION},
    };
    const std::string text = "Gerät D1 – «HDD2» was removed,\nLaufwerk 2";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shownAs);
        std::future<int> answer;
        bool found = false, held = false, iconOk = false, pressed = false;
        std::string said;
        std::thread user([&] {
            HWND box = waitForDialog(c.shownAs);
            if (!(found = box != nullptr)) return;
            held = !IsWindowEnabled(owner) && !ready(answer);
            said = boxText(box);
            HWND icon = GetDlgItem(box, 0x0440);  // the box's icon (ico1)
            iconOk = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)) == LoadIconW(nullptr, c.icon);
            pressed = press(box, c.press);
        });
        answer = std::async(std::launch::async, [&] { return dialogs.messageBox(text, c.caption, c.buttons); });
        EXPECT_TRUE(pumpUntil([&] { return ready(answer); }, kWaitMs));
        user.join();
        ASSERT_TRUE(found);
        ASSERT_TRUE(ready(answer));
        EXPECT_TRUE(held) << "the asker went on, or the owner took input, before the answer";
        EXPECT_EQ(said, text);
        EXPECT_TRUE(iconOk);
        EXPECT_TRUE(pressed);
        EXPECT_EQ(answer.get(), c.answer);
        EXPECT_TRUE(IsWindowEnabled(owner));
    }
    const std::vector<WinDialogs::Shown> shown = dialogs.shown();
    ASSERT_EQ(shown.size(), std::size(cases));
    EXPECT_EQ(shown[1].caption, "Error");
    EXPECT_EQ(shown[1].text, text);

    // Asked on the window's thread itself: shown there at once, no deadlock.
    std::thread user([] {
        if (HWND box = waitForDialog("Message")) press(box, IDNO);
    });
    EXPECT_EQ(dialogs.messageBox("Asked by the window", "Message", DialogPort::YesNo), DialogPort::No);
    user.join();
}

// Engine threads asking at once: the boxes come one at a time, and each asker gets
// the answer given to its own question.
TEST_F(DialogsTest, ManyAskersAtOnceEachGetTheirOwnAnswer) {
    constexpr int kAskers = 6;
    std::vector<std::future<int>> answers;
    std::atomic<int> mostOpen{0}, pressed{0};
    std::thread user([&] {
        std::set<std::string> seen;
        while (pressed < kAskers) {
            std::vector<HWND> open;
            if (!waitOn([&] { return !(open = dialogsCaptioned("Message")).empty(); })) return;
            mostOpen = std::max<int>(mostOpen, static_cast<int>(open.size()));
            const std::string text = boxText(open.front());
            if (text.rfind("Question ", 0) != 0 || !seen.insert(text).second) continue;  // still closing
            const int n = std::atoi(text.c_str() + 9);
            if (press(open.front(), n % 2 ? IDNO : IDYES)) ++pressed;
        }
    });
    for (int i = 0; i < kAskers; ++i)
        answers.push_back(std::async(std::launch::async, [this, i] {
            return dialogs.messageBox("Question " + std::to_string(i), "Message", DialogPort::YesNo);
        }));
    EXPECT_TRUE(pumpUntil(
        [&] {
            for (auto& a : answers)
                if (!ready(a)) return false;
            return true;
        },
        kWaitMs));
    user.join();
    for (int i = 0; i < kAskers; ++i) {
        ASSERT_TRUE(ready(answers[static_cast<std::size_t>(i)]));
        EXPECT_EQ(answers[static_cast<std::size_t>(i)].get(), i % 2 ? DialogPort::No : DialogPort::Yes) << i;
    }
    EXPECT_EQ(mostOpen, 1) << "boxes piled up on each other";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

// The window going away releases an engine thread held in a box, without anyone
// answering it; later questions are answered Ok at once, with no box. A question the
// window's thread drops unanswered (closing with it still queued) lets its asker go too.
TEST_F(DialogsTest, ShutdownAndAClosingWindowThreadReleaseTheAskers) {
    std::future<int> answer;
    bool released = false;
    std::thread user([&] {
        HWND box = waitForDialog("Message");
        if (!box) return;
        dialogs.shutdown();  // from another thread than the window's, as the engine's end may
        released = waitOn([&] { return ready(answer); });
        press(box, IDCANCEL);
    });
    answer = std::async(std::launch::async,
                        [&] { return dialogs.messageBox("Mail is Sending...", "Message", DialogPort::OkCancel); });
    EXPECT_TRUE(pumpUntil([&] { return ready(answer); }, kWaitMs));
    user.join();
    EXPECT_TRUE(released) << "the asker stays held after shutdown until the box is answered";
    ASSERT_TRUE(ready(answer));
    EXPECT_EQ(answer.get(), DialogPort::Ok);
    std::future<int> late =
        std::async(std::launch::async, [&] { return dialogs.messageBox("late", "Message", DialogPort::YesNo); });
    ASSERT_EQ(late.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_EQ(late.get(), DialogPort::Ok);
    std::string path = "unchanged";
    EXPECT_FALSE(dialogs.chooseFile("All|*.*", path));
    EXPECT_TRUE(dialogsCaptioned("Message").empty());
    EXPECT_EQ(dialogs.shown().back().text, "late");

    // The window's thread closes with the question still in its queue.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    auto ui2 = std::make_unique<UiThread>();
    WinDialogs second(*ui2);
    std::future<int> dropped = std::async(std::launch::async, [&] {
        return second.messageBox("Never shown", "Message", DialogPort::OkCancel);
    });
    // The question is queued once a message of the application range waits here.
    const bool queued = waitOn([] {
        MSG m;
        return PeekMessageW(&m, nullptr, WM_APP, 0xBFFF, PM_NOREMOVE) != 0;
    });
    ui2->close();
    EXPECT_TRUE(queued);
    ASSERT_EQ(dropped.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready)
        << "the asker waits for a question nobody will show";
    EXPECT_EQ(dropped.get(), DialogPort::Ok);
    // And once it is closed, a question is not even queued.
    std::future<int> after = std::async(std::launch::async, [&] {
        return second.messageBox("After", "Message", DialogPort::OkCancel);
    });
    ASSERT_EQ(after.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_EQ(after.get(), DialogPort::Ok);
}

// The real open-file dialog, asked for by an engine thread: the path typed into it
// comes back as UTF-8, non-ASCII letters intact; Cancel chooses nothing.
TEST_F(DialogsTest, TheOpenFileDialogReturnsTheChosenPath) {
    const std::string filter = "Binary code (*.bin)|*.bin|All files (*.*)|*.*";
    const auto list = [](const auto& literal) { return std::wstring(literal, std::size(literal) - 1); };
    EXPECT_EQ(WinDialogs::nativeFilter(filter), list(L"Binary code (*.bin)\0*.bin\0All files (*.*)\0*.*\0\0"));
    // A stray bar and a name without pattern do not end the list early.
    EXPECT_EQ(WinDialogs::nativeFilter("Logs|*.log|All|"), list(L"Logs\0*.log\0All\0*.*\0\0"));
    EXPECT_EQ(WinDialogs::nativeFilter(""), L"");

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (L"raid-gui-dlg-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / L"Prüfung ß 固件 ĳ.bin";
    std::ofstream(file, std::ios::binary) << "image";
    const std::string expected = narrow(file.wstring());

    std::string chosen;
    std::future<bool> asked;
    bool held = false, typed = false;
    std::thread user([&] {
        HWND dialog = waitForDialog("Open");
        if (!dialog) return;
        held = !IsWindowEnabled(owner);
        typed = chooseInDialog(dialog, file.wstring());
    });
    asked = std::async(std::launch::async, [&] { return dialogs.chooseFile(filter, chosen); });
    EXPECT_TRUE(pumpUntil([&] { return ready(asked); }, kWaitMs));
    user.join();
    EXPECT_TRUE(held);
    EXPECT_TRUE(typed);
    ASSERT_TRUE(ready(asked));
    EXPECT_TRUE(asked.get());
    EXPECT_EQ(chosen, expected);

    // Cancel, asked on the window's thread itself.
    std::thread canceller([] {
        if (HWND dialog = waitForDialog("Open")) press(dialog, IDCANCEL);
    });
    std::string none;
    EXPECT_FALSE(dialogs.chooseFile(filter, none));
    canceller.join();
    EXPECT_EQ(none, "");
    EXPECT_TRUE(IsWindowEnabled(owner));
    std::filesystem::remove_all(folder);
}

// A firmware upgrade in the window, through the real open-file dialog, on the
// simulated enclosure: the user opens the Upgrade page, picks the device, presses
// Load and chooses the image in the dialog; the window shows its path; Upgrade writes
// the flash, the window's own bar counts up to its maximum and the closing box comes.
class UpgradeInTheWindow : public WinWindowRig {};

TEST_F(UpgradeInTheWindow, TheChosenImageIsWrittenWithTheBarReachingItsMaximum) {
    start("");
    ASSERT_TRUE(waitForDetection());
    // A name no ANSI code page holds whole: the dialog hands it over as UTF-8 and the
    // file store must open that very file.
    const std::filesystem::path image = logs_ / L"Firmware 7 (Kopie) \u00e4\u20ac\u65e5.bin";
    {
        const std::vector<std::uint8_t> bytes = sim::makeFirmwareImage();
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    click(names::Image_FWUpg);
    click(names::Image2_D1);
    ASSERT_TRUE(waitFor([&] { return IsWindowEnabled(control(names::Image2_Load)) != FALSE; }));

    bool typed = false;
    std::thread user([&] {
        if (HWND dialog = waitForDialog("Open")) typed = chooseInDialog(dialog, image.wstring());
    });
    click(names::Image2_Load);
    const std::string path = narrow(image.wstring());
    const bool shown = waitFor([&] { return text(names::Edit9) == path; });
    user.join();
    EXPECT_TRUE(typed);
    ASSERT_TRUE(shown) << text(names::Edit9);
    ASSERT_TRUE(IsWindowEnabled(control(names::Image2_Upgrade)));

    // The boxes are answered by the session's test hook and noted by the rig.
    click(names::Image2_Upgrade);
    HWND bar = control(names::ProgressBar1);
    const auto closed = [&] {
        for (const std::string& b : boxes_.boxes())
            if (b.rfind("Firmware Upgrade Message: Firmware Upgrade 2/2completed!", 0) == 0) return true;
        return false;
    };
    int position = 0, maximum = 0;
    const bool full = waitFor([&] {
        position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
        maximum = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
        return closed() && maximum > 0 && position == maximum;
    });
    EXPECT_TRUE(full) << position << "/" << maximum;
    EXPECT_TRUE(IsWindowVisible(bar));
    EXPECT_GT(maximum, 0);
    ASSERT_FALSE(boxes_.boxes().empty());
    EXPECT_TRUE(closed()) << boxes_.boxes().back();
    stop();
}

}  // namespace
}  // namespace raid::win::test

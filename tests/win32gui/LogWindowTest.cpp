// The event log window on a running engine (the simulated enclosure, real time): it
// opens from the engine's log image, shows the day's lines and follows new ones, pauses
// with polling, shows a chosen file, refuses a device or a pipe without freezing, and
// closes on Escape giving the main window back.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "WindowRig.h"

namespace raid::win::test {
namespace {

std::string textOf(HWND log) { return narrow(windowText(findControl(log, "LogText"))); }

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The colour the read-only text is drawn in, as the window tells its control.
COLORREF textColour(HWND log) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(log, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(findControl(log, "LogText")));
    const COLORREF c = GetTextColor(dc);
    DeleteDC(dc);
    return c;
}

// A user who answers the first box captioned `caption`, noting its text and whether the
// window `probe` still answered messages while the box was awaited.
struct BoxUser {
    std::string said;
    bool found = false, probeAnswered = true;
    std::thread thread;
    BoxUser(const std::string& caption, HWND probe) {
        thread = std::thread([this, caption, probe] {
            HWND box = nullptr;
            found = waitOn([&] {
                DWORD_PTR r = 0;
                if (probe && !SendMessageTimeoutW(probe, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &r))
                    probeAnswered = false;
                box = waitForDialog(caption, 0);
                return box != nullptr;
            });
            if (!found) return;
            said = boxText(box);
            press(box, IDOK);
        });
    }
    void join() { thread.join(); }
};

TEST(LogWindowTest, FollowsTheDayLogShowsFilesAndClosesOnEscape) {
    EngineRig rig;
    rig.start();
    ASSERT_TRUE(rig.waitForPolling());
    ASSERT_TRUE(rig.onEngine([](MainForm& f) { return f.eventLog().addLine("first line: Gerät ü – 固件"), 0; }));
    rig.click("Image0_Log");
    ASSERT_TRUE(rig.pump([&] { return rig.log() && rig.log()->hwnd() && IsWindowVisible(rig.log()->hwnd()); }));
    HWND log = rig.log()->hwnd();
    EXPECT_EQ(controlName(findControl(log, "LogText")), "LogText");
    ASSERT_NE(findControl(log, "RealTimeLog"), nullptr);
    ASSERT_NE(findControl(log, "ViewLogFile"), nullptr);
    EXPECT_FALSE(IsWindowEnabled(rig.owner())) << "the log window is modal to the main window";

    // The day's lines (the start-up header and information block before ours), live.
    ASSERT_TRUE(rig.pump([&] { return endsWith(textOf(log), "\r\nfirst line: Gerät ü – 固件"); }));
    EXPECT_EQ(narrow(windowText(log)), LogWindow::kLiveCaption);
    EXPECT_EQ(textColour(log), GetSysColor(COLOR_WINDOWTEXT));
    // A second click on the log image opens no second window.
    rig.click("Image0_Log");
    ASSERT_TRUE(rig.onEngine([](MainForm&) { return 0; }));
    EXPECT_EQ(rig.log()->hwnd(), log);

    // New lines follow, once each; a NUL in a line does not cut the text there.
    ASSERT_TRUE(rig.onEngine([](MainForm& f) {
        f.eventLog().addLine(std::string("odd \0\x01\x1b[2J bytes", 16));
        return f.eventLog().addLine("second line"), 0;
    }));
    ASSERT_TRUE(rig.pump([&] { return endsWith(textOf(log), "固件\r\nodd \xEF\xBF\xBD\x01\x1b[2J bytes\r\nsecond line"); }));
    // Paused while polling is not armed: grey, caption says so, the lines wait.
    ASSERT_TRUE(rig.onEngine([](MainForm& f) { return f.RequestMask &= static_cast<std::uint8_t>(~kPollingArmed); }));
    ASSERT_TRUE(rig.pump([&] { return narrow(windowText(log)) == LogWindow::kPausedCaption; }));
    EXPECT_EQ(textColour(log), RGB(0x80, 0x80, 0x80));
    ASSERT_TRUE(rig.onEngine([](MainForm& f) { return f.RequestMask |= kPollingArmed; }));
    ASSERT_TRUE(rig.pump([&] { return narrow(windowText(log)) == LogWindow::kLiveCaption; }));
    const std::string live = textOf(log);
    EXPECT_EQ(std::count(live.begin(), live.end(), '\n'), std::count(live.begin(), live.end(), '\r'));
    EXPECT_EQ(live.find("second line"), live.rfind("second line")) << "lines were appended twice";

    // Resized, the text fills the window; the text is fixed-pitch and never wrapped.
    HWND text = findControl(log, "LogText");
    RECT before{}, after{};
    GetWindowRect(text, &before);
    RECT w{};
    GetWindowRect(log, &w);
    SetWindowPos(log, nullptr, 0, 0, w.right - w.left + 200, w.bottom - w.top + 100, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(text, &after);
    EXPECT_EQ(after.right - after.left, before.right - before.left + 200);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top + 100);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfPitchAndFamily & 3, FIXED_PITCH);
    EXPECT_TRUE(GetWindowLongPtrW(text, GWL_STYLE) & ES_AUTOHSCROLL);

    // Tab and Shift+Tab move between the text and the buttons.
    SetFocus(text);
    SendMessageW(text, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), findControl(log, "RealTimeLog"));
    SendMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), findControl(log, "ViewLogFile"));
    SendMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(GetFocus(), text);

    // "View Log File" through the real dialog: an older day's file replaces the text.
    const std::filesystem::path older = rig.logs() / L"261207.log";
    std::ofstream(older, std::ios::binary) << "old one\r\nold two ß\r\n";
    bool typed = false;
    std::thread user([&] {
        if (HWND dialog = waitForDialog("Open")) typed = chooseInDialog(dialog, older.wstring());
    });
    SendMessageW(findControl(log, "ViewLogFile"), BM_CLICK, 0, 0);
    user.join();
    EXPECT_TRUE(typed);
    ASSERT_TRUE(rig.pump([&] { return narrow(windowText(log)) == "Event log - 261207.log"; }));
    ASSERT_TRUE(rig.pump([&] { return textOf(log) == "old one\r\nold two ß"; }));
    ASSERT_TRUE(rig.onEngine([](MainForm& f) { return f.eventLog().addLine("third line"), 0; }));

    // A device and a pipe nobody writes to: the engine refuses them at once, a box on
    // the log window says why, the window keeps answering and keeps what it showed.
    const std::wstring pipeName = L"\\\\.\\pipe\\raid-gui-log-" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    for (const std::wstring& special : {std::wstring(L"\\\\.\\NUL"), pipeName}) {
        const std::string path = narrow(special);
        SCOPED_TRACE(path);
        BoxUser box("Event Log", log);
        rig.log()->viewFile(path);
        EXPECT_TRUE(rig.pump([&] { return box.found || !box.thread.joinable(); }));
        box.join();
        EXPECT_TRUE(box.found);
        EXPECT_TRUE(box.probeAnswered) << "the window's thread froze";
        EXPECT_EQ(box.said.rfind("Log file " + path + " ", 0), 0u) << box.said;
        EXPECT_EQ(textOf(log), "old one\r\nold two ß");
        EXPECT_EQ(narrow(windowText(log)), "Event log - 261207.log");
        // The box belonged to the log window: the main window is still held.
        EXPECT_FALSE(IsWindowEnabled(rig.owner()));
        EXPECT_TRUE(IsWindowEnabled(log));
    }
    CloseHandle(pipe);

    // Back to the day log, which grew meanwhile.
    SendMessageW(findControl(log, "RealTimeLog"), BM_CLICK, 0, 0);
    ASSERT_TRUE(rig.pump([&] { return endsWith(textOf(log), "second line\r\nthird line"); }));
    EXPECT_EQ(narrow(windowText(log)), LogWindow::kLiveCaption);

    // Escape on the text closes the window; the main window takes input again and
    // the engine knows the window is gone (its image opens a new one).
    SetFocus(text);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(rig.pump([&] { return rig.log()->hwnd() == nullptr; }));
    EXPECT_FALSE(IsWindow(log));
    EXPECT_TRUE(IsWindowEnabled(rig.owner()));
    EXPECT_EQ(rig.closings(), 1);
    EXPECT_TRUE(rig.pump([&] { return !rig.onEngine([](MainForm& f) { return f.logWindow().open(); }).value_or(true); }));
    rig.click("Image0_Log");
    ASSERT_TRUE(rig.pump([&] { return rig.log() && rig.log()->hwnd() && rig.log()->hwnd() != log; }));
    rig.closeLog();  // the owner closes it: its window goes, the main window is enabled
    EXPECT_TRUE(IsWindowEnabled(rig.owner()));
}

// A day of 100 000 lines: the window takes them in chunks and answers messages
// throughout; every line arrives, in order.
TEST(LogWindowTest, AHugeDayLogDoesNotFreezeTheWindow) {
    EngineRig rig;
    rig.start();
    ASSERT_TRUE(rig.waitForPolling());
    constexpr int kLines = 100000;
    ASSERT_TRUE(rig.onEngine([](MainForm& f) {
        for (int i = 0; i < kLines; ++i)
            f.eventLog().addLine("D1 HDD2 line " + std::to_string(i) + " ........................................");
        return 0;
    }));
    rig.click("Image0_Log");
    ASSERT_TRUE(rig.pump([&] { return rig.log() && rig.log()->hwnd(); }));
    HWND log = rig.log()->hwnd();
    HWND text = findControl(log, "LogText");
    const std::string last = "D1 HDD2 line " + std::to_string(kLines - 1) + " ........................................";
    // A user on another thread keeps poking the window. How long the window keeps one
    // waiting is measured against how long the lines take to come in at all, so the
    // check holds on a machine of any speed or load: taking everything in one go is one
    // wait as long as the whole.
    std::atomic<bool> done{false}, finished{false};
    std::atomic<int> probes{0};
    std::atomic<long long> longest{0};
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::thread prober([&] {
        while (!done) {
            DWORD_PTR r = 0;
            const Clock::time_point t0 = Clock::now();
            SendMessageTimeoutW(log, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &r);
            const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
            if (ms > longest) longest = ms;
            ++probes;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        finished = true;
    });
    const bool all = rig.pump([&] {
        return SendMessageW(text, EM_GETLINECOUNT, 0, 0) >= kLines && endsWith(textOf(log), last);
    });
    const long long total = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    done = true;
    // The window keeps answering until the user's last poke is in: a poke sent just as
    // the lines were all in would otherwise wait for a window no longer pumped.
    EXPECT_TRUE(rig.pump([&] { return finished.load(); }));
    prober.join();
    EXPECT_TRUE(all);
    EXPECT_GT(probes, 1);
    EXPECT_LT(longest * 4, total) << "the window kept a user waiting " << longest << " ms of the " << total
                                  << " ms the lines took";
    const std::string shown = textOf(log);
    EXPECT_NE(shown.find("line 0 ...."), std::string::npos);
    EXPECT_LT(shown.find("line 49999 "), shown.find("line 50000 "));
}

}  // namespace
}  // namespace raid::win::test

// The native history chart window on a running engine (the simulated enclosure, real
// time): opened by a click on the fan and temperature panel, fed by a source standing
// in for the store, switched by its range buttons and keys, drawn with GDI+ at 150 %,
// and left usable by a source that never answers.
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <functional>

#include <gtest/gtest.h>

#include "WinWindowRig.h"
#include "gui-win32/HistoryWindow.h"
#include "sim/run/SyntheticHistory.h"

namespace raid::win::test {
namespace {

struct HistoryWindowTest : WinWindowRig {
    std::function<void(std::function<void()>)> engine() {
        return [this](std::function<void()> fn) { host_->post([fn = std::move(fn)](MainForm&) { fn(); }); };
    }
    bool showing(const std::string& message) {
        HistoryWindow* w = session_->historyWindow();
        return w && IsWindowVisible(w->hwnd()) && w->chart().message == message;
    }
    bool checked(HistoryRange range) {
        return SendMessageW(session_->historyWindow()->rangeButton(range), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
};

// Pixels matching `wanted` (red, green, blue) in the chart drawn into a bitmap of
// `size` at `scale`.
int pixelsOf(const HistoryChart& chart, SIZE size, double scale, const std::function<bool(int, int, int)>& wanted) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size.cx;
    bi.bmiHeader.biHeight = -size.cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    HistoryWindow::draw(dc, RECT{0, 0, size.cx, size.cy}, scale, chart);
    GdiFlush();
    int n = 0;
    const auto* px = static_cast<const std::uint32_t*>(bits);
    for (long i = 0; i < size.cx * size.cy; ++i)
        n += wanted(static_cast<int>((px[i] >> 16) & 0xFF), static_cast<int>((px[i] >> 8) & 0xFF),
                    static_cast<int>(px[i] & 0xFF));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return n;
}

TEST_F(HistoryWindowTest, PanelClickShowsTheChartRangesKeysAndASilentSource) {
    sim::FakeHistorySource source(engine(), sim::fanFailureHistory(static_cast<double>(std::time(nullptr))));
    sim::FakeHistorySource silent(engine(), HistorySeries{}, true);
    configureForm = [&source](MainForm& f) { f.historyWindow().setSource(&source); };
    start("");
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(waitFor([this] { return shown("Panel11"); }));

    // A click on the panel's "Fan" caption reaches the panel.
    SendMessageW(control("Panel11"), WM_LBUTTONUP, 0, MAKELPARAM(20, 16));
    ASSERT_TRUE(waitFor([&] { return showing("") && !session_->historyWindow()->chart().fan.lines.empty(); }));
    HistoryWindow* w = session_->historyWindow();
    EXPECT_EQ(textOf(w->hwnd()), "History - SIM DUAL BAY RAID ENCLOSURE 0000000001 - last 24 hours");
    EXPECT_TRUE(checked(HistoryRange::Day));
    EXPECT_TRUE(IsWindowEnabled(session_->window())) << "the chart is not modal";

    SendMessageW(w->rangeButton(HistoryRange::Week), BM_CLICK, 0, 0);
    ASSERT_TRUE(waitFor([&] { return showing("") && w->chart().range == HistoryRange::Week; }));
    EXPECT_TRUE(checked(HistoryRange::Week));
    EXPECT_FALSE(checked(HistoryRange::Day));
    EXPECT_EQ(w->chart().fan.alarms.size(), 1u);
    EXPECT_TRUE(w->chart().fan.threshold.shown);
    // Drawn at 100 % and 150 %: the alarm shading, the fan's line, the threshold.
    for (double scale : {1.0, 1.5}) {
        const SIZE size{static_cast<LONG>(840 * scale), static_cast<LONG>(520 * scale)};
        const auto close = [](int r, int g, int b, int R, int G, int B) {
            return std::abs(r - R) < 12 && std::abs(g - G) < 12 && std::abs(b - B) < 12;
        };
        EXPECT_GT(pixelsOf(w->chart(), size, scale, [&](int r, int g, int b) { return close(r, g, b, 0xC0, 0x20, 0x20); }), 50)
            << scale;
        EXPECT_GT(pixelsOf(w->chart(), size, scale, [&](int r, int g, int b) { return close(r, g, b, 0x2E, 0x6D, 0xA4); }), 50)
            << scale;
        EXPECT_GT(pixelsOf(w->chart(), size, scale,
                           [](int r, int g, int b) { return r > 240 && g > 200 && g < 235 && b > 200 && b < 235; }),
                  500)
            << scale;
    }
    // Resizable, never below its least size.
    SetWindowPos(w->hwnd(), nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER);
    RECT r{};
    GetWindowRect(w->hwnd(), &r);
    EXPECT_GE(r.right - r.left, 480);

    // Tab to the next range button, Space presses it; Escape closes.
    SetFocus(w->rangeButton(HistoryRange::Week));
    SendMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    ASSERT_EQ(GetFocus(), w->rangeButton(HistoryRange::Quarter));
    SendMessageW(GetFocus(), WM_KEYDOWN, VK_SPACE, 0);
    ASSERT_TRUE(waitFor([&] { return showing("") && w->chart().range == HistoryRange::Quarter; }));
    SendMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(waitFor([&] { return session_->historyWindow() == nullptr; }));
    ASSERT_TRUE(waitFor([&] { return !onEngine([](MainForm& f) { return f.historyWindow().open(); }).value_or(true); }));

    // A source that never answers: "Loading...", and the main window goes on.
    ASSERT_TRUE(onEngine([&silent](MainForm& f) { return f.historyWindow().setSource(&silent), 0; }));
    SendMessageW(control("Panel11"), WM_LBUTTONUP, 0, MAKELPARAM(200, 16));
    ASSERT_TRUE(waitFor([&] { return showing("Loading..."); }));
    click("Image_About");
    ASSERT_TRUE(waitFor([&] { return currentPage() == 4; }));
    SendMessageW(session_->historyWindow()->rangeButton(HistoryRange::Day), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(waitFor([&] { return session_->historyWindow() == nullptr; }));
    ASSERT_TRUE(waitFor([&] { return !onEngine([](MainForm& f) { return f.historyWindow().open(); }).value_or(true); }));
    silent.release();
    settle();
    settle();
    EXPECT_EQ(session_->historyWindow(), nullptr) << "a late answer opened the window again";
}

}  // namespace
}  // namespace raid::win::test

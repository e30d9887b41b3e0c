#include "gui-win32/HistoryWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "gui-win32/ArtworkPaint.h"
#include "gui-win32/Text.h"
#include "gui-win32/WindowBasics.h"

namespace raid::win {

namespace {

// Design sizes at 96 DPI, as the Qt window's.
constexpr int kWidth = 860, kHeight = 580, kMinWidth = 480, kMinHeight = 380;
constexpr int kMargin = 8, kButtonWidth = 90, kButtonHeight = 26;

const art::Color kGrid{0xE3, 0xE8, 0xEF};
const art::Color kAlarmFill{0x30, 0xE0, 0x30, 0x30};
const art::Color kThreshold{0xC0, 0x20, 0x20};
const art::Color kTemperatureInk{0xD0, 0x5A, 0x1E};

using art::PointF;
using art::RectF;

void plot(Gdiplus::Graphics& g, const ChartPlot& p, const RectF& area, const art::Color& ink,
          const std::vector<ChartTick>& timeTicks) {
    const auto x = [&](double f) { return area.X + static_cast<float>(f) * area.Width; };
    const auto y = [&](double f) { return area.Y + area.Height - static_cast<float>(f) * area.Height; };
    art::text(g, widen(p.title), RectF(area.X, area.Y - 24, area.Width, 20), 13, true, art::kInk, art::Align::Left);
    Gdiplus::SolidBrush alarm(kAlarmFill);
    for (const ChartSpan& s : p.alarms)
        g.FillRectangle(&alarm, RectF(x(s.from), area.Y, std::max(1.0f, x(s.to) - x(s.from)), area.Height));
    Gdiplus::Pen grid(kGrid, 1);
    for (const ChartTick& t : timeTicks) g.DrawLine(&grid, PointF(x(t.at), area.Y), PointF(x(t.at), area.Y + area.Height));
    for (const ChartTick& t : p.valueTicks) {
        g.DrawLine(&grid, PointF(area.X, y(t.at)), PointF(area.X + area.Width, y(t.at)));
        art::text(g, widen(t.label), RectF(0, y(t.at) - 8, area.X - 6, 16), 11, false, art::kInk, art::Align::Right);
    }
    Gdiplus::Pen border(art::kBorder, 1);
    g.DrawRectangle(&border, area);
    if (!p.empty.empty()) {
        art::text(g, widen(p.empty), area, 13, false, art::kInk);
        return;
    }
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    Gdiplus::Pen line(ink, 1.6f);
    Gdiplus::SolidBrush dot(ink);
    std::vector<PointF> points;
    for (const auto& run : p.lines) {
        if (run.size() == 1) {
            g.FillRectangle(&dot, RectF(x(run[0].x) - 1, y(run[0].y) - 1, 2, 2));
            continue;
        }
        points.clear();
        for (const ChartPoint& pt : run) points.emplace_back(x(pt.x), y(pt.y));
        g.DrawLines(&line, points.data(), static_cast<INT>(points.size()));
    }
    g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
    if (p.threshold.shown) {
        const float ty = y(p.threshold.y);
        Gdiplus::Pen dashed(kThreshold, 1);
        dashed.SetDashStyle(Gdiplus::DashStyleDash);
        g.DrawLine(&dashed, PointF(area.X, ty), PointF(area.X + area.Width, ty));
        // Above the line, or below it when the line is at the top.
        const float top = ty - 18 < area.Y ? ty + 2 : ty - 18;
        const RectF box(area.X + area.Width - 164, top, 160, 16);
        Gdiplus::SolidBrush veil(art::withAlpha(art::kWhite, 210));
        g.FillRectangle(&veil, box);
        art::text(g, widen(p.threshold.label), box, 11, true, kThreshold, art::Align::Right);
    }
}

}  // namespace

void HistoryWindow::draw(HDC dc, const RECT& rect, double scale, const HistoryChart& chart) {
    if (!art::drawing()) {
        // No GDI+: the words at least.
        FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        RECT r = rect;
        const std::wstring said = widen(chart.message.empty() ? chart.caption : chart.message);
        DrawTextW(dc, said.c_str(), static_cast<int>(said.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        return;
    }
    art::Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    layer.fillOpaque(art::kWhite);
    Gdiplus::Graphics& g = layer.g();
    const float w = layer.width(), h = layer.height();
    if (!chart.message.empty()) {
        art::text(g, widen(chart.message), RectF(20, 20, std::max(0.0f, w - 40), std::max(0.0f, h - 40)), 15, false,
                  art::kInk);
    } else {
        // Two plots one above the other, sharing the time axis labelled under the lower.
        const float left = 84, right = 16, top = 34, gap = 40, bottom = 30;
        const float ph = std::max(40.0f, (h - top - gap - bottom) / 2), pw = std::max(40.0f, w - left - right);
        const RectF upper(left, top, pw, ph), lower(left, top + ph + gap, pw, ph);
        plot(g, chart.temperature, upper, kTemperatureInk, chart.timeTicks);
        plot(g, chart.fan, lower, art::kBlue, chart.timeTicks);
        Gdiplus::Pen tick(art::kInk, 1);
        for (const ChartTick& t : chart.timeTicks) {
            const float tx = lower.X + static_cast<float>(t.at) * lower.Width;
            g.DrawLine(&tick, PointF(tx, lower.Y + lower.Height), PointF(tx, lower.Y + lower.Height + 4));
            art::text(g, widen(t.label), RectF(tx - 50, lower.Y + lower.Height + 6, 100, 16), 11, false, art::kInk);
        }
    }
    layer.finish();
}

HistoryWindow::HistoryWindow(HWND owner, ActionPoster post) : owner_(owner), post_(std::move(post)) {
    registerPlainClass(HistoryWindow::kClassName);
    chart_ = historyChartMessage("", HistoryRange::Day, kHistoryLoading);
    const double scale = windowDpi(owner_) / 96.0;
    const int w = px(kWidth, scale), h = px(kHeight, scale);
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    RECT o{};
    if (owner_ && GetWindowRect(owner_, &o)) {
        x = std::max(0L, o.left + ((o.right - o.left) - w) / 2);
        y = std::max(0L, o.top + ((o.bottom - o.top) - h) / 2);
    }
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, widen(chart_.caption).c_str(),
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, w, h, owner_, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return;
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HistoryWindow::proc));
    for (HistoryRange range : {HistoryRange::Day, HistoryRange::Week, HistoryRange::Quarter}) {
        const int i = static_cast<int>(range);
        // Push buttons that stay down for the range shown; check boxes underneath, not
        // radio buttons, so that Tab visits each of them as a dialog would.
        HWND b = CreateWindowExW(0, L"BUTTON", widen(historyRangeName(range)).c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHLIKE | BS_CHECKBOX, 0, 0, 0, 0, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstRangeId + i)),
                                 GetModuleHandleW(nullptr), nullptr);
        SetWindowSubclass(b, &HistoryWindow::keys, 0, reinterpret_cast<DWORD_PTR>(this));
        buttons_[static_cast<std::size_t>(i)] = b;
    }
    applyDpi(windowDpi(hwnd_));
    setChart(chart_);
    ShowWindow(hwnd_, SW_SHOW);
    SetFocus(buttons_[0]);
}

HistoryWindow::~HistoryWindow() {
    destroying_ = true;
    if (hwnd_) DestroyWindow(hwnd_);
    if (font_) DeleteObject(font_);
}

void HistoryWindow::setChart(const HistoryChart& chart) {
    chart_ = chart;
    if (!hwnd_) return;
    SetWindowTextW(hwnd_, widen(chart_.caption).c_str());
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        SendMessageW(buttons_[i], BM_SETCHECK, i == static_cast<std::size_t>(chart_.range) ? BST_CHECKED : BST_UNCHECKED, 0);
    const RECT r = chartRect();
    InvalidateRect(hwnd_, &r, FALSE);
}

void HistoryWindow::applyDpi(UINT dpi) {
    scale_ = dpi / 96.0;
    HFONT old = font_;
    font_ = CreateFontW(-px(12, scale_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Arial");
    for (HWND b : buttons_) SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    if (old) DeleteObject(old);
    layout();
}

void HistoryWindow::layout() {
    if (!hwnd_) return;
    const int m = px(kMargin, scale_), bw = px(kButtonWidth, scale_), bh = px(kButtonHeight, scale_);
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        MoveWindow(buttons_[i], m + static_cast<int>(i) * (bw + m), m, bw, bh, TRUE);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

RECT HistoryWindow::chartRect() const {
    RECT rc{};
    if (hwnd_) GetClientRect(hwnd_, &rc);
    const int m = px(kMargin, scale_);
    rc.left += m;
    rc.right = std::max(rc.left, rc.right - m);
    rc.top += 2 * m + px(kButtonHeight, scale_);
    rc.bottom = std::max(rc.top, rc.bottom - m);
    return rc;
}

void HistoryWindow::choose(HistoryRange range) {
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        SendMessageW(buttons_[i], BM_SETCHECK, i == static_cast<std::size_t>(range) ? BST_CHECKED : BST_UNCHECKED, 0);
    // The engine answers with "Loading..." and then the chart.
    if (post_) post_([range](EngineCommands& f) { f.HistoryRangeClick(range); });
}

LRESULT CALLBACK HistoryWindow::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<HistoryWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->handle(msg, wp, lp);
}

LRESULT HistoryWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    HWND hwnd = hwnd_;
    switch (msg) {
        case WM_SIZE: layout(); return 0;
        case WM_GETMINMAXINFO: {
            auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
            mm->ptMinTrackSize = {px(kMinWidth, scale_), px(kMinHeight, scale_)};
            return 0;
        }
        case 0x02E0: {  // WM_DPICHANGED: moved to a monitor of another scale
            const auto* r = reinterpret_cast<const RECT*>(lp);
            scale_ = HIWORD(wp) / 96.0;
            SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            applyDpi(HIWORD(wp));
            return 0;
        }
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT client{};
            GetClientRect(hwnd, &client);
            const RECT area = chartRect();
            // The ground around the chart, then the chart.
            HRGN around = CreateRectRgnIndirect(&client);
            HRGN inner = CreateRectRgnIndirect(&area);
            CombineRgn(around, around, inner, RGN_DIFF);
            FillRgn(dc, around, GetSysColorBrush(COLOR_BTNFACE));
            DeleteObject(around);
            DeleteObject(inner);
            draw(dc, area, scale_, chart_);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDCANCEL) {
                PostMessageW(hwnd, WM_CLOSE, 0, 0);
                return 0;
            }
            if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) >= kFirstRangeId && LOWORD(wp) < kFirstRangeId + 3) {
                choose(static_cast<HistoryRange>(LOWORD(wp) - kFirstRangeId));
                return 0;
            }
            break;
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) {
                PostMessageW(hwnd, WM_CLOSE, 0, 0);
                return 0;
            }
            break;
        case WM_CLOSE: DestroyWindow(hwnd); return 0;
        case WM_NCDESTROY: {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            const LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
            closed();  // may delete this object: nothing of it is touched after
            return r;
        }
        default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Keys on the range buttons: the main window's message loop is not a dialog's, so the
// keys a dialog box would take are taken here.
LRESULT CALLBACK HistoryWindow::keys(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<HistoryWindow*>(data);
    switch (msg) {
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) {
                PostMessageW(self->hwnd_, WM_CLOSE, 0, 0);
                return 0;
            }
            if (wp == VK_TAB) {
                if (HWND next = GetNextDlgTabItem(self->hwnd_, hwnd, GetKeyState(VK_SHIFT) < 0)) SetFocus(next);
                return 0;
            }
            if (wp == VK_RETURN || wp == VK_SPACE) {
                SendMessageW(hwnd, BM_CLICK, 0, 0);
                return 0;
            }
            break;
        case WM_KEYUP:
            if (wp == VK_SPACE) return 0;  // pressed on the way down
            break;
        case WM_CHAR:
            if (wp == VK_ESCAPE || wp == VK_TAB || wp == VK_RETURN || wp == L' ') return 0;
            break;
        case WM_NCDESTROY: RemoveWindowSubclass(hwnd, &HistoryWindow::keys, id); break;
        default: break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void HistoryWindow::closed() {
    hwnd_ = nullptr;
    buttons_ = {};
    if (post_) post_([](EngineCommands& f) { f.HistoryWindowClosed(); });
    if (destroying_) return;
    const std::function<void()> done = onClosed;
    if (done) done();
}

}  // namespace raid::win

// The main window: how its own controls are drawn (image buttons, labels, page
// containers and the enclosure picture).
#include "gui-win32/MainWindow.h"

#include <algorithm>
#include <cmath>

#include <commctrl.h>

#include "app/ControlNames.h"
#include "gui-win32/Text.h"
#include "gui-win32/WindowParts.h"
#include "gui-win32/pages/PageBuilder.h"

namespace raid::win {

using namespace detail;

void MainWindow::drawImage(Entry& e, const DRAWITEMSTRUCT& d) {
    const RECT r = d.rcItem;
    const bool enabled = !(d.itemState & ODS_DISABLED);
    const bool pressed = (d.itemState & ODS_SELECTED) != 0;
    const bool highlighted = e.highlighted();
    const COLORREF back = backOf(e.hwnd);
    buffered(d.hDC, r, [&](HDC dc) {
        fill(dc, r, back);
        switch (e.image) {
        case ImageKind::Nav:
            Artwork::navButton(dc, r, scale_, e.caption, e.glyph, highlighted, enabled);
            break;
        case ImageKind::Tab:
            Artwork::tab(dc, r, scale_, e.caption, highlighted, enabled);
            break;
        case ImageKind::Push: {
            // The pressed look of the Qt window: the same face 2 px down while the button
            // is held (the artwork's own pressed face would move it a third pixel).
            RECT face = r;
            if (pressed) OffsetRect(&face, 0, static_cast<int>(std::lround(2 * scale_)));
            Artwork::pushButton(dc, face, scale_, e.caption, e.primary, false, enabled);
            break;
        }
        case ImageKind::Sign:
            Artwork::signButton(dc, r, scale_, e.primary, pressed, enabled);
            break;
        }
        if (d.itemState & ODS_FOCUS) {
            RECT f = r;
            InflateRect(&f, -2, -2);
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkColor(dc, RGB(255, 255, 255));
            DrawFocusRect(dc, &f);
        }
    });
}

void MainWindow::drawLabel(Entry& e, const DRAWITEMSTRUCT& d) {
    RECT r = d.rcItem;
    const COLORREF back = backOf(e.hwnd);
    COLORREF ink = e.ink;
    namedColour(e.color, ink);
    // Greyed means "not there": a disabled label (an absent drive) reads lighter than
    // any colour the engine gives an enabled one.
    if (!IsWindowEnabled(e.hwnd)) ink = kGreyed;
    const std::wstring text = shownText(windowText(e.hwnd), e.format);
    buffered(d.hDC, r, [&](HDC dc) {
        fill(dc, r, back);
        if (e.framed) {
            HBRUSH frame = CreateSolidBrush(kRuleColour);
            FrameRect(dc, &r, frame);
            DeleteObject(frame);
        }
        HGDIOBJ old = SelectObject(dc, e.fitted ? e.fitted : Artwork::font(e.fontPx, e.bold, scale_));
        SetTextColor(dc, ink);
        SetBkMode(dc, TRANSPARENT);
        RECT t = r;
        if (!(e.format & DT_SINGLELINE) && (e.format & DT_CENTER)) {
            // A wrapping label is centred on its height too, as one line is.
            RECT m{0, 0, r.right - r.left, 0};
            DrawTextW(dc, text.c_str(), -1, &m, e.format | DT_CALCRECT);
            t.top += std::max(0L, ((r.bottom - r.top) - m.bottom) / 2);
        }
        DrawTextW(dc, text.c_str(), -1, &t, e.format | kCut);
        SelectObject(dc, old);
    });
}

LRESULT MainWindow::containerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        // The window handles what its controls send, whichever container holds them.
        if (HWND root = GetAncestor(hwnd, GA_ROOT); root && root != hwnd) return SendMessageW(root, msg, wp, lp);
        break;
    case WM_LBUTTONUP:
    case WM_SETCURSOR:
    case BM_CLICK:
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        // The fan and temperature panel opens the history chart: a click anywhere on
        // it, its captions included (static text without SS_NOTIFY passes clicks on),
        // or Space or Enter while it has the focus (MainWindow::translateKey).
        MainWindow* w = windowOf(hwnd);
        Entry* e = w ? w->entryOf(hwnd) : nullptr;
        if (!e || e->name != names::Panel11) break;
        if (msg == WM_SETCURSOR) {
            SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
            return TRUE;
        }
        if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) {
            InvalidateRect(hwnd, nullptr, FALSE);  // the focus frame
            return 0;
        }
        if (msg == WM_LBUTTONUP) return SendMessageW(hwnd, BM_CLICK, 0, 0);
        if (IsWindowEnabled(hwnd) && IsWindowVisible(hwnd)) w->post([](EngineCommands& f) { f.Click(names::Panel11); });
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        MainWindow* w = windowOf(hwnd);
        Entry* e = w ? w->entryOf(hwnd) : nullptr;
        RECT client;
        GetClientRect(hwnd, &client);
        buffered(dc, client, [&](HDC mem) {
            fill(mem, client, e ? e->back : kWhite);
            if (!e) return;
            const double s = w->scale_;
            const auto at = [s](LONG v) { return static_cast<LONG>(std::lround(v * s)); };
            for (const RECT& r : e->rules) {
                RECT line{at(r.left), at(r.top), at(r.right), std::max(at(r.bottom), at(r.top) + 1)};
                fill(mem, line, kRuleColour);
            }
            if (e->framed) {
                HBRUSH frame = CreateSolidBrush(kRuleColour);
                FrameRect(mem, &client, frame);
                DeleteObject(frame);
            }
            if (e->drawsEnclosure) Artwork::enclosure(mem, client, s);
            if (GetFocus() == hwnd) {
                RECT f = client;
                InflateRect(&f, -2, -2);
                SetTextColor(mem, RGB(0, 0, 0));
                SetBkColor(mem, RGB(255, 255, 255));
                DrawFocusRect(mem, &f);
            }
        });
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT MainWindow::baysProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_ERASEBKGND) return 1;
    if (msg != WM_PAINT) return DefWindowProcW(hwnd, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    MainWindow* w = windowOf(hwnd);
    Entry* e = w ? w->entryOf(hwnd) : nullptr;
    RECT client;
    GetClientRect(hwnd, &client);
    buffered(dc, client, [&](HDC mem) {
        fill(mem, client, kWhite);
        if (!e) return;
        Artwork::bays(mem, client, w->scale_, e->bays);
        ++e->paints;
    });
    EndPaint(hwnd, &ps);
    return 0;
}

}  // namespace raid::win
